#include "PageCommandLine.h"

#include <charconv>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view skipBlanks(std::string_view text) {
    size_t at = 0;
    while (at < text.size() && isBlank(text[at]))
        ++at;
    return text.substr(at);
}

// The next word and the text after it.
std::string_view takeWord(std::string_view& text) {
    text = skipBlanks(text);
    size_t end = 0;
    while (end < text.size() && !isBlank(text[end]))
        ++end;
    const std::string_view word = text.substr(0, end);
    text.remove_prefix(end);
    return word;
}

bool parseCoordinate(std::string_view word, int& value) {
    int parsed = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), parsed);
    if (error != std::errc() || end != word.data() + word.size() || parsed < -32768 ||
        parsed > 32767)
        return false;
    value = parsed;
    return true;
}

// One quoted argument by the system's rules: 2n backslashes before a
// quotation mark stand for n backslashes and the mark ends the quoting;
// 2n+1 stand for n backslashes and a quotation mark; other backslashes are
// themselves. Text after the closing mark is taken as it is.
std::string unquoted(std::string_view quoted) {
    std::string text;
    bool inside = true;
    for (size_t at = 1; at < quoted.size(); ++at) {
        const char c = quoted[at];
        if (c == '\\') {
            size_t backslashes = 0;
            while (at < quoted.size() && quoted[at] == '\\') {
                ++backslashes;
                ++at;
            }
            if (at < quoted.size() && quoted[at] == '"' && inside) {
                text.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    text += '"';
                    continue;
                }
                inside = false;
                continue;
            }
            text.append(backslashes, '\\');
            --at;
        } else if (c == '"' && inside) {
            inside = false;
        } else {
            text += c;
        }
    }
    return text;
}

} // namespace

std::string_view afterProgramName(std::string_view commandLine) {
    std::string_view rest = skipBlanks(commandLine);
    if (!rest.empty() && rest.front() == '"') {
        const size_t close = rest.find('"', 1);
        rest.remove_prefix(close == std::string_view::npos ? rest.size() : close + 1);
    } else {
        takeWord(rest);
    }
    return skipBlanks(rest);
}

bool parsePageCommandLine(std::string_view tail, PagePlacement& page) {
    PagePlacement read;
    const struct {
        std::string_view name;
        int* value;
    } numbers[] = {{"/left", &read.left},
                   {"/top", &read.top},
                   {"/bottom", &read.bottom},
                   {"/right", &read.right}};
    std::string_view rest = tail;
    for (const auto& number : numbers) {
        if (takeWord(rest) != number.name || !parseCoordinate(takeWord(rest), *number.value))
            return false;
    }
    if (takeWord(rest) != "/url")
        return false;
    rest = skipBlanks(rest);
    // The line's end (a line feed or blanks a caller left) is no part of it.
    while (!rest.empty() && (isBlank(rest.back()) || rest.back() == '\r' || rest.back() == '\n'))
        rest.remove_suffix(1);
    if (rest.empty() || read.width() <= 0 || read.height() <= 0)
        return false;
    read.url = rest.front() == '"' ? unquoted(rest) : std::string(rest);
    if (read.url.empty())
        return false;
    page = read;
    return true;
}
