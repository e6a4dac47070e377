#include "platform/BrowserWindows.h"

#include "platform/linux/Xcb.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

// The parent of a process, from /proc/<pid>/stat; 0 when it is gone.
pid_t parentOf(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char buffer[512];
    ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (n <= 0)
        return 0;
    buffer[n] = '\0';
    const char* close = std::strrchr(buffer, ')');
    int ppid = 0;
    char state = 0;
    if (!close || std::sscanf(close + 1, " %c %d", &state, &ppid) != 2)
        return 0;
    return ppid;
}

bool descendsFrom(pid_t pid, pid_t ancestor) {
    for (int depth = 0; pid > 1 && depth < 16; ++depth) {
        if (pid == ancestor)
            return true;
        pid = parentOf(pid);
    }
    return false;
}

} // namespace

bool moveWindowOfProcess(pid_t pid, const Rect& area) {
    x11::Connection x;
    if (!x.open())
        return false;
    xcb_connection_t* c = x.get();
    const xcb_atom_t clientList = x11::internAtom(c, "_NET_CLIENT_LIST");
    const xcb_atom_t wmPid = x11::internAtom(c, "_NET_WM_PID");
    for (uint32_t w : x11::cardinals(c, x.root(), clientList, XCB_ATOM_WINDOW)) {
        const std::vector<uint32_t> owner = x11::cardinals(c, w, wmPid, XCB_ATOM_CARDINAL);
        if (owner.empty() || !descendsFrom(static_cast<pid_t>(owner[0]), pid) ||
            !x11::viewable(c, w))
            continue;
        const std::optional<x11::Placement> now = x11::placementOf(c, x.root(), w);
        const x11::FrameExtents frame = now ? now->extents() : x11::FrameExtents{};
        x11::moveFrameOver(c, x.root(), w, frame, area);
        x11::sync(c);
        return true;
    }
    return false;
}

bool killProcess(pid_t pid) {
    return pid > 0 && ::kill(pid, SIGKILL) == 0;
}

} // namespace platform
