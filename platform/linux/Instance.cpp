#include "platform/Instance.h"

#include "common/DebugPrint.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {
namespace {

// Locks the file at path, creating it; error is the error number of a
// failure.
InstanceLock lockFile(const std::string& path, int& error) {
    // O_CLOEXEC: started page browsers must not inherit the lock and keep it
    // after Panoview ends. O_NOFOLLOW: in a shared folder a link planted under
    // the lock's name must not make Panoview open another file. The
    // descriptor is never closed; the kernel releases the lock when the
    // process ends, however it ends.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = errno;
        return InstanceLock::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return InstanceLock::Acquired;
    error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? InstanceLock::AlreadyHeld : InstanceLock::Failed;
}

} // namespace

InstanceLock acquireInstanceLock(const std::string& name) {
    std::string tried;
    int error = 0;
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeDir && *runtimeDir) {
        const std::string path = std::string(runtimeDir) + "/" + name + ".lock";
        InstanceLock result = lockFile(path, error);
        if (result != InstanceLock::Failed)
            return result;
        tried = path + " (error " + std::to_string(error) + "), ";
    }
    // No runtime folder, or one that cannot hold the lock: the per-user lock
    // in /tmp still keeps a second copy out.
    const std::string path = "/tmp/" + name + "-" + std::to_string(::getuid()) + ".lock";
    InstanceLock result = lockFile(path, error);
    if (result == InstanceLock::Failed)
        DebugPrint("acquireInstanceLock: no instance lock at %s%s (error %d), starting without "
                   "one\n",
                   tried.c_str(), path.c_str(), error);
    return result;
}

std::string executablePath() {
    char buffer[PATH_MAX + 1] = {};
    ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0)
        return {};
    return std::string(buffer, static_cast<size_t>(n));
}

} // namespace platform
