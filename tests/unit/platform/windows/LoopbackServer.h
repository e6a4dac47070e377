// A loopback HTTP server for the Windows suites, on winsock: bound to port 0
// on 127.0.0.1, it answers each connection, in order, with the next of its
// replies (the last one again once they run out) after reading the request
// (its header block and a Content-Length body), then closes. Every request
// is kept byte for byte.
#pragma once

#include <winsock2.h>

#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class LoopbackServer {
public:
    explicit LoopbackServer(std::vector<std::string> replies) : replies_(std::move(replies)) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            throw std::runtime_error("WSAStartup failed");
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        if (listener_ == INVALID_SOCKET ||
            bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(listener_, 16) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on loopback");
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~LoopbackServer() {
        closesocket(listener_); // ends the accept loop
        thread_.join();
        WSACleanup();
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::vector<std::string> requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

    static std::string headOf(const std::string& message) {
        return message.substr(0, message.find("\r\n\r\n"));
    }
    static std::string bodyOf(const std::string& message) {
        const size_t end = message.find("\r\n\r\n");
        return end == std::string::npos ? std::string() : message.substr(end + 4);
    }
    // The value of a header line of the head ("Name: value"), any letter case.
    static std::string header(const std::string& message, const std::string& name) {
        const std::string head = headOf(message);
        size_t at = head.find("\r\n");
        while (at != std::string::npos) {
            at += 2;
            const size_t end = head.find("\r\n", at);
            const std::string line = head.substr(at, end - at);
            if (line.size() > name.size() && line[name.size()] == ':' &&
                _strnicmp(line.c_str(), name.c_str(), name.size()) == 0)
                return line.substr(line.find_first_not_of(' ', name.size() + 1));
            at = end;
        }
        return {};
    }

private:
    void serve() {
        for (size_t index = 0;; ++index) {
            SOCKET client = accept(listener_, nullptr, nullptr);
            if (client == INVALID_SOCKET)
                return;
            const std::string request = readRequest(client);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
            }
            const std::string& reply = replies_[std::min(index, replies_.size() - 1)];
            size_t sent = 0;
            while (sent < reply.size()) {
                const int n =
                    send(client, reply.data() + sent, static_cast<int>(reply.size() - sent), 0);
                if (n <= 0)
                    break;
                sent += static_cast<size_t>(n);
            }
            // A clean end: the request was read whole, so the close is no
            // reset; the client may keep its end open as long as it likes.
            shutdown(client, SD_SEND);
            closesocket(client);
        }
    }

    static std::string readRequest(SOCKET client) {
        std::string data;
        char buffer[65536];
        for (;;) {
            const size_t end = data.find("\r\n\r\n");
            if (end != std::string::npos) {
                const std::string length = header(data, "Content-Length");
                if (data.size() - end - 4 >= std::strtoull(length.c_str(), nullptr, 10))
                    return data;
            }
            const int n = recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                return data;
            data.append(buffer, static_cast<size_t>(n));
        }
    }

    std::vector<std::string> replies_;
    SOCKET listener_ = INVALID_SOCKET;
    uint16_t port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
};
