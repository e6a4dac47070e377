// Usage: Brovia /left L /top T /bottom B /right R /url U [/zoom P]
//
// /zoom P (a whole percent from 25 to 500) zooms the page; without it the
// environment variable BROVIA_ZOOM gives the percent, and without either the
// page shows at Chromium's default size. Each change of the page's state
// goes to the log, and as one line to the descriptor BROVIA_REPORT_FD names
// when it is set (wall/PageReport.h).
//
// With Chromium installed (/usr/bin/chromium, or the program BROVIA_CHROMIUM
// names) the page opens in Chromium: a rectangle that is a whole monitor in
// a full-screen window of the one Chromium all Brovias of the session share
// (brovia-host; BROVIA_SHARED=0 gives each Brovia its own, and so does a
// host that cannot be had, with one line in the log that says why), any
// other in Chromium's app mode over the rectangle, without window-manager
// decorations. Each Chromium has a fresh profile in the user's private
// folder, its temporary folders inside it, and the profile goes when Brovia
// ends, also on SIGTERM, SIGINT or SIGHUP (Brovia then ends with the
// signal); Chromium's own diagnostics go to
// $XDG_STATE_HOME/panoview/brovia-<left>,<top>.log (default under
// ~/.local/state), started afresh at each launch. BROVIA_NO_CHROMIUM=1 asks
// for the plain window instead, which shows the address over the rectangle
// (its token as "***") and is reported live. Without Chromium (the program
// named, or /usr/bin/chromium, missing or not executable) the plain window
// shows all the same, one line in the log names what was looked for, and
// the page is reported in the state no-browser.
//
// The session token of the address is Brovia's alone: it is hidden from
// Brovia's command line once read, never on Chromium's (the page's own
// Chromium gets the address over its DevTools pipe, the shared one over the
// host's socket), and "***" in every line Brovia writes.
#include "Brovia.h"
#include "common/HiddenToken.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// A coordinate X11 can show: a window's position is a signed 16-bit number.
bool parseInt(const char* text, int& value) {
    errno = 0;
    char* end = nullptr;
    long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < -32768 || parsed > 32767)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

// A zoom in whole percent from 25 to 500.
bool parseZoom(const char* text, int& percent) {
    errno = 0;
    char* end = nullptr;
    long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < 25 || parsed > 500)
        return false;
    percent = static_cast<int>(parsed);
    return true;
}

bool parseArguments(int argc, char** argv, PagePlacement& page) {
    if (argc == 13) {
        if (std::strcmp(argv[11], "/zoom") != 0 || !parseZoom(argv[12], page.zoomPercent))
            return false;
    } else if (argc != 11) {
        return false;
    }
    const char* names[] = {"/left", "/top", "/bottom", "/right", "/url"};
    int* numbers[] = {&page.left, &page.top, &page.bottom, &page.right};
    for (int i = 0; i < 5; ++i) {
        if (std::strcmp(argv[1 + 2 * i], names[i]) != 0)
            return false;
        const char* value = argv[2 + 2 * i];
        if (i < 4 && !parseInt(value, *numbers[i]))
            return false;
    }
    page.url = argv[10];
    return page.width() > 0 && page.height() > 0;
}

// /proc/<pid>/cmdline, which every local user may read, is read by the
// kernel from this process's own memory, where exec laid out its words; what
// Brovia writes over the address there is what every reader sees from then
// on. This is safe: the address was copied into the page first, each word
// keeps its place and length (the token's bytes become '*', no word is cut
// or added), and Qt, given argv later, finds the same words. Between exec
// and this line the token is still readable, for the moment Brovia takes to
// start.
void hideTokenFromCommandLine(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "/url") == 0)
            starTokenInPlace(argv[i + 1]);
}

} // namespace

int main(int argc, char** argv) {
    PagePlacement page;
    const bool understood = parseArguments(argc, argv, page);
    hideTokenFromCommandLine(argc, argv);
    if (!understood) {
        std::fprintf(stderr, "usage: Brovia /left L /top T /bottom B /right R /url U [/zoom P]\n"
                             "       (right > left, bottom > top, each from -32768 to 32767;\n"
                             "       P a percent from 25 to 500)\n");
        return 2;
    }
    if (const char* zoom = std::getenv("BROVIA_ZOOM");
        page.zoomPercent == 0 && zoom && *zoom && !parseZoom(zoom, page.zoomPercent))
        std::fprintf(stderr, "Brovia: BROVIA_ZOOM=%s is not a percent from 25 to 500; ignored\n",
                     zoom);
    const char* noChromium = std::getenv("BROVIA_NO_CHROMIUM");
    const char* chosen = std::getenv("BROVIA_CHROMIUM");
    const char* chromium = chosen && *chosen ? chosen : "/usr/bin/chromium";
    std::string noBrowser;
    if (!(noChromium && std::strcmp(noChromium, "1") == 0)) {
        if (access(chromium, X_OK) == 0)
            return pageGoesToSharedBrowser(page) ? showThroughHost(chromium, page)
                                                 : showWithChromium(chromium, page);
        const int why = errno;
        noBrowser = std::string("no Chromium at ") + chromium + " (" +
                    (chosen && *chosen ? "BROVIA_CHROMIUM" : "the default") +
                    "): " + std::strerror(why);
    }
    // The plain window is an X11 client even in a Wayland session, so that it
    // lies exactly over its rectangle, unless the operator chose otherwise.
    setenv("QT_QPA_PLATFORM", "xcb", 0);
    return showPlainWindow(argc, argv, page, noBrowser);
}
