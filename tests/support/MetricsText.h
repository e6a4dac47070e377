// Reading the Prometheus text format in tests: the value of one series.
#pragma once

#include <string>

// The value of the series `name` (with its labels as written) in the text,
// or "" when it is missing.
inline std::string metricSeries(const std::string& text, const std::string& name) {
    const size_t at = ("\n" + text).find("\n" + name + " ");
    if (at == std::string::npos)
        return {};
    const size_t from = at + name.size() + 1;
    return text.substr(from, text.find('\n', from) - from);
}
