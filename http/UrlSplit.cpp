#include "http/UrlSplit.h"

#include <cstdlib>
#include <limits>

namespace {

template <typename Char> bool isBlank(Char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

template <typename Char> bool isDigit(Char c) {
    return c >= '0' && c <= '9';
}

template <typename Char> size_t skipBlanks(std::basic_string_view<Char> text) {
    size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    return i;
}

template <typename Char> int32_t decimalInt(std::basic_string_view<Char> text) {
    size_t i = skipBlanks(text);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    constexpr int64_t limit = int64_t(std::numeric_limits<int32_t>::max()) + 1;
    int64_t value = 0;
    for (; i < text.size() && isDigit(text[i]); ++i)
        value = std::min(limit, value * 10 + (text[i] - '0'));
    if (negative)
        return static_cast<int32_t>(-value);
    return static_cast<int32_t>(std::min(value, limit - 1));
}

template <typename Char> BasicUrlParts<Char> split(std::basic_string_view<Char> url) {
    static constexpr Char scheme[] = {'h', 't', 't', 'p', ':', '/', '/'};
    const std::basic_string_view<Char> schemeText(scheme, 7);
    BasicUrlParts<Char> parts;
    std::basic_string_view<Char> rest = url;
    if (size_t at = rest.find(schemeText); at != rest.npos)
        rest.remove_prefix(at + schemeText.size());
    std::basic_string_view<Char> host = rest;
    if (size_t slash = rest.find(Char('/')); slash != rest.npos) {
        host = rest.substr(0, slash);
        parts.path = rest.substr(slash);
    }
    if (size_t colon = host.find(Char(':')); colon != host.npos) {
        parts.port = static_cast<uint16_t>(decimalInt(host.substr(colon + 1)));
        host = host.substr(0, colon);
    }
    parts.host = host;
    return parts;
}

} // namespace

UrlParts splitUrl(std::string_view url) {
    return split(url);
}

UrlPartsW splitUrl(std::wstring_view url) {
    return split(url);
}

int32_t parseDecimalInt(std::string_view text) {
    return decimalInt(text);
}

int32_t parseDecimalInt(std::wstring_view text) {
    return decimalInt(text);
}

double parseDecimalDouble(std::string_view text) {
    size_t i = skipBlanks(text);
    size_t first = i;
    if (first < text.size() && (text[first] == '+' || text[first] == '-'))
        ++first;
    bool startsNumber = first < text.size() &&
                        (isDigit(text[first]) || (text[first] == '.' && first + 1 < text.size() &&
                                                  isDigit(text[first + 1])));
    // A leading 0x would make strtod read hexadecimal; only its 0 counts.
    if (!startsNumber)
        return 0.0;
    if (first + 1 < text.size() && text[first] == '0' && (text[first + 1] | 0x20) == 'x')
        return 0.0;
    std::string copy(text.substr(i));
    return std::strtod(copy.c_str(), nullptr);
}
