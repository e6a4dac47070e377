// Cutting an http URL into host, port and path.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

template <typename Char> struct BasicUrlParts {
    std::basic_string<Char> host;
    int32_t port = 80; // as read: the caller refuses one outside 0...65535
    std::basic_string<Char> path;
};
using UrlParts = BasicUrlParts<char>;
using UrlPartsW = BasicUrlParts<wchar_t>;

// Drops everything up to and including the first "http://" (case-sensitive);
// the host runs to the first "/", which starts the path (query included; no
// "/" means an empty path); a ":" in the host starts the port, read as
// parseDecimalInt reads it (never cut to 16 bits, so that no port wraps round
// to another). Nothing else is parsed.
UrlParts splitUrl(std::string_view url);
UrlPartsW splitUrl(std::wstring_view url);
