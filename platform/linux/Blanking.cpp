#include "platform/Blanking.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <xcb/dpms.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>

namespace platform {
namespace {

struct BlankingHold {
    std::mutex mutex;
    xcb_connection_t* c = nullptr; // open while the hold lasts
    bool dpmsWasOn = false;
};

BlankingHold& hold() {
    static BlankingHold h;
    return h;
}

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

} // namespace

bool holdOffBlanking() {
    BlankingHold& h = hold();
    std::lock_guard<std::mutex> lock(h.mutex);
    if (h.c)
        return true;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    // The screen saver is suspended for as long as this connection lives.
    xcb_screensaver_suspend(c, 1);
    Reply<xcb_dpms_capable_reply_t> capable(xcb_dpms_capable_reply(c, xcb_dpms_capable(c), nullptr),
                                            &std::free);
    if (capable && capable->capable) {
        Reply<xcb_dpms_info_reply_t> info(xcb_dpms_info_reply(c, xcb_dpms_info(c), nullptr),
                                          &std::free);
        h.dpmsWasOn = info && info->state;
        if (h.dpmsWasOn)
            xcb_dpms_disable(c);
    }
    xcb_flush(c);
    h.c = c;
    return true;
}

void releaseBlanking() {
    BlankingHold& h = hold();
    std::lock_guard<std::mutex> lock(h.mutex);
    if (!h.c)
        return;
    if (h.dpmsWasOn)
        xcb_dpms_enable(h.c);
    xcb_screensaver_suspend(h.c, 0);
    // Wait for the server to take both before the connection goes.
    Reply<xcb_get_input_focus_reply_t> sync(
        xcb_get_input_focus_reply(h.c, xcb_get_input_focus(h.c), nullptr), &std::free);
    xcb_disconnect(h.c);
    h.c = nullptr;
    h.dpmsWasOn = false;
}

} // namespace platform
