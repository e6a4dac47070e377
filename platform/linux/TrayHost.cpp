#include "platform/TrayHost.h"

#include "platform/linux/Xcb.h"

#include <mutex>
#include <string>

namespace platform {
namespace {

// One connection for the life of the process: the owner is asked every few
// seconds, and a fresh connection each time would cost more than the question.
struct TrayConnection {
    x11::Connection x;
    xcb_atom_t selection = XCB_ATOM_NONE;

    bool ready() {
        if (!x.broken())
            return selection != XCB_ATOM_NONE;
        if (!x.open())
            return false;
        selection =
            x11::internAtom(x.get(), "_NET_SYSTEM_TRAY_S" + std::to_string(x.screenNumber()));
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
    xcb_connection_t* c = connection.x.get();
    auto owner = x11::reply(xcb_get_selection_owner_reply(
        c, xcb_get_selection_owner(c, connection.selection), nullptr));
    return owner ? owner->owner : 0;
}

} // namespace platform
