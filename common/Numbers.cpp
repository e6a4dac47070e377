#include "common/Numbers.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <string>

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

} // namespace

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
