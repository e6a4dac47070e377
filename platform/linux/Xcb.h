// The one X11 toolkit of the desktop services and of Brovia: a connection to
// the display server, replies that free themselves, atoms, property reads and
// the window manager requests the wall sends. Header-only, so that Brovia,
// which links none of Panoview's libraries, uses the same code.
#pragma once

#include "common/Geometry.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include <xcb/randr.h>
#include <xcb/xcb.h>

namespace platform::x11 {

// A reply of the server, freed with the C library's free as xcb requires.
struct FreeReply {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeReply>;

// Takes ownership of what an xcb_*_reply call returned (may be null).
template <typename T> Reply<T> reply(T* raw) {
    return Reply<T>(raw);
}

// A connection to the display server for the life of the object, with the
// screen it names. `display` null means $DISPLAY.
class Connection {
public:
    Connection() = default;
    ~Connection() { close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // False, with a reason naming the display tried, when it cannot be
    // opened or has no screen.
    bool open(std::string& reason, const char* display = nullptr) {
        close();
        int screenNumber = 0;
        c_ = xcb_connect(display, &screenNumber);
        if (int error = xcb_connection_has_error(c_)) {
            const char* named = display ? display : std::getenv("DISPLAY");
            if (!named || !*named)
                reason = "DISPLAY is not set";
            else
                reason = "cannot open X display \"" + std::string(named) + "\" (xcb error " +
                         std::to_string(error) + ")";
            return false;
        }
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c_));
        for (int i = 0; i < screenNumber && it.rem; ++i)
            xcb_screen_next(&it);
        screen_ = it.rem ? it.data : nullptr;
        screenNumber_ = screenNumber;
        if (!screen_) {
            reason = "the X display has no screen";
            return false;
        }
        return true;
    }
    bool open(const char* display = nullptr) {
        std::string reason;
        return open(reason, display);
    }
    void close() {
        if (c_)
            xcb_disconnect(c_);
        c_ = nullptr;
        screen_ = nullptr;
    }
    // Hands the connection over to a caller that closes it itself.
    xcb_connection_t* release() {
        xcb_connection_t* c = c_;
        c_ = nullptr;
        screen_ = nullptr;
        return c;
    }
    bool broken() const { return !c_ || xcb_connection_has_error(c_); }

    xcb_connection_t* get() const { return c_; }
    const xcb_screen_t* screen() const { return screen_; }
    xcb_window_t root() const { return screen_ ? screen_->root : xcb_window_t{XCB_WINDOW_NONE}; }
    int screenNumber() const { return screenNumber_; }

private:
    xcb_connection_t* c_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    int screenNumber_ = 0;
};

// The atom of a name; XCB_ATOM_NONE when it cannot be had (or, with
// onlyIfExists, when no client has made it yet).
inline xcb_atom_t internAtom(xcb_connection_t* c, const std::string& name,
                             bool onlyIfExists = false) {
    auto r = reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, onlyIfExists, static_cast<uint16_t>(name.size()), name.c_str()),
        nullptr));
    return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
}

inline std::string atomName(xcb_connection_t* c, xcb_atom_t atom) {
    auto r = reply(xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr));
    if (!r)
        return {};
    return std::string(xcb_get_atom_name_name(r.get()),
                       static_cast<size_t>(xcb_get_atom_name_name_length(r.get())));
}

// A property of 32-bit values (CARDINAL, WINDOW, ATOM lists); empty when the
// window has none of that type.
inline std::vector<uint32_t> cardinals(xcb_connection_t* c, xcb_window_t window,
                                       xcb_atom_t property, xcb_atom_t type,
                                       uint32_t maxValues = 1024) {
    std::vector<uint32_t> values;
    if (property == XCB_ATOM_NONE)
        return values;
    auto r = reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, property, type, 0, maxValues), nullptr));
    if (!r || r->format != 32)
        return values;
    const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(r.get()));
    values.assign(data, data + xcb_get_property_value_length(r.get()) / 4);
    return values;
}

// A text property (UTF8_STRING, STRING) as it stands.
inline std::string textProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property,
                                xcb_atom_t type) {
    if (property == XCB_ATOM_NONE)
        return {};
    auto r = reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, property, type, 0, 4096), nullptr));
    if (!r || r->format != 8)
        return {};
    return std::string(static_cast<const char*>(xcb_get_property_value(r.get())),
                       static_cast<size_t>(xcb_get_property_value_length(r.get())));
}

// Rectangles stored as x, y, width, height quadruples (_NET_WORKAREA,
// _GTK_WORKAREAS_Dn).
inline std::vector<Rect> rectangles(const std::vector<uint32_t>& values) {
    std::vector<Rect> rects;
    for (size_t i = 0; i + 4 <= values.size(); i += 4) {
        const auto x = static_cast<int32_t>(values[i]), y = static_cast<int32_t>(values[i + 1]);
        rects.push_back(Rect{x, y, x + static_cast<int32_t>(values[i + 2]),
                             y + static_cast<int32_t>(values[i + 3])});
    }
    return rects;
}

inline bool viewable(xcb_connection_t* c, xcb_window_t w) {
    auto a = reply(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr));
    return a && a->map_state == XCB_MAP_STATE_VIEWABLE;
}

// Waits until the server has handled every request sent so far.
inline void sync(xcb_connection_t* c) {
    reply(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

// Sends a client message about a window to the root, as the EWMH asks for
// requests to the window manager.
inline void sendToWindowManager(xcb_connection_t* c, xcb_window_t root, xcb_window_t window,
                                xcb_atom_t type, const uint32_t (&data)[5]) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    std::copy(std::begin(data), std::end(data), event.data.data32);
    xcb_send_event(c, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
}

// The window manager's frame widths round a client (_NET_FRAME_EXTENTS).
struct FrameExtents {
    int left = 0, right = 0, top = 0, bottom = 0;
};

// Where a window lies on the root: its own area and the window manager's
// frame round it (its ancestor that is a child of the root, or the window
// itself when nothing reparented it). Measured on the server, not read from
// _NET_FRAME_EXTENTS: a window manager may keep announcing a frame for a
// window it was asked not to decorate.
struct Placement {
    Rect client;
    Rect frame;
    bool operator==(const Placement&) const = default;
    FrameExtents extents() const {
        return {client.left - frame.left, frame.right - client.right, client.top - frame.top,
                frame.bottom - client.bottom};
    }
};

inline std::optional<Rect> rootRectOf(xcb_connection_t* c, xcb_window_t root, xcb_window_t w,
                                      bool withBorder) {
    auto g = reply(xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr));
    auto t = reply(
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, w, root, 0, 0), nullptr));
    if (!g || !t)
        return std::nullopt;
    const int border = withBorder ? g->border_width : 0;
    return Rect{t->dst_x - border, t->dst_y - border, t->dst_x + g->width + border,
                t->dst_y + g->height + border};
}

inline std::optional<Placement> placementOf(xcb_connection_t* c, xcb_window_t root,
                                            xcb_window_t w) {
    xcb_window_t top = w;
    for (int depth = 0; depth < 8; ++depth) {
        auto tree = reply(xcb_query_tree_reply(c, xcb_query_tree(c, top), nullptr));
        if (!tree)
            return std::nullopt;
        if (tree->parent == root || tree->parent == XCB_WINDOW_NONE)
            break;
        top = tree->parent;
    }
    auto client = rootRectOf(c, root, w, false);
    auto frame = rootRectOf(c, root, top, top != w);
    if (!client || !frame)
        return std::nullopt;
    return Placement{*client, *frame};
}

// Asks the window manager (_NET_MOVERESIZE_WINDOW, as a pager) to put the
// frame of the window exactly over the area. Static gravity: the position
// sent is that of the client itself, inside the frame.
inline void moveFrameOver(xcb_connection_t* c, xcb_window_t root, xcb_window_t window,
                          const FrameExtents& frame, const Rect& area) {
    const uint32_t staticGravity = 10, xywh = 0xF << 8, fromPager = 2 << 12;
    const uint32_t data[5] = {
        staticGravity | xywh | fromPager,
        static_cast<uint32_t>(area.left + frame.left),
        static_cast<uint32_t>(area.top + frame.top),
        static_cast<uint32_t>(std::max(1, area.width() - frame.left - frame.right)),
        static_cast<uint32_t>(std::max(1, area.height() - frame.top - frame.bottom)),
    };
    sendToWindowManager(c, root, window, internAtom(c, "_NET_MOVERESIZE_WINDOW"), data);
    xcb_flush(c);
}

// Whether the X server is XWayland, the X11 server of a Wayland desktop
// (GNOME, KDE, sway). Newer XWaylands announce an extension of that name;
// every XWayland names its RandR outputs "XWAYLAND<n>" unless the compositor
// gives them names, so both are asked.
inline bool servedByXWayland(xcb_connection_t* c, xcb_window_t root) {
    const char name[] = "XWAYLAND";
    auto extension =
        reply(xcb_query_extension_reply(c, xcb_query_extension(c, sizeof name - 1, name), nullptr));
    if (extension && extension->present)
        return true;
    auto resources = reply(xcb_randr_get_screen_resources_current_reply(
        c, xcb_randr_get_screen_resources_current(c, root), nullptr));
    if (!resources)
        return false;
    const xcb_randr_output_t* outputs =
        xcb_randr_get_screen_resources_current_outputs(resources.get());
    const int count = xcb_randr_get_screen_resources_current_outputs_length(resources.get());
    for (int i = 0; i < count; ++i) {
        auto info = reply(xcb_randr_get_output_info_reply(
            c, xcb_randr_get_output_info(c, outputs[i], resources->config_timestamp), nullptr));
        if (!info)
            continue;
        const std::string output(
            reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get())),
            static_cast<size_t>(xcb_randr_get_output_info_name_length(info.get())));
        if (output.rfind(name, 0) == 0)
            return true;
    }
    return false;
}

} // namespace platform::x11
