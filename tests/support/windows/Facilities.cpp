#include "Facilities.h"

#include <windows.h>

namespace facilities {

// Windows has no FIFOs in the file system.
bool makeFifo(const std::string&) {
    return false;
}

// A symbolic link needs a privilege that the suites do not have.
bool makeSymlink(const std::string&, const std::string&) {
    return false;
}

std::string deviceFile() {
    return "NUL";
}

struct SaveBlocker::State {
    HANDLE held = INVALID_HANDLE_VALUE;
};

SaveBlocker::SaveBlocker(const std::string& path) : state_(std::make_unique<State>()) {
    state_->held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
}

SaveBlocker::~SaveBlocker() {
    if (state_->held != INVALID_HANDLE_VALUE)
        CloseHandle(state_->held);
}

} // namespace facilities
