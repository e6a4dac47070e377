#include "platform/CommandSocket.h"

#include "common/DebugPrint.h"
#include "platform/Instance.h"
#include "platform/linux/Fd.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

bool socketAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

// Waits until the descriptor is readable or the time has come; false on the
// deadline or an error.
bool readable(int fd, std::chrono::steady_clock::time_point until) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0;
    }
}

// Reads until a line feed, the peer's end or the deadline; false on the
// deadline, an error or a line longer than `limit` bytes with its line feed.
bool readLine(int fd, std::string& line, size_t limit, std::chrono::milliseconds deadline) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    char c;
    while (line.size() < limit) {
        if (!readable(fd, until))
            return false;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            continue;
        if (n <= 0)
            return !line.empty();
        if (c == '\n')
            return true;
        line += c;
    }
    return false;
}

// Reads until the peer's end; false on the deadline, an error or more than
// `limit` bytes.
bool readToEnd(int fd, std::string& text, size_t limit, std::chrono::milliseconds deadline) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    char buffer[16384];
    for (;;) {
        if (!readable(fd, until))
            return false;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > limit)
            return false;
    }
}

class LinuxCommandListener : public CommandListener {
public:
    explicit LinuxCommandListener(UniqueFd fd) : fd_(std::move(fd)) {}
    int descriptor() const override { return fd_.get(); }

    void serveOne(const std::function<CommandAnswer(const std::string&)>& handle,
                  std::chrono::milliseconds deadline) override {
        UniqueFd client(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!client.valid())
            return;
        if (!peerIsThisUser(client.get())) {
            DebugPrint("CommandListener: a request of another user refused\n");
            const char refused[] = "2 refused: another user's request\n";
            ::send(client.get(), refused, sizeof refused - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            // What it sent already is dropped unread: closing on it would
            // reset the connection before the refusal is read.
            char discard[kCommandRequestMax];
            while (::recv(client.get(), discard, sizeof discard, MSG_DONTWAIT) > 0) {
            }
            return;
        }
        std::string request;
        if (!readLine(client.get(), request, kCommandRequestMax - 1, deadline))
            return;
        const CommandAnswer answer = handle(request);
        std::string text = std::to_string(answer.status) + " " + answer.text;
        if (text.size() + 1 > kCommandAnswerMax)
            text = "2 the answer is too long";
        text += '\n';
        // The answer goes out whole, or not at all within the deadline: a
        // client that stops reading holds the program up no longer.
        const int flags = ::fcntl(client.get(), F_GETFL);
        ::fcntl(client.get(), F_SETFL, flags & ~O_NONBLOCK);
        timeval limit{static_cast<time_t>(deadline.count() / 1000),
                      static_cast<suseconds_t>(deadline.count() % 1000 * 1000)};
        ::setsockopt(client.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        writeAll(client.get(), text.data(), text.size(), WriteTo::Socket);
    }

private:
    UniqueFd fd_;
};

} // namespace

std::string commandSocketPath(const std::string& lockName) {
    return userRuntimeFolder() + "/" + lockName + ".socket";
}

bool peerIsThisUser(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
           peer.uid == ::geteuid();
}

int listenPrivateSocket(const std::string& path, const char* who, int backlog) {
    sockaddr_un address;
    if (!socketAddress(path, address))
        return -1;
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid())
        return -1;
    // Only the one listener (its caller holds the lock that says so) gets
    // here: a socket at the path is a dead run's, and it is replaced when it
    // is this user's.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid()) {
            DebugPrint("%s: %s is not a socket of this user\n", who, path.c_str());
            return -1;
        }
        ::unlink(path.c_str());
    }
    // Made private before anyone can connect: the folder may be shared.
    const mode_t saved = ::umask(0177);
    const int bound = ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::umask(saved);
    if (bound != 0 || ::chmod(path.c_str(), 0600) != 0 || ::listen(fd.get(), backlog) != 0) {
        DebugPrint("%s: cannot listen at %s (error %d)\n", who, path.c_str(), errno);
        return -1;
    }
    return fd.release();
}

int connectPrivateSocket(const std::string& path) {
    sockaddr_un address;
    if (!socketAddress(path, address))
        return -1;
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid() ||
        ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return -1;
    // Another user's listener at our path is no program of ours.
    if (!peerIsThisUser(fd.get()))
        return -1;
    return fd.release();
}

std::unique_ptr<CommandListener> CommandListener::listen(const std::string& path) {
    UniqueFd fd(listenPrivateSocket(path, "CommandListener"));
    if (!fd.valid())
        return nullptr;
    return std::make_unique<LinuxCommandListener>(std::move(fd));
}

bool sendCommand(const std::string& path, const std::string& request, CommandAnswer& answer,
                 std::chrono::milliseconds deadline) {
    UniqueFd fd(connectPrivateSocket(path));
    if (!fd.valid())
        return false;
    const std::string line = request + "\n";
    std::string reply;
    if (line.size() > kCommandRequestMax || request.find('\n') != std::string::npos) {
        answer = {2, "the request is too long"};
        return true;
    }
    if (!writeAll(fd.get(), line.data(), line.size(), WriteTo::Socket) ||
        !readToEnd(fd.get(), reply, kCommandAnswerMax, deadline) || reply.empty()) {
        answer = {2, "the running copy did not answer"};
        return true;
    }
    if (reply.back() == '\n')
        reply.pop_back();
    const size_t blank = reply.find(' ');
    answer.status = std::atoi(reply.substr(0, blank).c_str());
    answer.text = blank == std::string::npos ? "" : reply.substr(blank + 1);
    return true;
}

} // namespace platform
