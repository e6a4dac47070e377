// The one owner of a descriptor within a scope, and the one loop that puts a
// whole buffer out through a descriptor.
#pragma once

#include <cerrno>
#include <cstddef>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace platform {

// Closes the descriptor it holds when it ends, whatever way the scope ends.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Hands the descriptor over; the guard holds none afterwards.
    int release() { return std::exchange(fd_, -1); }
    // Closes the descriptor held, if any, and holds fd instead.
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// What the descriptor of writeAll leads to. A socket whose peer has gone
// answers EPIPE instead of raising SIGPIPE, which would end the program.
enum class WriteTo { File, Socket };

// Writes all bytes, going on after short writes and interruptions. False,
// with errno set, when the descriptor refuses them.
inline bool writeAll(int fd, const void* data, size_t size, WriteTo to = WriteTo::File) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n =
            to == WriteTo::Socket ? ::send(fd, p, size, MSG_NOSIGNAL) : ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = EIO;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace platform
