// What both platforms' file services share.
#include "platform/Files.h"

namespace platform {

std::string replaceTemporaryPrefix(std::string_view fileName) {
    return "." + std::string(fileName) + ".save-";
}

bool replaceFile(const std::string& path, std::string_view bytes, int& error, LinkAtPath links) {
    FileReplacement replacement;
    return replacement.open(path, error, links) &&
           replacement.write(bytes.data(), bytes.size(), error) && replacement.commit(error);
}

} // namespace platform
