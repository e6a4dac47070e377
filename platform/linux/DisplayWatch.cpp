#include "platform/DisplayWatch.h"

#include "platform/Displays.h"
#include "platform/linux/Xcb.h"

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <xcb/randr.h>

namespace platform {
namespace {

// What a change is measured by: the monitors' names, rectangles and primary
// flags, the panels' reservations and the work areas the desktop publishes.
std::string fingerprint() {
    DesktopFacts facts;
    std::string reason;
    if (!readDesktop(facts, reason))
        return "unreachable";
    const auto rect = [](const Rect& r) {
        return std::to_string(r.left) + "," + std::to_string(r.top) + "," +
               std::to_string(r.right) + "," + std::to_string(r.bottom) + ";";
    };
    std::string print =
        std::to_string(facts.desktop.right) + "x" + std::to_string(facts.desktop.bottom) + ";";
    for (const MonitorFacts& m : facts.monitors)
        print += m.name + "@" + rect(m.rect) + (m.flaggedPrimary ? "*" : "") +
                 (m.holdsPrimaryOutput ? "+" : "");
    print += "work:";
    for (const Rect& r : facts.monitorWorkAreas)
        print += rect(r);
    if (facts.desktopWorkArea)
        print += "all:" + rect(*facts.desktopWorkArea);
    for (const Strut& s : facts.struts) {
        for (uint32_t v : s.edge)
            print += std::to_string(v) + ",";
        for (uint32_t v : s.range)
            print += std::to_string(v) + ",";
        print += ";";
    }
    return print;
}

class XDisplayWatch : public DisplayWatch {
public:
    XDisplayWatch(xcb_connection_t* c, int wake[2], std::function<void()> changed)
        : c_(c), changed_(std::move(changed)) {
        wakeRead_ = wake[0];
        wakeWrite_ = wake[1];
        thread_ = std::thread([this] { run(); });
    }
    ~XDisplayWatch() override {
        stopping_ = true;
        char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &byte, 1);
        thread_.join();
        ::close(wakeRead_);
        ::close(wakeWrite_);
        xcb_disconnect(c_);
    }

private:
    void run() {
        std::string last = fingerprint();
        pollfd fds[2] = {{xcb_get_file_descriptor(c_), POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        while (!stopping_) {
            ::poll(fds, 2, 2000);
            if (stopping_ || xcb_connection_has_error(c_))
                return;
            // Drain the events: each is only a hint to look again.
            while (xcb_generic_event_t* event = xcb_poll_for_event(c_))
                std::free(event);
            const std::string now = fingerprint();
            if (now != last) {
                last = now;
                changed_();
            }
        }
    }

    xcb_connection_t* c_;
    std::function<void()> changed_;
    int wakeRead_ = -1, wakeWrite_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace

std::unique_ptr<DisplayWatch> DisplayWatch::start(std::function<void()> changed) {
    x11::Connection x;
    int wake[2];
    if (!x.open() || ::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return nullptr;
    xcb_connection_t* c = x.get();
    const xcb_window_t root = x.root();
    xcb_randr_select_input(c, root,
                           XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                               XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
    // _NET_CLIENT_LIST changes when a panel comes or goes; _NET_WORKAREA and
    // _GTK_WORKAREAS_Dn when the desktop's own panels do.
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    return std::make_unique<XDisplayWatch>(x.release(), wake, std::move(changed));
}

} // namespace platform
