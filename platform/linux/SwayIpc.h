// sway's IPC socket (the one SWAYSOCK names): the display discovery asks it
// for the outputs' usable areas, Brovia asks it to place a page's window,
// because sway tiles X11 windows and ignores their own placement requests.
// Header-only, like Xcb.h, so that Brovia uses the same exchange.
#pragma once

#include <cjson/cJSON.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform::sway {

// Message types of the IPC.
inline constexpr uint32_t kRunCommand = 0, kGetWorkspaces = 1, kGetOutputs = 3;

struct JsonDelete {
    void operator()(cJSON* json) const { cJSON_Delete(json); }
};
using Json = std::unique_ptr<cJSON, JsonDelete>;

// A connection to sway for the life of the object; every exchange is bounded
// by a one-second deadline, so a stuck compositor cannot hang the caller.
class Ipc {
public:
    // Opens the socket SWAYSOCK names; false when it is unset or refuses.
    bool open() {
        const char* path = std::getenv("SWAYSOCK");
        sockaddr_un address{};
        if (!path || !*path || std::strlen(path) >= sizeof address.sun_path)
            return false;
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path);
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0)
            return false;
        const timeval deadline{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &deadline, sizeof deadline);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &deadline, sizeof deadline);
        return ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~Ipc() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Ipc() = default;
    Ipc(const Ipc&) = delete;
    Ipc& operator=(const Ipc&) = delete;

    // One request ("i3-ipc", payload length, type, payload; the reply has the
    // same form): the reply's JSON, or null.
    Json request(uint32_t type, const std::string& payload = {}) {
        char header[14] = {'i', '3', '-', 'i', 'p', 'c'};
        const auto length = static_cast<uint32_t>(payload.size());
        std::memcpy(header + 6, &length, 4);
        std::memcpy(header + 10, &type, 4);
        if (!sendAll(header, sizeof header) || !sendAll(payload.data(), payload.size()))
            return nullptr;
        char reply[14];
        uint32_t replyLength = 0;
        if (!readAll(reply, sizeof reply) || std::memcmp(reply, "i3-ipc", 6) != 0)
            return nullptr;
        std::memcpy(&replyLength, reply + 6, 4);
        if (replyLength > (16u << 20))
            return nullptr;
        std::string body(replyLength, '\0');
        if (!readAll(body.data(), body.size()))
            return nullptr;
        return Json(cJSON_ParseWithLength(body.data(), body.size()));
    }

private:
    bool sendAll(const char* from, size_t size) {
        for (size_t sent = 0; sent < size;) {
            ssize_t n = ::send(fd_, from + sent, size - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }
    bool readAll(char* to, size_t size) {
        for (size_t got = 0; got < size;) {
            ssize_t n = ::recv(fd_, to + got, size - got, 0);
            if (n <= 0)
                return false;
            got += static_cast<size_t>(n);
        }
        return true;
    }

    int fd_ = -1;
};

} // namespace platform::sway
