// Narrow text as the desktop keeps it. On Windows every narrow string of the
// program is in the system's ANSI code page (936, GBK, on the target
// systems): the configuration file, typed texts, request bodies (sent as they
// are) and every text shown with the A functions. On Linux narrow text is
// UTF-8. The conversion between the two lives here, one function each way;
// wide text (UTF-16 on Windows) goes through UTF-8 (common/Utf8.h).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// UTF-8 text (a service reply, a wide text made UTF-8) in the narrow
// encoding. Windows: MultiByteToWideChar(CP_UTF8) then WideCharToMultiByte
// (CP_ACP): an invalid UTF-8 sequence becomes U+FFFD first, and a character
// the code page lacks becomes its default character ("?"). Linux: the text
// with every invalid sequence replaced by U+FFFD.
std::string narrowFromUtf8(std::string_view utf8);

// Narrow text in UTF-8. Windows: MultiByteToWideChar(CP_ACP) then
// WideCharToMultiByte(CP_UTF8). Linux: the text with every invalid sequence
// replaced by U+FFFD.
std::string utf8FromNarrow(std::string_view narrow);

} // namespace platform
