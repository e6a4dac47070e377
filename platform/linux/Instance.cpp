#include "platform/Instance.h"

#include "common/DebugPrint.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
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

// Whether the folder at path is (or has just been made) a folder of this
// user's that no one else can enter or write. A link, another user's folder
// or anything but a folder is never used, whoever made it.
bool privateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0)
        return false;
    return true;
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    const passwd* user = ::getpwuid(::getuid());
    return user && user->pw_dir ? user->pw_dir : "";
}

} // namespace

std::string privateRuntimeFolder() {
    const std::string shared = "/tmp/panoview-" + std::to_string(::getuid());
    if (privateFolder(shared))
        return shared;
    std::string cache;
    const char* cacheHome = std::getenv("XDG_CACHE_HOME");
    if (cacheHome && *cacheHome == '/') {
        cache = cacheHome;
    } else if (const std::string home = homeFolder(); !home.empty()) {
        cache = home + "/.cache";
        ::mkdir(cache.c_str(), 0700);
    }
    if (!cache.empty() && privateFolder(cache + "/panoview-run"))
        return cache + "/panoview-run";
    DebugPrint("privateRuntimeFolder: %s is not a private folder of this user and no folder "
               "of the user's own can be made\n",
               shared.c_str());
    return {};
}

std::string userRuntimeFolder() {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeDir && *runtimeDir)
        return runtimeDir;
    return privateRuntimeFolder();
}

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
    // No runtime folder, or one that cannot hold the lock: the lock in the
    // user's private folder still keeps a second copy out.
    const std::string folder = privateRuntimeFolder();
    const std::string path = (folder.empty() ? "" : folder + "/") + name + ".lock";
    InstanceLock result = folder.empty() ? InstanceLock::Failed : lockFile(path, error);
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
