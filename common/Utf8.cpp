#include "common/Utf8.h"

#include <cstdint>

namespace utf8 {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one character at text[pos]. On success returns true, sets cp and
// advances pos; on an invalid sequence returns false and advances pos past
// the longest invalid prefix (at least one byte), as WHATWG decoders do.
bool decodeOne(std::string_view text, size_t& pos, char32_t& cp) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    uint8_t b0 = byte(pos);
    if (b0 < 0x80) {
        cp = b0;
        ++pos;
        return true;
    }
    int need;
    uint8_t lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0F;
        if (b0 == 0xE0)
            lo = 0xA0;
        if (b0 == 0xED)
            hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07;
        if (b0 == 0xF0)
            lo = 0x90;
        if (b0 == 0xF4)
            hi = 0x8F;
    } else {
        ++pos;
        return false;
    }
    size_t i = pos + 1;
    for (int k = 0; k < need; ++k, ++i) {
        if (i >= text.size()) {
            pos = i;
            return false;
        }
        uint8_t b = byte(i);
        if (b < lo || b > hi) {
            pos = i;
            return false;
        }
        lo = 0x80;
        hi = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
    }
    pos = i;
    return true;
}

void append(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = kReplacement;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::string sanitize(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t start = pos;
        char32_t cp;
        if (decodeOne(bytes, pos, cp))
            out.append(bytes.substr(start, pos - start));
        else
            append(out, kReplacement);
    }
    return out;
}

// A 16-bit wchar_t holds UTF-16 (Windows): a character above U+FFFF is a
// high surrogate followed by a low one. A 32-bit wchar_t holds the code point.
constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;

std::string fromWide(std::wstring_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        char32_t cp = static_cast<char32_t>(wide[i]);
        if (kWideIsUtf16 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size()) {
            const char32_t low = static_cast<char32_t>(wide[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        // A surrogate left alone becomes U+FFFD.
        append(out, cp);
    }
    return out;
}

std::wstring toWide(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    size_t pos = 0;
    while (pos < bytes.size()) {
        char32_t cp;
        if (!decodeOne(bytes, pos, cp))
            cp = kReplacement;
        if (kWideIsUtf16 && cp >= 0x10000) {
            out += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<wchar_t>(cp);
        }
    }
    return out;
}

std::string_view cutAtCharBoundary(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    size_t end = maxBytes;
    // Step back over continuation bytes so that the cut falls before the
    // lead byte of the character it would split.
    while (end > 0 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

} // namespace utf8
