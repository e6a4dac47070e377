// Narrow text in the ANSI code page, converted through UTF-16 with
// MultiByteToWideChar and WideCharToMultiByte.
#include "platform/NarrowText.h"

#include "platform/windows/Wide.h"

namespace platform {

std::string narrowFromUtf8(std::string_view utf8) {
    return win::fromUtf16(CP_ACP, win::toUtf16(CP_UTF8, utf8));
}

std::string utf8FromNarrow(std::string_view narrow) {
    return win::fromUtf16(CP_UTF8, win::toUtf16(CP_ACP, narrow));
}

} // namespace platform
