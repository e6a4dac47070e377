// Displays from X11 RandR 1.5 monitors, with each monitor's EDID, and the
// work areas as the desktop publishes them: the _NET_WM_STRUT_PARTIAL struts
// of the managed windows (_NET_CLIENT_LIST), mutter's per-monitor
// _GTK_WORKAREAS_D<n>, the desktop's _NET_WORKAREA, and, on sway, the usable
// area of each output from sway's IPC socket.
#include "platform/Displays.h"

#include "platform/linux/SwayIpc.h"
#include "platform/linux/Xcb.h"

#include <algorithm>
#include <cstring>
#include <xcb/randr.h>

namespace platform {
namespace {

using x11::atomName;
using x11::cardinals;
using x11::Connection;
using x11::internAtom;
using x11::reply;

std::vector<Strut> dockedStruts(xcb_connection_t* c, xcb_window_t root) {
    xcb_atom_t clientList = internAtom(c, "_NET_CLIENT_LIST", true);
    xcb_atom_t strutPartial = internAtom(c, "_NET_WM_STRUT_PARTIAL", true);
    xcb_atom_t strutFull = internAtom(c, "_NET_WM_STRUT", true);
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

// The work areas the window manager publishes on the root window: mutter's
// per-monitor list for the current desktop and the current desktop's entry of
// _NET_WORKAREA.
void publishedWorkAreas(xcb_connection_t* c, xcb_window_t root, DesktopFacts& facts) {
    const std::vector<uint32_t> current =
        cardinals(c, root, internAtom(c, "_NET_CURRENT_DESKTOP", true), XCB_ATOM_CARDINAL, 1);
    const uint32_t desktop = current.empty() ? 0 : current[0];
    facts.monitorWorkAreas = x11::rectangles(
        cardinals(c, root, internAtom(c, "_GTK_WORKAREAS_D" + std::to_string(desktop), true),
                  XCB_ATOM_CARDINAL));
    const std::vector<Rect> perDesktop = x11::rectangles(
        cardinals(c, root, internAtom(c, "_NET_WORKAREA", true), XCB_ATOM_CARDINAL));
    if (desktop < perDesktop.size())
        facts.desktopWorkArea = perDesktop[desktop];
}

std::optional<Rect> swayRect(const cJSON* item) {
    const cJSON* rect = cJSON_GetObjectItemCaseSensitive(item, "rect");
    const char* names[] = {"x", "y", "width", "height"};
    int v[4];
    for (int i = 0; i < 4; ++i) {
        const cJSON* n = cJSON_GetObjectItemCaseSensitive(rect, names[i]);
        if (!cJSON_IsNumber(n))
            return std::nullopt;
        v[i] = n->valueint;
    }
    return Rect{v[0], v[1], v[0] + v[2], v[1] + v[3]};
}

// The usable area of each active output of sway (its current workspace's
// rectangle: the output less its bars), in sway's layout coordinates, which
// are XWayland's desktop coordinates. Empty unless SWAYSOCK names a socket
// that answers within a second.
std::vector<Rect> swayWorkAreas() {
    std::vector<Rect> areas;
    sway::Ipc ipc;
    if (!ipc.open())
        return areas;
    const sway::Json outputs = ipc.request(sway::kGetOutputs);
    const sway::Json workspaces = ipc.request(sway::kGetWorkspaces);
    const cJSON* output = nullptr;
    cJSON_ArrayForEach(output, outputs.get()) {
        const cJSON* current = cJSON_GetObjectItemCaseSensitive(output, "current_workspace");
        if (!cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(output, "active")) ||
            !cJSON_IsString(current))
            continue;
        const cJSON* workspace = nullptr;
        cJSON_ArrayForEach(workspace, workspaces.get()) {
            const cJSON* name = cJSON_GetObjectItemCaseSensitive(workspace, "name");
            if (cJSON_IsString(name) && std::strcmp(name->valuestring, current->valuestring) == 0)
                if (auto rect = swayRect(workspace))
                    areas.push_back(*rect);
        }
    }
    return areas;
}

// The EDID block of an output, if it has one.
std::vector<uint8_t> edidBlock(xcb_connection_t* c, xcb_randr_output_t output,
                               xcb_atom_t edidAtom) {
    if (edidAtom == XCB_ATOM_NONE)
        return {};
    auto property = reply(xcb_randr_get_output_property_reply(
        c, xcb_randr_get_output_property(c, output, edidAtom, XCB_ATOM_ANY, 0, 64, 0, 0), nullptr));
    if (!property || property->format != 8)
        return {};
    const uint8_t* edid = xcb_randr_get_output_property_data(property.get());
    int length = xcb_randr_get_output_property_data_length(property.get());
    return std::vector<uint8_t>(edid, edid + std::max(length, 0));
}

std::string outputName(xcb_connection_t* c, xcb_randr_output_t output) {
    auto info = reply(xcb_randr_get_output_info_reply(
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
    xcb_connection_t* c = x.get();
    auto version =
        reply(xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
    facts.desktop = Rect{0, 0, x.screen()->width_in_pixels, x.screen()->height_in_pixels};
    facts.struts = dockedStruts(c, x.root());
    publishedWorkAreas(c, x.root(), facts);
    if (std::vector<Rect> sway = swayWorkAreas(); !sway.empty())
        facts.monitorWorkAreas = std::move(sway);
    facts.monitorsListed = version && (version->major_version > 1 || version->minor_version >= 5);
    if (!facts.monitorsListed)
        return true;

    xcb_atom_t edidAtom = internAtom(c, "EDID", true);
    auto primaryReply = reply(
        xcb_randr_get_output_primary_reply(c, xcb_randr_get_output_primary(c, x.root()), nullptr));
    const xcb_randr_output_t primaryOutput = primaryReply ? primaryReply->output : 0;
    auto monitors =
        reply(xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, x.root(), 1), nullptr));
    if (!monitors) {
        reason = "RandR did not list the monitors";
        return false;
    }
    for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
         xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t* m = it.data;
        MonitorFacts monitor;
        monitor.name = atomName(c, m->name);
        monitor.rect = Rect{m->x, m->y, m->x + m->width, m->y + m->height};
        monitor.flaggedPrimary = m->primary != 0;
        const int outputCount = xcb_randr_monitor_info_outputs_length(m);
        const xcb_randr_output_t* outputs = xcb_randr_monitor_info_outputs(m);
        if (outputCount > 0) {
            monitor.edid = edidBlock(c, outputs[0], edidAtom);
            monitor.outputName = outputName(c, outputs[0]);
        }
        for (int i = 0; i < outputCount; ++i)
            monitor.holdsPrimaryOutput =
                monitor.holdsPrimaryOutput || (primaryOutput != 0 && outputs[i] == primaryOutput);
        facts.monitors.push_back(std::move(monitor));
    }
    return true;
}

} // namespace platform
