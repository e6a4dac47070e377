// Plain loopback connections to the stand-in cloud service, for tests that
// hold connections open, send slowly or read replies byte for byte.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>

class LoopbackClient {
public:
    explicit LoopbackClient(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot connect to the service");
    }
    ~LoopbackClient() { ::close(fd_); }
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    bool send(const std::string& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }

    // Everything the service sends until it closes the connection; stops
    // early, with what came so far, when nothing moves for the guard's time.
    std::string readUntilClosed(std::chrono::seconds guard = std::chrono::seconds(60)) {
        std::string got;
        char buffer[4096];
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(guard.count() * 1000)) <= 0) {
                timedOut_ = true;
                return got;
            }
            ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0)
                return got;
            got.append(buffer, static_cast<size_t>(n));
        }
    }
    bool timedOut() const { return timedOut_; }

    // Whether the service has closed (or reset) the connection by now.
    bool closedByPeer() const {
        pollfd p{fd_, POLLIN | POLLRDHUP, 0};
        return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR));
    }

private:
    int fd_ = -1;
    bool timedOut_ = false;
};

// One whole request: the reply (status line, headers, body) up to the close.
inline std::string exchange(int port, const std::string& request) {
    LoopbackClient client(port);
    client.send(request);
    return client.readUntilClosed();
}
