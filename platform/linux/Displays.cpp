// Displays from X11 RandR 1.5 monitors, with the _NET_WM_STRUT_PARTIAL
// struts of the managed windows (_NET_CLIENT_LIST) and each monitor's EDID.
#include "platform/Displays.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/randr.h>
#include <xcb/xcb.h>

namespace platform {
namespace {

template <typename T> struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter<T>>;

struct Connection {
    xcb_connection_t* c = nullptr;
    xcb_screen_t* screen = nullptr;
    ~Connection() {
        if (c)
            xcb_disconnect(c);
    }
    bool open(std::string& reason) {
        int screenNumber = 0;
        c = xcb_connect(nullptr, &screenNumber);
        if (int error = xcb_connection_has_error(c)) {
            const char* display = std::getenv("DISPLAY");
            if (!display || !*display)
                reason = "DISPLAY is not set";
            else
                reason = "cannot open X display \"" + std::string(display) + "\" (xcb error " +
                         std::to_string(error) + ")";
            return false;
        }
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = 0; i < screenNumber && it.rem; ++i)
            xcb_screen_next(&it);
        screen = it.data;
        if (!screen) {
            reason = "the X display has no screen";
            return false;
        }
        return true;
    }
};

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, std::strlen(name), name), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

std::string atomName(xcb_connection_t* c, xcb_atom_t atom) {
    Reply<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr));
    if (!reply)
        return {};
    return std::string(xcb_get_atom_name_name(reply.get()),
                       static_cast<size_t>(xcb_get_atom_name_name_length(reply.get())));
}

// A CARDINAL/WINDOW list property of 32-bit values.
std::vector<uint32_t> cardinals(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property,
                                xcb_atom_t type) {
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, property, type, 0, 1024), nullptr));
    std::vector<uint32_t> values;
    if (!reply || reply->format != 32)
        return values;
    const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    int count = xcb_get_property_value_length(reply.get()) / 4;
    values.assign(data, data + count);
    return values;
}

std::vector<Strut> dockedStruts(xcb_connection_t* c, xcb_window_t root) {
    xcb_atom_t clientList = internAtom(c, "_NET_CLIENT_LIST");
    xcb_atom_t strutPartial = internAtom(c, "_NET_WM_STRUT_PARTIAL");
    xcb_atom_t strutFull = internAtom(c, "_NET_WM_STRUT");
    std::vector<Strut> struts;
    if (clientList == XCB_ATOM_NONE)
        return struts;
    for (uint32_t window : cardinals(c, root, clientList, XCB_ATOM_WINDOW)) {
        std::vector<uint32_t> v = cardinals(c, window, strutPartial, XCB_ATOM_CARDINAL);
        if (v.size() >= 12) {
            struts.push_back(Strut{{v[0], v[1], v[2], v[3]},
                                   {v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11]}});
            continue;
        }
        // The older form reserves whole edges of the desktop.
        v = cardinals(c, window, strutFull, XCB_ATOM_CARDINAL);
        if (v.size() >= 4)
            struts.push_back(Strut::wholeEdges(v[0], v[1], v[2], v[3]));
    }
    return struts;
}

// The EDID block of an output, if it has one.
std::vector<uint8_t> edidBlock(xcb_connection_t* c, xcb_randr_output_t output,
                               xcb_atom_t edidAtom) {
    if (edidAtom == XCB_ATOM_NONE)
        return {};
    Reply<xcb_randr_get_output_property_reply_t> reply(xcb_randr_get_output_property_reply(
        c, xcb_randr_get_output_property(c, output, edidAtom, XCB_ATOM_ANY, 0, 64, 0, 0), nullptr));
    if (!reply || reply->format != 8)
        return {};
    const uint8_t* edid = xcb_randr_get_output_property_data(reply.get());
    int length = xcb_randr_get_output_property_data_length(reply.get());
    return std::vector<uint8_t>(edid, edid + std::max(length, 0));
}

std::string outputName(xcb_connection_t* c, xcb_randr_output_t output) {
    Reply<xcb_randr_get_output_info_reply_t> info(xcb_randr_get_output_info_reply(
        c, xcb_randr_get_output_info(c, output, XCB_CURRENT_TIME), nullptr));
    if (!info)
        return {};
    return std::string(reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get())),
                       static_cast<size_t>(xcb_randr_get_output_info_name_length(info.get())));
}

} // namespace

bool displayServerReachable(std::string& reason) {
    Connection connection;
    return connection.open(reason);
}

bool readDesktop(DesktopFacts& facts, std::string& reason) {
    Connection x;
    if (!x.open(reason))
        return false;
    Reply<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(x.c, xcb_randr_query_version(x.c, 1, 5), nullptr));
    facts.desktop = Rect{0, 0, x.screen->width_in_pixels, x.screen->height_in_pixels};
    facts.struts = dockedStruts(x.c, x.screen->root);
    facts.monitorsListed = version && (version->major_version > 1 || version->minor_version >= 5);
    if (!facts.monitorsListed)
        return true;

    xcb_atom_t edidAtom = internAtom(x.c, "EDID");
    Reply<xcb_randr_get_output_primary_reply_t> primaryReply(xcb_randr_get_output_primary_reply(
        x.c, xcb_randr_get_output_primary(x.c, x.screen->root), nullptr));
    const xcb_randr_output_t primaryOutput = primaryReply ? primaryReply->output : 0;
    Reply<xcb_randr_get_monitors_reply_t> monitors(
        xcb_randr_get_monitors_reply(x.c, xcb_randr_get_monitors(x.c, x.screen->root, 1), nullptr));
    if (!monitors) {
        reason = "RandR did not list the monitors";
        return false;
    }
    for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
         xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t* m = it.data;
        MonitorFacts monitor;
        monitor.name = atomName(x.c, m->name);
        monitor.rect = Rect{m->x, m->y, m->x + m->width, m->y + m->height};
        monitor.flaggedPrimary = m->primary != 0;
        const int outputCount = xcb_randr_monitor_info_outputs_length(m);
        const xcb_randr_output_t* outputs = xcb_randr_monitor_info_outputs(m);
        if (outputCount > 0) {
            monitor.edid = edidBlock(x.c, outputs[0], edidAtom);
            monitor.outputName = outputName(x.c, outputs[0]);
        }
        for (int i = 0; i < outputCount; ++i)
            monitor.holdsPrimaryOutput =
                monitor.holdsPrimaryOutput || (primaryOutput != 0 && outputs[i] == primaryOutput);
        facts.monitors.push_back(std::move(monitor));
    }
    return true;
}

} // namespace platform
