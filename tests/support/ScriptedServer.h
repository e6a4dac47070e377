// A loopback HTTP server on a free port (bound to port 0) that records every
// request byte for byte and answers each connection with a script: raw bytes,
// pauses, a clean close, a reset, or holding the connection open until the
// client closes it. Each connection is served by its own thread.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

class ScriptedServer {
public:
    struct Step {
        enum class Kind { Send, Pause, Close, Reset, Hold };
        Kind kind = Kind::Close;
        std::string bytes;
        std::chrono::milliseconds pause{0};
        size_t times = 1;

        static Step send(std::string bytes) { return {Kind::Send, std::move(bytes), {}}; }
        // Sends the bytes the given number of times: a body as long as the
        // client cares to read.
        static Step repeat(std::string bytes, size_t times) {
            return {Kind::Send, std::move(bytes), {}, times};
        }
        static Step pauseFor(std::chrono::milliseconds ms) { return {Kind::Pause, {}, ms}; }
        // Ends the connection cleanly (also done after the last step).
        static Step close() { return {Kind::Close, {}, {}}; }
        // Ends the connection with a TCP reset.
        static Step reset() { return {Kind::Reset, {}, {}}; }
        // Sends nothing more and keeps the connection until the client
        // closes it or the server ends: a stalled service.
        static Step hold() { return {Kind::Hold, {}, {}}; }
    };
    using Script = std::vector<Step>;
    // Called with each request's raw bytes and its number (0 for the first).
    using Handler = std::function<Script(const std::string& request, size_t index)>;

    explicit ScriptedServer(Handler handler) : handler_(std::move(handler)) { start(); }

    // A loopback port that is bound but not listening: every connection to
    // it is refused, as to a server that is down, and no other program can
    // take the port. A server started with it later comes up on that port.
    class ReservedPort {
    public:
        ReservedPort() {
            fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t length = sizeof address;
            if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
                ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
                throw std::runtime_error("cannot bind a loopback port");
            port_ = ntohs(address.sin_port);
        }
        ~ReservedPort() {
            if (fd_ >= 0)
                ::close(fd_);
        }
        ReservedPort(const ReservedPort&) = delete;
        ReservedPort& operator=(const ReservedPort&) = delete;
        uint16_t port() const { return port_; }
        std::string url(std::string_view path = "/") const {
            return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
        }
        int release() { return std::exchange(fd_, -1); }

    private:
        int fd_ = -1;
        uint16_t port_ = 0;
    };
    // Comes up on the reserved port, which it then owns.
    ScriptedServer(Handler handler, ReservedPort& reserved) : handler_(std::move(handler)) {
        listener_ = reserved.release();
        start();
    }
    // Answers once it has read at most readLimit bytes of a request (head
    // included): a server that replies before the body has come.
    ScriptedServer(Handler handler, size_t readLimit)
        : handler_(std::move(handler)), readLimit_(readLimit) {
        start();
    }
    // Answers every request with the same raw bytes, then closes.
    explicit ScriptedServer(std::string reply)
        : ScriptedServer(
              [reply](const std::string&, size_t) { return Script{Step::send(reply)}; }) {}
    ~ScriptedServer() {
        char byte = 1;
        (void)!::write(stopPipe_[1], &byte, 1);
        if (acceptThread_.joinable())
            acceptThread_.join();
        for (auto& t : connectionThreads_)
            t.join();
        ::close(listener_);
        ::close(stopPipe_[0]);
        ::close(stopPipe_[1]);
    }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    uint16_t port() const { return port_; }
    std::string url(std::string_view path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
    }
    std::wstring urlW(std::string_view path = "/") const {
        std::string narrow = url(path);
        return std::wstring(narrow.begin(), narrow.end());
    }

    // The raw bytes of every request received so far, in arrival order.
    std::vector<std::string> requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> all;
        for (const auto& c : connections_)
            all.push_back(c.request);
        return all;
    }
    size_t connectionCount() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return connections_.size();
    }
    // Whether the client closed the held connection number `index` within
    // the time given.
    bool waitForPeerClose(size_t index, std::chrono::milliseconds timeout) const {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            return index < connections_.size() && connections_[index].peerClosed;
        });
    }

    // A header's value in a raw request or reply; empty when missing.
    static std::string headerValue(const std::string& message, std::string_view name) {
        size_t end = message.find("\r\n\r\n");
        std::string_view head(message.data(), end == std::string::npos ? message.size() : end);
        size_t pos = head.find("\r\n");
        while (pos != std::string_view::npos) {
            pos += 2;
            size_t next = head.find("\r\n", pos);
            std::string_view line = head.substr(
                pos, next == std::string_view::npos ? std::string_view::npos : next - pos);
            if (line.size() > name.size() && line[name.size()] == ':' &&
                std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
                    return std::tolower(static_cast<unsigned char>(a)) ==
                           std::tolower(static_cast<unsigned char>(b));
                })) {
                std::string_view value = line.substr(name.size() + 1);
                while (!value.empty() && value.front() == ' ')
                    value.remove_prefix(1);
                return std::string(value);
            }
            pos = next;
        }
        return {};
    }
    // The body of a raw request (whatever follows the header block).
    static std::string bodyOf(const std::string& message) {
        size_t end = message.find("\r\n\r\n");
        return end == std::string::npos ? std::string() : message.substr(end + 4);
    }

private:
    struct Connection {
        std::string request;
        bool peerClosed = false;
    };

    void start() {
        if (::pipe2(stopPipe_, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        const bool bound = listener_ >= 0; // on a reserved port
        if (!bound)
            listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0 ||
            (!bound && ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0) ||
            ::listen(listener_, 64) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on loopback");
        port_ = ntohs(address.sin_port);
        acceptThread_ = std::thread([this] { acceptLoop(); });
    }

    // Waits until fd is readable; false when the server is stopping.
    bool waitReadable(int fd) const {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        while (::poll(fds, 2, -1) < 0) {
        }
        return !(fds[1].revents & POLLIN);
    }

    void acceptLoop() {
        for (;;) {
            if (!waitReadable(listener_))
                return;
            int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            size_t index;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                index = connections_.size();
                connections_.emplace_back();
            }
            connectionThreads_.emplace_back([this, fd, index] { serve(fd, index); });
        }
    }

    // Reads one request: the header block, then a Content-Length or chunked
    // body. Stops early when the client closes or the server stops.
    std::string readRequest(int fd) const {
        std::string data;
        char buffer[65536];
        size_t bodyStart = std::string::npos;
        for (;;) {
            if (bodyStart == std::string::npos) {
                size_t end = data.find("\r\n\r\n");
                if (end != std::string::npos)
                    bodyStart = end + 4;
            }
            if (bodyStart != std::string::npos) {
                std::string head = data.substr(0, bodyStart);
                std::string chunked = headerValue(head, "Transfer-Encoding");
                if (chunked.find("chunked") != std::string::npos) {
                    if (data.find("\r\n0\r\n\r\n", bodyStart - 2) != std::string::npos)
                        return data;
                } else {
                    std::string length = headerValue(head, "Content-Length");
                    size_t want = length.empty() ? 0 : std::strtoull(length.c_str(), nullptr, 10);
                    if (data.size() - bodyStart >= want)
                        return data;
                }
            }
            if (data.size() >= readLimit_ || !waitReadable(fd))
                return data;
            ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, readLimit_ - data.size()), 0);
            if (n <= 0)
                return data;
            data.append(buffer, static_cast<size_t>(n));
        }
    }

    // Sends every byte unless the client goes away or the server stops first.
    bool sendAll(int fd, const std::string& bytes) const {
        size_t sent = 0;
        while (sent < bytes.size()) {
            pollfd fds[2] = {{fd, POLLOUT, 0}, {stopPipe_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0)
                continue;
            if (fds[1].revents & POLLIN)
                return false;
            ssize_t n =
                ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0)
                return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    void markPeerClosed(size_t index) {
        std::lock_guard<std::mutex> lock(mutex_);
        connections_[index].peerClosed = true;
        changed_.notify_all();
    }

    // Waits for the client to close, discarding what it sends.
    void holdUntilPeerCloses(int fd, size_t index) {
        char buffer[4096];
        while (waitReadable(fd)) {
            if (::recv(fd, buffer, sizeof buffer, 0) <= 0) {
                markPeerClosed(index);
                return;
            }
        }
    }

    void serve(int fd, size_t index) {
        std::string request = readRequest(fd);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            connections_[index].request = request;
            changed_.notify_all();
        }
        Script script = handler_(request, index);
        for (const Step& step : script) {
            switch (step.kind) {
            case Step::Kind::Send: {
                for (size_t i = 0; i < step.times; ++i) {
                    if (!sendAll(fd, step.bytes)) {
                        ::close(fd);
                        return;
                    }
                }
                break;
            }
            case Step::Kind::Pause:
                std::this_thread::sleep_for(step.pause);
                break;
            case Step::Kind::Close:
                finish(fd, index);
                return;
            case Step::Kind::Reset: {
                linger hard{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                ::close(fd);
                return;
            }
            case Step::Kind::Hold:
                holdUntilPeerCloses(fd, index);
                ::close(fd);
                return;
            }
        }
        finish(fd, index);
    }

    // A clean end: no more bytes from us, then wait for the client's close so
    // that nothing unread turns the close into a reset.
    void finish(int fd, size_t index) {
        ::shutdown(fd, SHUT_WR);
        holdUntilPeerCloses(fd, index);
        ::close(fd);
    }

    Handler handler_;
    size_t readLimit_ = SIZE_MAX;
    int listener_ = -1;
    int stopPipe_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::thread acceptThread_;
    std::vector<std::thread> connectionThreads_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Connection> connections_;
};
