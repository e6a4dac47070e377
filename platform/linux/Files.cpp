#include "platform/Files.h"

#include "platform/linux/Fd.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The path of the file that path finally names, following symbolic links; a
// link whose target does not exist yet names that target. False (ELOOP) for
// a chain of more than 40 links, as the kernel counts them.
bool finalTarget(const std::string& path, std::string& target, int& error) {
    constexpr int kMaxLinks = 40;
    target = path;
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return true;
        std::string next(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        ssize_t n = ::readlink(target.c_str(), next.data(), next.size());
        if (n < 0) {
            error = errno;
            return false;
        }
        next.resize(static_cast<size_t>(n));
        target = !next.empty() && next[0] == '/' ? next : folderOf(target) + "/" + next;
    }
    error = ELOOP;
    return false;
}

// The permission bits of a first file: the usual ones under the umask.
mode_t defaultMode() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Gives the new file the old one's owner, group and permission bits, as far
// as the process may: an ordinary user keeps the group when it belongs to it.
// The bits come last, since a change of owner clears the set-id bits.
void takeOverAttributes(int fd, int folder, const std::string& name) {
    struct stat old {};
    if (::fstatat(folder, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0 || S_ISLNK(old.st_mode)) {
        ::fchmod(fd, defaultMode());
        return;
    }
    if (::fchown(fd, old.st_uid, old.st_gid) != 0)
        (void)!::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    ::fchmod(fd, old.st_mode & 07777);
}

// Removes the temporaries of saves that died between naming their file and
// the rename. Only names of this file's own pattern whose process is gone.
void removeStaleTemporaries(int folder, const std::string& name) {
    const std::string prefix = replaceTemporaryPrefix(name);
    int scan = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (scan < 0)
        return;
    DIR* dir = ::fdopendir(scan);
    if (!dir) {
        ::close(scan);
        return;
    }
    while (dirent* entry = ::readdir(dir)) {
        std::string_view entryName(entry->d_name);
        if (!entryName.starts_with(prefix))
            continue;
        char* end = nullptr;
        long pid = std::strtol(entry->d_name + prefix.size(), &end, 10);
        if (pid <= 0 || *end != '-' || pid == ::getpid())
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            ::unlinkat(folder, entry->d_name, 0);
    }
    ::closedir(dir);
}

std::string temporaryName(const std::string& name) {
    static thread_local std::mt19937 random{std::random_device{}()};
    static const char digits[] = "0123456789abcdef";
    std::string suffix;
    for (int i = 0; i < 8; ++i)
        suffix += digits[random() & 15];
    return replaceTemporaryPrefix(name) + std::to_string(::getpid()) + "-" + suffix;
}

// An unnamed file in the folder; or, where the file system has none, a named
// one (created, never opened over an existing file). temporary is the name
// already given, empty for an unnamed file.
int openTemporary(int folder, const std::string& name, std::string& temporary) {
    int fd = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    for (int attempt = 0; attempt < 8; ++attempt) {
        temporary = temporaryName(name);
        fd = ::openat(folder, temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            break;
    }
    if (fd < 0)
        temporary.clear();
    return fd;
}

// Gives the unnamed file a name in the folder.
bool nameTemporary(int fd, int folder, const std::string& name, std::string& temporary) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 8; ++attempt) {
        temporary = temporaryName(name);
        if (::linkat(AT_FDCWD, self.c_str(), folder, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno != EEXIST)
            break;
    }
    temporary.clear();
    return false;
}

} // namespace

char folderSeparator() {
    return '/';
}

std::string_view folderSeparators() {
    return "/";
}

FileRead readRegularFile(const std::string& path, size_t maxBytes, std::string& bytes, int& error) {
    error = 0;
    bytes.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
        error = errno;
        return error == ENOENT || error == ENOTDIR ? FileRead::Missing : FileRead::Unreadable;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        error = errno;
        return FileRead::Unreadable;
    }
    if (!S_ISREG(st.st_mode))
        return FileRead::NotRegular;
    if (static_cast<uint64_t>(st.st_size) > maxBytes)
        return FileRead::TooLarge;
    // The size is a hint: a file that grows while it is read is still cut off
    // at the limit.
    bytes.resize(static_cast<size_t>(st.st_size) + 1);
    size_t have = 0;
    for (;;) {
        if (have == bytes.size()) {
            if (have > maxBytes) {
                bytes.clear();
                return FileRead::TooLarge;
            }
            bytes.resize(std::min(maxBytes + 1, have * 2 + 4096));
        }
        ssize_t n = ::read(fd.get(), bytes.data() + have, bytes.size() - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            bytes.clear();
            return FileRead::Unreadable;
        }
        if (n == 0)
            break;
        have += static_cast<size_t>(n);
    }
    if (have > maxBytes) {
        bytes.clear();
        return FileRead::TooLarge;
    }
    bytes.resize(have);
    return FileRead::Read;
}

FileReplacement::~FileReplacement() {
    if (!temporary_.empty())
        ::unlinkat(folder_, temporary_.c_str(), 0);
    if (file_ >= 0)
        ::close(file_);
    if (folder_ >= 0)
        ::close(folder_);
}

bool FileReplacement::open(const std::string& path, int& error, LinkAtPath links) {
    std::string target = path;
    if (links == LinkAtPath::Follow && !finalTarget(path, target, error))
        return false;
    name_ = nameOf(target);
    folder_ = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_ < 0) {
        error = errno;
        return false;
    }
    removeStaleTemporaries(folder_, name_);
    file_ = openTemporary(folder_, name_, temporary_);
    if (file_ < 0) {
        error = errno;
        return false;
    }
    takeOverAttributes(file_, folder_, name_);
    return true;
}

bool FileReplacement::write(const void* data, size_t size, int& error) {
    // The bytes go to the file in pieces of at most 64 KiB: the page cache
    // takes a larger write in large folios, which a virtual machine that
    // hands free memory back to its host gives out several times slower (a
    // gigabyte in 1 MiB writes took 2.5 to 4 s there, in 64 KiB writes 0.35 s).
    constexpr size_t kPiece = 64 * 1024;
    const char* bytes = static_cast<const char*>(data);
    if (failure_ == 0 && file_ < 0)
        failure_ = EBADF;
    while (failure_ == 0 && size > 0) {
        const size_t piece = std::min(size, kPiece);
        if (!writeAll(file_, bytes, piece)) {
            failure_ = errno;
            break;
        }
        bytes += piece;
        size -= piece;
        written_ += piece;
        if (written_ - handedOver_ >= writeBackStretch)
            writeBack();
    }
    error = failure_;
    return failure_ == 0;
}

// Hands the bytes written since the last stretch to the disk without waiting
// for them, then waits until the stretch before the previous one has been
// written out: the disk works while the next bytes come, at most three
// stretches are dirty, and the commit's flush finds little left. That flush
// still makes the file durable (this call neither flushes the disk's cache
// nor writes the file's metadata). A file system that does not take the call
// is flushed whole by the commit instead. Any other error fails the
// replacement: once reported here the kernel does not report it to the
// commit's flush again.
void FileReplacement::writeBack() {
    if (!writeBack_)
        return;
    const auto refused = [&] {
        if (errno == ENOSYS || errno == EINVAL || errno == ESPIPE || errno == EOPNOTSUPP)
            writeBack_ = false;
        else
            failure_ = errno;
    };
    if (::sync_file_range(file_, static_cast<off_t>(handedOver_),
                          static_cast<off_t>(written_ - handedOver_), SYNC_FILE_RANGE_WRITE) != 0)
        return refused();
    if (previousStart_ > settled_) {
        if (::sync_file_range(file_, static_cast<off_t>(settled_),
                              static_cast<off_t>(previousStart_ - settled_),
                              SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                  SYNC_FILE_RANGE_WAIT_AFTER) != 0)
            return refused();
        settled_ = previousStart_;
    }
    previousStart_ = handedOver_;
    handedOver_ = written_;
}

bool FileReplacement::commit(int& error) {
    if (failure_ != 0 || file_ < 0 || ::fsync(file_) != 0 ||
        (temporary_.empty() && !nameTemporary(file_, folder_, name_, temporary_)) ||
        ::renameat(folder_, temporary_.c_str(), folder_, name_.c_str()) != 0) {
        error = failure_ != 0 ? failure_ : file_ < 0 ? EBADF : errno;
        return false;
    }
    temporary_.clear();
    // Make the rename itself durable.
    ::fsync(folder_);
    return true;
}

} // namespace platform
