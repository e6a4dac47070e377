// The page windows that bypass the window manager (the plain page browser's)
// are stacked by whoever asks, not by the window manager: a dialog the
// window manager raises stays under them. Lowering them to the bottom lets
// every window Panoview shows come above the wall.
#include "platform/Process.h"
#include "platform/Windows.h"

#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

namespace platform {

namespace {

template <class T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <class T> Reply<T> reply(T* r) {
    return Reply<T>(r, &std::free);
}

// The process of a window, from its _NET_WM_PID; 0 when it names none.
pid_t windowProcess(xcb_connection_t* c, xcb_window_t window, xcb_atom_t pidAtom) {
    auto value = reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr));
    if (!value || xcb_get_property_value_length(value.get()) < 4)
        return 0;
    return static_cast<pid_t>(*static_cast<uint32_t*>(xcb_get_property_value(value.get())));
}

} // namespace

int lowerBrowserWindows() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    int lowered = 0;
    if (xcb_connection_has_error(c) == 0) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        auto atom =
            reply(xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, 11, "_NET_WM_PID"), nullptr));
        auto tree = reply(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr));
        if (atom && atom->atom != XCB_ATOM_NONE && tree) {
            const xcb_window_t* children = xcb_query_tree_children(tree.get());
            for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
                auto attributes = reply(xcb_get_window_attributes_reply(
                    c, xcb_get_window_attributes(c, children[i]), nullptr));
                if (!attributes || !attributes->override_redirect ||
                    attributes->map_state != XCB_MAP_STATE_VIEWABLE)
                    continue;
                const pid_t pid = windowProcess(c, children[i], atom->atom);
                if (pid <= 0 || processFileName(pid) != "Brovia")
                    continue;
                const uint32_t below = XCB_STACK_MODE_BELOW;
                xcb_configure_window(c, children[i], XCB_CONFIG_WINDOW_STACK_MODE, &below);
                ++lowered;
            }
        }
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); // the requests done
    }
    xcb_disconnect(c);
    return lowered;
}

} // namespace platform
