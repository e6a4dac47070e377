// Brovia, the page browser of the wall: shows one page over one rectangle of
// the desktop.
#pragma once

#include <string>
#include <sys/types.h>

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
// and the rectangle is a whole monitor of an X11 desktop (a window of the
// shared browser covers its monitor full screen; a work area less a panel,
// and the Wayland desktops' XWayland, need an app window of its own that
// Brovia fits).
bool pageGoesToSharedBrowser(const PagePlacement& page);
// The socket of the page browsers' host of this user's session.
std::string hostSocketPath();
// Whether the rectangle is exactly one monitor of an X display that is no
// XWayland.
bool fullScreenOnAnX11Desktop(const PagePlacement& page);

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
