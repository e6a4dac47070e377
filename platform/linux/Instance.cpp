#include "platform/Instance.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {
namespace {

std::string instanceLockPath(const std::string& name) {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeDir && *runtimeDir)
        return std::string(runtimeDir) + "/" + name + ".lock";
    return "/tmp/" + name + "-" + std::to_string(getuid()) + ".lock";
}

} // namespace

InstanceLock acquireInstanceLock(const std::string& name) {
    // O_CLOEXEC: started page browsers must not inherit the lock and keep it
    // after Panoview ends. The descriptor is never closed; the kernel releases
    // the lock when the process ends, however it ends.
    int fd = ::open(instanceLockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return InstanceLock::Failed;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return InstanceLock::Acquired;
    int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? InstanceLock::AlreadyHeld : InstanceLock::Failed;
}

std::string executablePath() {
    char buffer[PATH_MAX + 1] = {};
    ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0)
        return {};
    return std::string(buffer, static_cast<size_t>(n));
}

} // namespace platform
