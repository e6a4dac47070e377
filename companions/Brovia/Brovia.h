// Brovia, the page browser of the wall: shows one page over one rectangle of
// the desktop.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>

struct PagePlacement {
    int left = 0;
    int top = 0;
    int bottom = 0;
    int right = 0;
    std::string url;
    // Chromium's zoom in percent (25 to 500); 0 leaves Chromium's default.
    int zoomPercent = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

// Shows the page with Chromium in app mode, watches it over the DevTools
// pipe and brings it back when it crashes, hangs, fails or stalls (see
// PageWatch.h); returns when the browser has ended, with its exit status.
int showWithChromium(const std::string& chromium, const PagePlacement& page);

// Shows the page in a window of the one Chromium the wall's Brovias share
// (brovia-host, started by the first Brovia that needs it), watched as
// showWithChromium does; returns when the host has gone, with status 1.
// Where no host answers (its program is missing or cannot run, it ends or
// refuses before it listens, none listens within 20 s, or it drops the page
// or its browser does not answer before the page's first load ended), the
// page gets a Chromium of its own as with showWithChromium, after one line
// in the log that says why; the next start tries the host again.
int showThroughHost(const std::string& chromium, const PagePlacement& page);
// Whether the page goes to the shared browser: BROVIA_SHARED is not "0"
// and the rectangle is a whole monitor of the X display, whose window
// manager is not sway and lists its clients (a window of the shared browser
// covers its monitor full screen, fitted there by SharedWindowFit; a work
// area less a panel needs an app window of its own, sway places windows by
// its own commands only, and weston, which keeps no list, makes a window
// full screen on an output of its own choosing).
bool pageGoesToSharedBrowser(const PagePlacement& page);
// The socket of the page browsers' host of this user's session.
std::string hostSocketPath();
// Whether the rectangle is exactly one monitor of the X display, the
// desktop is not sway and its window manager lists its clients.
bool wholeMonitorOffSway(const PagePlacement& page);

// Whether the X display is a Wayland desktop's XWayland (GNOME, KDE, sway).
bool servedByXWayland();

// Fits the windows of a page in the shared browser, as fitBrowserWindow
// fits a page's own Chromium, on a thread of its own. Each window the page's
// watch makes is looked for (look) among the windows of the host's Chromium
// (the processes below the host) by its target's title
// (PageWatch::windowTitle); once found, its target id and a newline go to
// the descriptor `found` (the watch's load then goes on, windowFound), and
// the window is fitted over the rectangle and watched until it stays, or
// until the next window is looked for.
class SharedWindowFit {
public:
    SharedWindowFit(pid_t host, const PagePlacement& page, int found);
    ~SharedWindowFit();
    SharedWindowFit(const SharedWindowFit&) = delete;
    SharedWindowFit& operator=(const SharedWindowFit&) = delete;
    // The watch made a window for the target (PageWatchPort::windowMade).
    void look(const std::string& targetId);

private:
    void run();

    pid_t host_;
    PagePlacement page_;
    int found_;
    std::mutex mutex_;
    std::condition_variable asked_;
    std::string target_; // the last target asked for
    unsigned long long asks_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

// Whether the page's window asks for full screen before it is mapped: its
// rectangle is a whole monitor and the window manager (not sway) makes
// windows full screen.
bool startsFullScreen(const PagePlacement& page);
// Puts the window manager's frame of the browser's window exactly over the
// rectangle once the window is mapped, and watches it settle. Returns true
// when the browser ended meanwhile (its wait status in `status`).
bool fitBrowserWindow(pid_t browser, const PagePlacement& page, int& status);

// Shows a frameless window exactly over the rectangle with the address in it
// (its token as "***"), until the window is closed or the process is ended;
// its exit status. The page's log says what the window shows. With
// `noBrowser` empty the plain window was asked for and the page is reported
// live; else it says what was looked for and not found, which goes to the
// log as one line and the page is reported in the state no-browser.
int showPlainWindow(int argc, char** argv, const PagePlacement& page, const std::string& noBrowser);
