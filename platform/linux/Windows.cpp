#include "platform/Windows.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace platform {
namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

struct Desktop {
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0;
    ~Desktop() {
        if (c)
            xcb_disconnect(c);
    }
    bool open() {
        c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c))
            return false;
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        return true;
    }
    xcb_atom_t atom(const char* name) {
        Reply<xcb_intern_atom_reply_t> r(
            xcb_intern_atom_reply(
                c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr),
            &std::free);
        return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    }
    std::vector<uint32_t> cardinals(xcb_window_t w, xcb_atom_t property, xcb_atom_t type) {
        Reply<xcb_get_property_reply_t> r(
            xcb_get_property_reply(c, xcb_get_property(c, 0, w, property, type, 0, 1024), nullptr),
            &std::free);
        std::vector<uint32_t> values;
        if (r && r->format == 32) {
            auto* v = static_cast<const uint32_t*>(xcb_get_property_value(r.get()));
            values.assign(v, v + xcb_get_property_value_length(r.get()) / 4);
        }
        return values;
    }
    bool viewable(xcb_window_t w) {
        Reply<xcb_get_window_attributes_reply_t> a(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr),
            &std::free);
        return a && a->map_state == XCB_MAP_STATE_VIEWABLE;
    }
};

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
    Desktop d;
    if (!d.open())
        return false;
    const xcb_atom_t clientList = d.atom("_NET_CLIENT_LIST");
    const xcb_atom_t wmPid = d.atom("_NET_WM_PID");
    const xcb_atom_t frameExtents = d.atom("_NET_FRAME_EXTENTS");
    const xcb_atom_t moveResize = d.atom("_NET_MOVERESIZE_WINDOW");
    for (uint32_t w : d.cardinals(d.root, clientList, XCB_ATOM_WINDOW)) {
        const std::vector<uint32_t> owner = d.cardinals(w, wmPid, XCB_ATOM_CARDINAL);
        if (owner.empty() || !descendsFrom(static_cast<pid_t>(owner[0]), pid) || !d.viewable(w))
            continue;
        int left = 0, right = 0, top = 0, bottom = 0;
        const std::vector<uint32_t> extents = d.cardinals(w, frameExtents, XCB_ATOM_CARDINAL);
        if (extents.size() == 4)
            left = int(extents[0]), right = int(extents[1]), top = int(extents[2]),
            bottom = int(extents[3]);
        // Static gravity: the position is the client's own, inside its frame.
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = w;
        event.type = moveResize;
        const uint32_t staticGravity = 10, xywh = 0xF << 8, fromPager = 2 << 12;
        event.data.data32[0] = staticGravity | xywh | fromPager;
        event.data.data32[1] = static_cast<uint32_t>(area.left + left);
        event.data.data32[2] = static_cast<uint32_t>(area.top + top);
        event.data.data32[3] = static_cast<uint32_t>(std::max(1, area.width() - left - right));
        event.data.data32[4] = static_cast<uint32_t>(std::max(1, area.height() - top - bottom));
        xcb_send_event(d.c, 0, d.root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
        Reply<xcb_get_input_focus_reply_t> sync(
            xcb_get_input_focus_reply(d.c, xcb_get_input_focus(d.c), nullptr), &std::free);
        return true;
    }
    return false;
}

bool killProcess(pid_t pid) {
    return pid > 0 && ::kill(pid, SIGKILL) == 0;
}

} // namespace platform
