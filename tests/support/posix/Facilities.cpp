#include "Facilities.h"

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>

namespace facilities {

bool makeFifo(const std::string& path) {
    return ::mkfifo(path.c_str(), 0600) == 0;
}

bool makeSymlink(const std::string& target, const std::string& link) {
    std::error_code ec;
    std::filesystem::create_symlink(target, link, ec);
    return !ec;
}

std::string deviceFile() {
    return "/dev/zero";
}

struct SaveBlocker::State {
    rlimit saved{};
    void (*previous)(int) = SIG_DFL;
};

SaveBlocker::SaveBlocker(const std::string&) : state_(std::make_unique<State>()) {
    getrlimit(RLIMIT_FSIZE, &state_->saved);
    state_->previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = state_->saved;
    limit.rlim_cur = 8;
    setrlimit(RLIMIT_FSIZE, &limit);
}

SaveBlocker::~SaveBlocker() {
    setrlimit(RLIMIT_FSIZE, &state_->saved);
    std::signal(SIGXFSZ, state_->previous);
}

} // namespace facilities
