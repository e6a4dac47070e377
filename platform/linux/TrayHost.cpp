#include "platform/TrayHost.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <xcb/xcb.h>

namespace platform {
namespace {

// One connection for the life of the process: the owner is asked every few
// seconds, and a fresh connection each time would cost more than the question.
struct TrayConnection {
    xcb_connection_t* c = nullptr;
    xcb_atom_t selection = XCB_ATOM_NONE;

    bool ready() {
        if (c && !xcb_connection_has_error(c))
            return selection != XCB_ATOM_NONE;
        if (c)
            xcb_disconnect(c);
        int screen = 0;
        c = xcb_connect(nullptr, &screen);
        if (xcb_connection_has_error(c))
            return false;
        const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, name.size(), name.c_str()), nullptr),
            &std::free);
        selection = atom ? atom->atom : xcb_atom_t{XCB_ATOM_NONE};
        return selection != XCB_ATOM_NONE;
    }
};

} // namespace

uint32_t trayHostWindow() {
    static std::mutex mutex;
    static TrayConnection connection;
    std::lock_guard<std::mutex> lock(mutex);
    if (!connection.ready())
        return 0;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(
            connection.c, xcb_get_selection_owner(connection.c, connection.selection), nullptr),
        &std::free);
    return owner ? owner->owner : 0;
}

} // namespace platform
