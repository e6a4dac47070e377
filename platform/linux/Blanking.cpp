#include "platform/Blanking.h"

#include "platform/linux/Xcb.h"

#include <mutex>
#include <xcb/dpms.h>
#include <xcb/screensaver.h>

namespace platform {
namespace {

struct BlankingHold {
    std::mutex mutex;
    x11::Connection x; // open while the hold lasts
    bool dpmsWasOn = false;
};

BlankingHold& hold() {
    static BlankingHold h;
    return h;
}

} // namespace

bool holdOffBlanking() {
    BlankingHold& h = hold();
    std::lock_guard<std::mutex> lock(h.mutex);
    if (h.x.get())
        return true;
    if (!h.x.open())
        return false;
    xcb_connection_t* c = h.x.get();
    // The screen saver is suspended for as long as this connection lives.
    xcb_screensaver_suspend(c, 1);
    auto capable = x11::reply(xcb_dpms_capable_reply(c, xcb_dpms_capable(c), nullptr));
    if (capable && capable->capable) {
        auto info = x11::reply(xcb_dpms_info_reply(c, xcb_dpms_info(c), nullptr));
        h.dpmsWasOn = info && info->state;
        if (h.dpmsWasOn)
            xcb_dpms_disable(c);
    }
    xcb_flush(c);
    return true;
}

void releaseBlanking() {
    BlankingHold& h = hold();
    std::lock_guard<std::mutex> lock(h.mutex);
    xcb_connection_t* c = h.x.get();
    if (!c)
        return;
    if (h.dpmsWasOn)
        xcb_dpms_enable(c);
    xcb_screensaver_suspend(c, 0);
    // Wait for the server to take both before the connection goes.
    x11::sync(c);
    h.x.close();
    h.dpmsWasOn = false;
}

} // namespace platform
