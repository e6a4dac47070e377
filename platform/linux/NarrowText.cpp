// Narrow text is UTF-8 on Linux: both ways only replace invalid sequences.
#include "platform/NarrowText.h"

#include "common/Utf8.h"

namespace platform {

std::string narrowFromUtf8(std::string_view utf8) {
    return utf8::sanitize(utf8);
}

std::string utf8FromNarrow(std::string_view narrow) {
    return utf8::sanitize(narrow);
}

} // namespace platform
