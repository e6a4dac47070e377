// The page windows that bypass the window manager (the plain page browser's)
// are stacked by whoever asks, not by the window manager: a dialog the
// window manager raises stays under them. Lowering them to the bottom lets
// every window Panoview shows come above the wall.
#include "platform/BrowserWindows.h"
#include "platform/Process.h"
#include "platform/linux/Xcb.h"

namespace platform {

int lowerBrowserWindows() {
    x11::Connection x;
    if (!x.open())
        return 0;
    xcb_connection_t* c = x.get();
    const xcb_atom_t pidAtom = x11::internAtom(c, "_NET_WM_PID");
    auto tree = x11::reply(xcb_query_tree_reply(c, xcb_query_tree(c, x.root()), nullptr));
    if (pidAtom == XCB_ATOM_NONE || !tree)
        return 0;
    int lowered = 0;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        auto attributes = x11::reply(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr));
        if (!attributes || !attributes->override_redirect ||
            attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        const std::vector<uint32_t> pid =
            x11::cardinals(c, children[i], pidAtom, XCB_ATOM_CARDINAL, 1);
        if (pid.empty() || processFileName(static_cast<pid_t>(pid[0])) != "Brovia")
            continue;
        const uint32_t below = XCB_STACK_MODE_BELOW;
        xcb_configure_window(c, children[i], XCB_CONFIG_WINDOW_STACK_MODE, &below);
        ++lowered;
    }
    x11::sync(c);
    return lowered;
}

} // namespace platform
