#include "Brovia.h"
#include "ChromiumLaunch.h"
#include "PageWatch.h"

#include "platform/linux/SwayIpc.h"
#include "platform/linux/Xcb.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <sys/wait.h>
#include <thread>
#include <vector>
#include <xcb/xinerama.h>

// Chromium clamps the size it was given to the desktop's one combined work
// area (_NET_WORKAREA), some window managers maximise a window that large
// (mutter) or tile it (sway), and most add a frame round it. So once the
// browser's window is mapped, Brovia places it itself:
// - a rectangle that is a whole monitor becomes full screen on that monitor
//   (_NET_WM_FULLSCREEN_MONITORS and _NET_WM_STATE_FULLSCREEN, the EWMH's
//   requests for a mapped window);
// - any other rectangle gets an undecorated normal window moved and sized
//   over it (_NET_MOVERESIZE_WINDOW); a window manager that maximises the
//   window over that same rectangle has fitted it too, one that maximised it
//   elsewhere is asked to let it go first;
// - on sway, which tiles X11 windows and ignores their requests, the window
//   floats at the rectangle by sway's own commands.
// Where the window lies is measured on the server (the client window and the
// frame round it), never read from _NET_FRAME_EXTENTS: a window manager may
// keep announcing a frame for a window it was asked not to decorate.

namespace {

namespace x11 = platform::x11;
using clock = std::chrono::steady_clock;

struct Desk {
    x11::Connection connection;
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0;
    xcb_atom_t clientList = 0, pidAtom = 0, motifHints = 0, wmState = 0, fullscreen = 0,
               fullscreenMonitors = 0, maximizedVert = 0, maximizedHorz = 0;
    std::vector<xcb_atom_t> supported; // _NET_SUPPORTED of the window manager

    bool open() {
        if (!connection.open())
            return false;
        c = connection.get();
        root = connection.root();
        clientList = x11::internAtom(c, "_NET_CLIENT_LIST");
        pidAtom = x11::internAtom(c, "_NET_WM_PID");
        motifHints = x11::internAtom(c, "_MOTIF_WM_HINTS");
        wmState = x11::internAtom(c, "_NET_WM_STATE");
        fullscreen = x11::internAtom(c, "_NET_WM_STATE_FULLSCREEN");
        fullscreenMonitors = x11::internAtom(c, "_NET_WM_FULLSCREEN_MONITORS");
        maximizedVert = x11::internAtom(c, "_NET_WM_STATE_MAXIMIZED_VERT");
        maximizedHorz = x11::internAtom(c, "_NET_WM_STATE_MAXIMIZED_HORZ");
        supported = x11::cardinals(c, root, x11::internAtom(c, "_NET_SUPPORTED"), XCB_ATOM_ATOM);
        return true;
    }
    bool supports(xcb_atom_t atom) const {
        return std::find(supported.begin(), supported.end(), atom) != supported.end();
    }
    // The windows the browser's window may be: those the window manager
    // lists (_NET_CLIENT_LIST); where it keeps no list (weston), the
    // root's children and theirs, since a frame holds its client one level
    // down. Override-redirect windows (menus, Chromium's clipboard window)
    // are no window manager's and never the page's window.
    std::vector<xcb_window_t> candidates() {
        if (supports(clientList)) {
            std::vector<uint32_t> listed = x11::cardinals(c, root, clientList, XCB_ATOM_WINDOW);
            return {listed.begin(), listed.end()};
        }
        std::vector<xcb_window_t> found;
        const auto children = [&](xcb_window_t parent) {
            auto tree = x11::reply(xcb_query_tree_reply(c, xcb_query_tree(c, parent), nullptr));
            const xcb_window_t* kids = tree ? xcb_query_tree_children(tree.get()) : nullptr;
            return tree ? std::vector<xcb_window_t>(
                              kids, kids + xcb_query_tree_children_length(tree.get()))
                        : std::vector<xcb_window_t>{};
        };
        for (xcb_window_t top : children(root)) {
            found.push_back(top);
            for (xcb_window_t inner : children(top))
                found.push_back(inner);
        }
        std::erase_if(found, [&](xcb_window_t w) {
            auto a = x11::reply(
                xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr));
            return !a || a->override_redirect;
        });
        return found;
    }
    // The browser's managed, mapped window.
    std::optional<xcb_window_t> windowOf(pid_t pid) {
        for (xcb_window_t w : candidates()) {
            auto pids = x11::cardinals(c, w, pidAtom, XCB_ATOM_CARDINAL, 1);
            if (!pids.empty() && pids[0] == static_cast<uint32_t>(pid) && x11::viewable(c, w))
                return w;
        }
        return std::nullopt;
    }
    // The Xinerama index of the monitor that is exactly the rectangle, the
    // index _NET_WM_FULLSCREEN_MONITORS speaks of.
    std::optional<uint32_t> monitorIndexOf(const Rect& area) {
        auto screens =
            x11::reply(xcb_xinerama_query_screens_reply(c, xcb_xinerama_query_screens(c), nullptr));
        if (!screens)
            return std::nullopt;
        const xcb_xinerama_screen_info_t* info =
            xcb_xinerama_query_screens_screen_info(screens.get());
        const int count = xcb_xinerama_query_screens_screen_info_length(screens.get());
        for (int i = 0; i < count; ++i)
            if (Rect{info[i].x_org, info[i].y_org, info[i].x_org + info[i].width,
                     info[i].y_org + info[i].height} == area)
                return static_cast<uint32_t>(i);
        return std::nullopt;
    }
    bool hasState(xcb_window_t w, xcb_atom_t state) {
        for (uint32_t s : x11::cardinals(c, w, wmState, XCB_ATOM_ATOM))
            if (s == state)
                return true;
        return false;
    }
    // A _NET_WM_STATE request from the application: 1 adds, 0 removes.
    void changeState(xcb_window_t w, uint32_t action, xcb_atom_t first, xcb_atom_t second = 0) {
        const uint32_t sourceApplication = 1;
        x11::sendToWindowManager(c, root, w, wmState,
                                 {action, first, second, sourceApplication, 0});
    }
};

// Asks the window manager for no frame, no title bar and no border round the
// window (the Motif hints, which the common window managers honour), so
// that the page itself covers the whole rectangle.
void removeDecorations(Desk& d, xcb_window_t w) {
    const uint32_t decorationsFlag = 1u << 1;
    // flags, functions, decorations, input mode, status
    const uint32_t hints[5] = {decorationsFlag, 0, 0, 0, 0};
    xcb_change_property(d.c, XCB_PROP_MODE_REPLACE, w, d.motifHints, d.motifHints, 32, 5, hints);
    xcb_flush(d.c);
}

// sway: the window sway knows by the criteria floats, without a border,
// exactly over the rectangle. False when sway does not take the command.
bool placeBySway(const std::string& criteria, const Rect& area) {
    platform::sway::Ipc ipc;
    if (!ipc.open())
        return false;
    char command[320];
    std::snprintf(command, sizeof command,
                  "%s floating enable, border none, move absolute position %d px %d px, "
                  "resize set width %d px height %d px",
                  criteria.c_str(), area.left, area.top, area.width(), area.height());
    platform::sway::Json reply = ipc.request(platform::sway::kRunCommand, command);
    const cJSON* first = cJSON_GetArrayItem(reply.get(), 0);
    return cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(first, "success"));
}

bool browserEnded(pid_t browser, int& status) {
    pid_t r;
    do
        r = waitpid(browser, &status, WNOHANG);
    while (r < 0 && errno == EINTR);
    return r == browser;
}

std::string describe(const Rect& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.width()) +
           "x" + std::to_string(r.height());
}

// The monitor whose whole rectangle the page covers, where the window
// manager can make a window full screen; sway places by its own commands
// only, so there it is none.
std::optional<uint32_t> fullScreenMonitor(Desk& d, const Rect& area, bool onSway) {
    if (onSway || !d.supports(d.fullscreen))
        return std::nullopt;
    return d.monitorIndexOf(area);
}

bool centreWithin(const Rect& r, const Rect& area) {
    const int x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
    return x >= area.left && x < area.right && y >= area.top && y < area.bottom;
}

} // namespace

// Full screen from the first map only where the window manager can be told
// the monitor (_NET_WM_FULLSCREEN_MONITORS). One that cannot (weston) makes
// a window full screen on the output it lies on, and puts a window that is
// full screen from the start on its first output: there the window is shown
// over its rectangle first and made full screen once it is there.
bool startsFullScreen(const PagePlacement& page) {
    Desk d;
    return d.open() && d.supports(d.fullscreenMonitors) &&
           fullScreenMonitor(d, Rect{page.left, page.top, page.right, page.bottom},
                             platform::sway::Ipc().open())
               .has_value();
}

namespace {

// What a fit follows: the window, looked for anew each round (a window
// manager may map it late, or the window may be made again), the words sway
// knows it by, and whether to stop (its owner ended).
struct FitSubject {
    std::function<std::optional<xcb_window_t>(Desk&)> window;
    std::string swayCriteria;
    std::function<bool()> over;
};

// Fits the window over the rectangle and watches it until it stays there,
// the window manager keeps it elsewhere without change for 5 s, or the
// subject is over.
void fit(Desk& d, const FitSubject& subject, const PagePlacement& page) {
    const Rect area{page.left, page.top, page.right, page.bottom};
    const bool onSway = platform::sway::Ipc().open();
    const std::optional<uint32_t> monitor = fullScreenMonitor(d, area, onSway);
    const bool pinsMonitor = d.supports(d.fullscreenMonitors);

    // A guard against a browser whose window never comes; the fit itself
    // gives up sooner, when the window stops changing without fitting.
    const auto deadline = clock::now() + std::chrono::seconds(60);
    const auto patience = std::chrono::seconds(5);
    std::optional<xcb_window_t> asked; // the window the requests went to
    std::optional<x11::Placement> last;
    clock::time_point lastChange = clock::now();
    bool wasFitted = false;
    clock::time_point fittedSince;
    clock::time_point lastSway;
    while (clock::now() < deadline) {
        if (subject.over())
            return;
        std::optional<xcb_window_t> w = subject.window(d);
        std::optional<x11::Placement> now = w ? x11::placementOf(d.c, d.root, *w) : std::nullopt;
        if (w && now) {
            if (asked != w) {
                asked = w;
                lastChange = clock::now();
                removeDecorations(d, *w);
                if (onSway) {
                    placeBySway(subject.swayCriteria, area);
                    lastSway = clock::now();
                } else if (monitor) {
                    // Onto the monitor first, for window managers that go
                    // full screen where the window is.
                    x11::moveFrameOver(d.c, d.root, *w, {}, area);
                    if (pinsMonitor) {
                        x11::sendToWindowManager(d.c, d.root, *w, d.fullscreenMonitors,
                                                 {*monitor, *monitor, *monitor, *monitor, 1});
                        d.changeState(*w, 1, d.fullscreen);
                    }
                    xcb_flush(d.c);
                }
            }
            // Fitted: the window, or the frame the window manager insists
            // on, lies exactly over the rectangle, whether the window manager
            // placed it as asked, maximised it there or made it full screen.
            const bool maximized =
                d.hasState(*w, d.maximizedVert) && d.hasState(*w, d.maximizedHorz);
            const bool fitted = now->frame == area;
            if (fitted) {
                if (!wasFitted) {
                    wasFitted = true;
                    fittedSince = clock::now();
                } else if (clock::now() - fittedSince > std::chrono::seconds(2))
                    return; // settled
            } else {
                wasFitted = false;
                if (last != now) {
                    last = now;
                    lastChange = clock::now();
                } else if (clock::now() - lastChange > patience) {
                    std::fprintf(stderr,
                                 "Brovia: the window manager keeps the page at %s (frame %s), "
                                 "not over %s; it stays there\n",
                                 describe(now->client).c_str(), describe(now->frame).c_str(),
                                 describe(area).c_str());
                    return;
                }
                if (onSway) {
                    // sway places by its own commands only; once a second
                    // in case the window was not yet sway's when first asked.
                    if (clock::now() - lastSway > std::chrono::seconds(1)) {
                        placeBySway(subject.swayCriteria, area);
                        lastSway = clock::now();
                    }
                } else if (monitor) {
                    // A window manager that cannot be told the monitor
                    // (weston) goes full screen on the output the window
                    // lies on, or, before it has placed the window, on the
                    // output with the focus: it is asked once the window
                    // lies on its monitor.
                    if (!d.hasState(*w, d.fullscreen) &&
                        (pinsMonitor || centreWithin(now->frame, area)))
                        d.changeState(*w, 1, d.fullscreen);
                } else {
                    // A window manager that maximised the window elsewhere
                    // is asked to let it go before it is placed.
                    if (maximized)
                        d.changeState(*w, 0, d.maximizedVert, d.maximizedHorz);
                    x11::moveFrameOver(d.c, d.root, *w, now->extents(), area);
                }
                xcb_flush(d.c);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace

bool fitBrowserWindow(pid_t browser, const PagePlacement& page, int& status) {
    Desk d;
    if (!d.open())
        return false;
    bool ended = false;
    fit(d,
        {[browser](Desk& desk) { return desk.windowOf(browser); },
         "[pid=" + std::to_string(browser) + "]",
         [&] { return ended = ended || browserEnded(browser, status); }},
        page);
    return ended;
}

bool wholeMonitorOffSway(const PagePlacement& page) {
    Desk d;
    // A window manager that keeps no list of its clients (weston) makes a
    // window full screen on an output of its own choosing.
    if (!d.open() || platform::sway::Ipc().open() || !d.supports(d.clientList))
        return false;
    return d.monitorIndexOf(Rect{page.left, page.top, page.right, page.bottom}).has_value();
}

bool servedByXWayland() {
    Desk d;
    return d.open() && x11::servedByXWayland(d.c, d.root);
}

SharedWindowFit::SharedWindowFit(pid_t host, const PagePlacement& page, int found)
    : host_(host), page_(page), found_(found), thread_([this] { run(); }) {}

SharedWindowFit::~SharedWindowFit() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    asked_.notify_all();
    thread_.join();
}

void SharedWindowFit::look(const std::string& targetId) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        target_ = targetId;
        ++asks_;
    }
    asked_.notify_all();
}

void SharedWindowFit::run() {
    Desk d;
    const bool open = d.open();
    const xcb_atom_t name = open ? x11::internAtom(d.c, "_NET_WM_NAME") : 0;
    const xcb_atom_t utf8 = open ? x11::internAtom(d.c, "UTF8_STRING") : 0;
    unsigned long long seen = 0;
    for (;;) {
        std::string target;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            asked_.wait(lock, [&] { return stop_ || asks_ != seen; });
            if (stop_)
                return;
            seen = asks_;
            target = target_;
        }
        // Over once the watch has gone on to another window, or ends.
        const auto over = [&] {
            std::lock_guard<std::mutex> lock(mutex_);
            return stop_ || asks_ != seen;
        };
        if (!open)
            continue; // no display to fit on: the page loads after its wait
        // The host's Chromium runs below the host (a wrapper may stand
        // between them); its window for the target has the target's title.
        const std::string title = PageWatch::windowTitle(target);
        const auto ofTheHost = [this](pid_t pid) {
            for (int depth = 0; pid > 1 && depth < 8; ++depth) {
                const std::optional<ProcessStat> stat = processStat(pid);
                if (!stat)
                    return false;
                if (stat->parent == host_)
                    return true;
                pid = stat->parent;
            }
            return false;
        };
        std::optional<xcb_window_t> window;
        const auto until = clock::now() + std::chrono::seconds(10);
        while (!window && !over() && clock::now() < until) {
            for (xcb_window_t w : d.candidates()) {
                const auto pids = x11::cardinals(d.c, w, d.pidAtom, XCB_ATOM_CARDINAL, 1);
                if (!pids.empty() && ofTheHost(pid_t(pids[0])) && x11::viewable(d.c, w) &&
                    x11::textProperty(d.c, w, name, utf8).find(title) != std::string::npos) {
                    window = w;
                    break;
                }
            }
            if (!window)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!window)
            continue; // the watch loads the page after its wait all the same
        const std::string line = target + "\n";
        (void)!write(found_, line.data(), line.size());
        const xcb_window_t w = *window;
        fit(d,
            {[w](Desk& desk) {
                 return x11::viewable(desk.c, w) ? std::optional<xcb_window_t>(w) : std::nullopt;
             },
             "[id=" + std::to_string(w) + "]", over},
            page_);
    }
}
