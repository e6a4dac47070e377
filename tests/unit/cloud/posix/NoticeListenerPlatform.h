// The shell client of the Linux suites: listens on a Unix socket in a
// temporary folder, records the raw bytes of every notice connection and
// acknowledges each notice with one byte after recording it, so that a
// notice is on record by the time the sender returns.
#pragma once

#include "TempDir.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

class NoticeListener {
public:
    NoticeListener() : path_(dir_.file("shellclient.sock")) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd_, 8) != 0)
            throw std::runtime_error("cannot listen on " + path_);
        thread_ = std::thread([this] { run(); });
    }
    ~NoticeListener() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    NoticeListener(const NoticeListener&) = delete;
    NoticeListener& operator=(const NoticeListener&) = delete;

    const std::string& path() const { return path_; }

    // Every connection's bytes as received, header included.
    std::vector<std::string> raw() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return raw_;
    }
    // The text of every notice (the bytes after the 8-byte header).
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto& r : raw())
            out.push_back(r.size() >= 8 ? r.substr(8) : std::string());
        return out;
    }

private:
    void run() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            std::string bytes = readNotice(client);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                raw_.push_back(bytes);
            }
            const char ack = 1;
            (void)::send(client, &ack, 1, MSG_NOSIGNAL);
            ::close(client);
        }
    }

    // Reads the header, then as many bytes as it announces.
    static std::string readNotice(int client) {
        std::string bytes;
        size_t want = 8;
        char buffer[4096];
        while (bytes.size() < want) {
            ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            bytes.append(buffer, static_cast<size_t>(n));
            if (want == 8 && bytes.size() >= 8) {
                uint32_t length = 0;
                std::memcpy(&length, bytes.data() + 4, 4);
                want = 8 + length;
            }
        }
        return bytes;
    }

    TempDir dir_;
    std::string path_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> raw_;
};
