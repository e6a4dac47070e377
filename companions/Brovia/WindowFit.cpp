#include "Brovia.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sys/wait.h>
#include <thread>
#include <vector>
#include <xcb/xcb.h>

// Chromium clamps the size it was given to the desktop's one combined work
// area (_NET_WORKAREA), which with a panel on one monitor is too short for
// the others, and the window manager adds its frame around it. This asks the
// window manager to leave the browser's window without a frame and puts
// whatever frame remains exactly over the rectangle once the window is
// mapped.

namespace {

struct X {
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0;
    xcb_atom_t clientList = 0, pidAtom = 0, frameExtents = 0, moveResize = 0, motifHints = 0;

    bool open() {
        c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c))
            return false;
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        clientList = atom("_NET_CLIENT_LIST");
        pidAtom = atom("_NET_WM_PID");
        frameExtents = atom("_NET_FRAME_EXTENTS");
        moveResize = atom("_NET_MOVERESIZE_WINDOW");
        motifHints = atom("_MOTIF_WM_HINTS");
        return true;
    }
    ~X() {
        if (c)
            xcb_disconnect(c);
    }
    xcb_atom_t atom(const char* name) {
        auto* r = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        xcb_atom_t a = r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        std::free(r);
        return a;
    }
    std::vector<uint32_t> cardinals(xcb_window_t w, xcb_atom_t property, xcb_atom_t type) {
        std::vector<uint32_t> values;
        auto* r =
            xcb_get_property_reply(c, xcb_get_property(c, 0, w, property, type, 0, 64), nullptr);
        if (r && r->format == 32) {
            auto* v = static_cast<uint32_t*>(xcb_get_property_value(r));
            values.assign(v, v + xcb_get_property_value_length(r) / 4);
        }
        std::free(r);
        return values;
    }
    bool viewable(xcb_window_t w) {
        auto* a = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
        bool result = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(a);
        return result;
    }
    // The browser's managed, mapped window.
    std::optional<xcb_window_t> windowOf(pid_t pid) {
        for (uint32_t w : cardinals(root, clientList, XCB_ATOM_WINDOW)) {
            auto pids = cardinals(w, pidAtom, XCB_ATOM_CARDINAL);
            if (!pids.empty() && pids[0] == static_cast<uint32_t>(pid) && viewable(w))
                return w;
        }
        return std::nullopt;
    }
};

struct FrameState {
    int left = 0, right = 0, top = 0, bottom = 0; // frame extents
    int x = 0, y = 0, width = 0, height = 0;      // the client on the root
};

std::optional<FrameState> frameOf(X& x, xcb_window_t w) {
    FrameState s;
    auto extents = x.cardinals(w, x.frameExtents, XCB_ATOM_CARDINAL);
    if (extents.size() == 4) {
        s.left = int(extents[0]), s.right = int(extents[1]);
        s.top = int(extents[2]), s.bottom = int(extents[3]);
    }
    auto* g = xcb_get_geometry_reply(x.c, xcb_get_geometry(x.c, w), nullptr);
    auto* t = xcb_translate_coordinates_reply(x.c, xcb_translate_coordinates(x.c, w, x.root, 0, 0),
                                              nullptr);
    std::optional<FrameState> result;
    if (g && t) {
        s.x = t->dst_x, s.y = t->dst_y, s.width = g->width, s.height = g->height;
        result = s;
    }
    std::free(g);
    std::free(t);
    return result;
}

bool frameCovers(const FrameState& s, const PagePlacement& page) {
    return s.x - s.left == page.left && s.y - s.top == page.top &&
           s.width + s.left + s.right == page.width() &&
           s.height + s.top + s.bottom == page.height();
}

void moveFrameOver(X& x, xcb_window_t w, const FrameState& s, const PagePlacement& page) {
    // A request to the window manager (_NET_MOVERESIZE_WINDOW) with static
    // gravity: the position is that of the client itself, inside the frame.
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = w;
    event.type = x.moveResize;
    const uint32_t staticGravity = 10, xywh = 0xF << 8, fromPager = 2 << 12;
    event.data.data32[0] = staticGravity | xywh | fromPager;
    event.data.data32[1] = static_cast<uint32_t>(page.left + s.left);
    event.data.data32[2] = static_cast<uint32_t>(page.top + s.top);
    event.data.data32[3] = static_cast<uint32_t>(std::max(1, page.width() - s.left - s.right));
    event.data.data32[4] = static_cast<uint32_t>(std::max(1, page.height() - s.top - s.bottom));
    xcb_send_event(x.c, 0, x.root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(x.c);
}

// Asks the window manager for no frame, no title bar and no border round the
// window (the Motif hints, which openbox and the common desktops honour), so
// that the page itself covers the whole rectangle.
void removeDecorations(X& x, xcb_window_t w) {
    const uint32_t decorationsFlag = 1u << 1;
    // flags, functions, decorations, input mode, status
    const uint32_t hints[5] = {decorationsFlag, 0, 0, 0, 0};
    xcb_change_property(x.c, XCB_PROP_MODE_REPLACE, w, x.motifHints, x.motifHints, 32, 5, hints);
    xcb_flush(x.c);
}

bool browserEnded(pid_t browser, int& status) {
    pid_t r;
    do
        r = waitpid(browser, &status, WNOHANG);
    while (r < 0 && errno == EINTR);
    return r == browser;
}

} // namespace

bool fitBrowserWindow(pid_t browser, const PagePlacement& page, int& status) {
    X x;
    if (!x.open())
        return false;
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::seconds(60);
    bool covered = false;
    clock::time_point coveredSince;
    std::optional<xcb_window_t> undecorated;
    while (clock::now() < deadline) {
        if (browserEnded(browser, status))
            return true;
        if (auto w = x.windowOf(browser)) {
            if (undecorated != w) {
                removeDecorations(x, *w);
                undecorated = w;
            }
            if (auto s = frameOf(x, *w)) {
                if (!frameCovers(*s, page)) {
                    covered = false;
                    moveFrameOver(x, *w, *s, page);
                } else if (!covered) {
                    covered = true;
                    coveredSince = clock::now();
                } else if (clock::now() - coveredSince > std::chrono::seconds(2)) {
                    return false; // settled
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}
