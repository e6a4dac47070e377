#include "platform/ShellClient.h"

#include "platform/Instance.h"
#include "platform/linux/Fd.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr const char* socketName = "Tolvan_shellclient_Main";

} // namespace

std::string shellClientSocketPath() {
    return userRuntimeFolder() + "/" + socketName;
}

bool sendShellClientNotice(const std::string& path, uint32_t dataId, std::string_view bytes) {
    if (bytes.size() > UINT32_MAX)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // A path that does not fit the socket address cannot name a listener.
    if (path.empty() || path.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.data(), path.size());

    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0)
        return false;
    // Bounds the connect (a full backlog), the writes and the wait for the
    // acknowledgement, so that a stuck listener cannot hang the caller.
    timeval limit{};
    limit.tv_sec = shellClientAckTimeoutMs / 1000;
    limit.tv_usec = (shellClientAckTimeoutMs % 1000) * 1000;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);

    int rc;
    do {
        rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0)
        return false; // nobody listens: the notice is dropped

    const uint32_t header[2] = {dataId, static_cast<uint32_t>(bytes.size())};
    if (!writeAll(fd.get(), header, sizeof header, WriteTo::Socket) ||
        !writeAll(fd.get(), bytes.data(), bytes.size(), WriteTo::Socket))
        return false;

    // The notice is synchronous: wait until the listener says it has handled
    // it (or has gone away, or the bound has passed).
    char ack = 0;
    ssize_t n;
    do {
        n = ::recv(fd.get(), &ack, 1, 0);
    } while (n < 0 && errno == EINTR);
    return true;
}

} // namespace platform
