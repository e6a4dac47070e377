// What both platforms' internet handles share.
#include "platform/Internet.h"

namespace platform {

namespace {

thread_local int32_t lastError = 0;

} // namespace

int32_t internetLastError() {
    return lastError;
}

void setInternetLastError(int32_t code) {
    lastError = code;
}

std::string percentEncodedTarget(std::string_view target) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : target) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f) {
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace platform
