// The service's texts as it sends them: UTF-8 bytes, whatever encoding the
// build gives plain string literals (the Windows build keeps those in the
// ANSI code page, GBK, as the program keeps its narrow texts). A suite writes
// a reply as u8"..." and hands serviceText(u8"...") to its fake service.
#pragma once

#include <string>
#include <string_view>

inline std::string serviceText(std::u8string_view utf8) {
    return std::string(utf8.begin(), utf8.end());
}
