#include "platform/CommandSocket.h"

#include "common/DebugPrint.h"
#include "platform/Instance.h"
#include "platform/linux/Fd.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <unordered_map>

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

using Clock = std::chrono::steady_clock;

// How long accepting rests after the process ran out of descriptors: the
// waiting client would otherwise keep the socket readable, and every turn of
// the event loop would try again in vain.
constexpr std::chrono::milliseconds kAcceptRest{250};

// Reads and drops what a client sent that nobody will read: closing a Unix
// socket with unread bytes resets the connection, and the client's read of
// what was sent to it would fail. Bounded, for a client that never stops.
void dropUnread(int fd) {
    char discard[4096];
    size_t dropped = 0;
    while (dropped < 16 * sizeof discard) {
        const ssize_t n = ::recv(fd, discard, sizeof discard, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        dropped += static_cast<size_t>(n);
    }
}

// Where one connection's work stands after a step.
enum class Step { Waiting, Done, Failed };

struct Connection {
    UniqueFd fd;
    uint64_t order = 0; // the accept order: the oldest has the lowest
    Clock::time_point deadline;
    std::string request; // the request line so far
    std::string answer;  // the whole answer, once the request is read
    size_t sent = 0;
    bool answering() const { return !answer.empty(); }

    // Reads what has come, up to the line feed or the peer's end (which ends
    // a line too); fails on a line longer than kCommandRequestMax bytes with
    // its line feed. What follows the line feed is never read.
    Step readRequest() {
        char buffer[kCommandRequestMax];
        for (;;) {
            const size_t room = kCommandRequestMax - request.size();
            if (room == 0)
                return Step::Failed;
            const ssize_t n = ::recv(fd.get(), buffer, room, MSG_DONTWAIT);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return Step::Waiting;
            if (n < 0)
                return Step::Failed;
            if (n == 0)
                return request.empty() ? Step::Failed : Step::Done;
            const auto* feed =
                static_cast<const char*>(std::memchr(buffer, '\n', static_cast<size_t>(n)));
            request.append(buffer, static_cast<size_t>(feed ? feed - buffer : n));
            if (feed)
                return Step::Done;
        }
    }

    // Puts out as much of the answer as the client takes now.
    Step writeAnswer() {
        while (sent < answer.size()) {
            const ssize_t n = ::send(fd.get(), answer.data() + sent, answer.size() - sent,
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return Step::Waiting;
            if (n <= 0)
                return Step::Failed;
            sent += static_cast<size_t>(n);
        }
        return Step::Done;
    }
};

// One epoll set holds the listening socket and every connection, each
// watched for what it waits for (its request's bytes, or room for its
// answer): its descriptor is the one the event loop watches.
class LinuxCommandListener : public CommandListener {
public:
    LinuxCommandListener(UniqueFd fd, UniqueFd epoll, std::string path,
                         std::chrono::milliseconds deadline, size_t connectionsMax)
        : fd_(std::move(fd)), epoll_(std::move(epoll)), path_(std::move(path)), deadline_(deadline),
          connectionsMax_(std::max<size_t>(connectionsMax, 1)) {
        struct stat st {};
        if (::lstat(path_.c_str(), &st) == 0) {
            bound_ = true;
            device_ = st.st_dev;
            inode_ = st.st_ino;
        }
    }

    ~LinuxCommandListener() override {
        connections_.clear();
        // A socket at the path that is not ours (a later run's) stays.
        struct stat st {};
        if (bound_ && ::lstat(path_.c_str(), &st) == 0 && st.st_dev == device_ &&
            st.st_ino == inode_)
            ::unlink(path_.c_str());
    }

    bool watchListener() { return watch(fd_.get(), EPOLLIN, EPOLL_CTL_ADD); }

    int descriptor() const override { return epoll_.get(); }

    void serve(const Handler& handle) override {
        if (serving_)
            return;
        serving_ = true;
        struct Done {
            bool& serving;
            ~Done() { serving = false; }
        } done{serving_};

        resumeAccepting();
        epoll_event events[64];
        int ready;
        do
            ready = ::epoll_wait(epoll_.get(), events, 64, 0);
        while (ready < 0 && errno == EINTR);
        for (int i = 0; i < ready; ++i) {
            const int fd = events[i].data.fd;
            if (fd == fd_.get()) {
                acceptWaiting();
                continue;
            }
            // One that an earlier event of this turn closed is gone.
            const auto it = connections_.find(fd);
            if (it != connections_.end())
                progress(it, handle);
        }
        closeExpired();
    }

    std::optional<Clock::time_point> nextDeadline() const override {
        std::optional<Clock::time_point> first = acceptResumes_;
        for (const auto& [fd, connection] : connections_)
            if (!first || connection.deadline < *first)
                first = connection.deadline;
        return first;
    }

private:
    using Connections = std::unordered_map<int, Connection>;

    bool watch(int fd, uint32_t events, int operation) {
        epoll_event event{};
        event.events = events;
        event.data.fd = fd;
        return ::epoll_ctl(epoll_.get(), operation, fd, &event) == 0;
    }

    // Accepts the clients waiting, as many a turn as connections may be
    // open, so that a stream of clients cannot hold the event loop.
    void acceptWaiting() {
        for (size_t taken = 0; taken < connectionsMax_; ++taken) {
            UniqueFd client(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
            if (!client.valid()) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                    restAccepting();
                return;
            }
            if (!peerIsThisUser(client.get())) {
                DebugPrint("CommandListener: a request of another user refused\n");
                const char refused[] = "2 refused: another user's request\n";
                ::send(client.get(), refused, sizeof refused - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                // What it sent already is dropped unread: closing on it would
                // reset the connection before the refusal is read.
                dropUnread(client.get());
                continue;
            }
            if (connections_.size() >= connectionsMax_)
                dropOldest();
            const int fd = client.get();
            if (!watch(fd, EPOLLIN, EPOLL_CTL_ADD))
                continue;
            Connection& connection = connections_[fd];
            connection.fd = std::move(client);
            connection.order = ++accepted_;
            connection.deadline = Clock::now() + deadline_;
        }
    }

    void restAccepting() {
        DebugPrint("CommandListener: cannot take a connection (error %d); trying again soon\n",
                   errno);
        watch(fd_.get(), 0, EPOLL_CTL_MOD);
        acceptResumes_ = Clock::now() + kAcceptRest;
    }

    void resumeAccepting() {
        if (acceptResumes_ && Clock::now() >= *acceptResumes_) {
            watch(fd_.get(), EPOLLIN, EPOLL_CTL_MOD);
            acceptResumes_.reset();
        }
    }

    // The oldest connection still waiting for its request line goes; when
    // every one is answering, the oldest of those.
    void dropOldest() {
        auto oldest = connections_.end();
        for (auto it = connections_.begin(); it != connections_.end(); ++it) {
            if (oldest == connections_.end()) {
                oldest = it;
                continue;
            }
            const bool waiting = !it->second.answering();
            const bool oldestWaiting = !oldest->second.answering();
            if (waiting != oldestWaiting ? waiting : it->second.order < oldest->second.order)
                oldest = it;
        }
        if (oldest == connections_.end())
            return;
        if (!crowded_)
            DebugPrint("CommandListener: more than %zu connections at once; the oldest waiting "
                       "ones are dropped\n",
                       connectionsMax_);
        crowded_ = true;
        close(oldest);
    }

    // Reads the request while it comes, answers it once whole, and puts the
    // answer out while the client takes it.
    void progress(Connections::iterator it, const Handler& handle) {
        Connection& connection = it->second;
        if (!connection.answering()) {
            const Step read = connection.readRequest();
            if (read == Step::Waiting)
                return;
            if (read == Step::Failed) {
                close(it);
                return;
            }
            connection.answer = commandAnswerLine(handle(connection.request));
        }
        switch (connection.writeAnswer()) {
        case Step::Waiting:
            watch(it->first, EPOLLOUT, EPOLL_CTL_MOD);
            return;
        case Step::Done:
            dropUnread(it->first);
            close(it);
            return;
        case Step::Failed:
            close(it);
            return;
        }
    }

    // Whatever a connection has not done by its deadline, it does not do:
    // an answer not out whole by then is cut off, and the client, missing
    // its final line feed, takes it for none.
    void closeExpired() {
        const auto now = Clock::now();
        for (auto it = connections_.begin(); it != connections_.end();)
            it = it->second.deadline <= now ? close(it) : std::next(it);
    }

    Connections::iterator close(Connections::iterator it) {
        ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, it->first, nullptr);
        it = connections_.erase(it);
        if (connections_.empty())
            crowded_ = false;
        return it;
    }

    UniqueFd fd_;
    UniqueFd epoll_;
    const std::string path_;
    const std::chrono::milliseconds deadline_;
    const size_t connectionsMax_;
    // The socket file made at the path, to remove it only while it is ours.
    bool bound_ = false;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    Connections connections_;
    uint64_t accepted_ = 0;
    // Set while accepting rests after the descriptors ran out.
    std::optional<Clock::time_point> acceptResumes_;
    // Said once a flood is met, until every connection has gone.
    bool crowded_ = false;
    bool serving_ = false;
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

std::unique_ptr<CommandListener> CommandListener::listen(const std::string& path,
                                                         std::chrono::milliseconds deadline,
                                                         size_t connectionsMax) {
    UniqueFd fd(listenPrivateSocket(path, "CommandListener", static_cast<int>(connectionsMax)));
    if (!fd.valid())
        return nullptr;
    UniqueFd epoll(::epoll_create1(EPOLL_CLOEXEC));
    auto listener = std::make_unique<LinuxCommandListener>(std::move(fd), std::move(epoll), path,
                                                           deadline, connectionsMax);
    if (!listener->watchListener()) {
        DebugPrint("CommandListener: cannot watch %s (error %d)\n", path.c_str(), errno);
        return nullptr;
    }
    return listener;
}

bool sendCommand(const std::string& path, const std::string& request, CommandAnswer& answer,
                 std::chrono::milliseconds deadline) {
    UniqueFd fd(connectPrivateSocket(path));
    if (!fd.valid())
        return false;
    std::string line;
    if (!commandRequestLine(request, line, answer))
        return true;
    // An answer cut off before its final line feed is none.
    std::string reply;
    if (!writeAll(fd.get(), line.data(), line.size(), WriteTo::Socket) ||
        !readToEnd(fd.get(), reply, kCommandAnswerMax, deadline))
        reply.clear();
    answer = parseCommandAnswer(std::move(reply));
    return true;
}

} // namespace platform
