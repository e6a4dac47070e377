// Usage: Brovia /left L /top T /bottom B /right R /url U [/zoom P]
//
// /zoom P (a whole percent from 25 to 500) zooms the page (in the shared
// browser through the page's own target); without it the environment
// variable BROVIA_ZOOM gives the percent, and without either the page shows
// at Chromium's default size. Each change of the page's state
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
// (its token as "***") and is reported live; brovia-plain, the one part of
// the page browser that uses Qt, draws it as Brovia's child. Without Chromium (the program
// named, or /usr/bin/chromium, missing or not executable) the plain window
// shows all the same, one line in the log names what was looked for, and
// the page is reported in the state no-browser.
//
// The session token of the address is Brovia's alone: it is hidden from
// Brovia's command line once read, never on Chromium's (the page's own
// Chromium gets the address over its DevTools pipe, the shared one over the
// host's socket), and "***" in every line Brovia writes.
#include "Arguments.h"
#include "Brovia.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The plain page is a Qt program of its own (brovia-plain beside Brovia), so
// that a Brovia that only drives Chromium never loads Qt. It runs as
// Brovia's child, with Brovia's words (the token already '*' there, which
// the plain window shows as "***" all the same) and the wall's report
// descriptor, and ends when Brovia ends (SIGTERM at Brovia's end, also by
// SIGKILL, as the wall's stop sends): Brovia stays the process the wall
// knows by its name. Brovia ends as the plain page ended.
int showPlainPage(char** argv, const std::string& noBrowser) {
    const std::string program = programBesideThis("brovia-plain");
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) // Brovia ended before the request took hold
            _exit(1);
        if (noBrowser.empty())
            unsetenv("BROVIA_PLAIN_NO_BROWSER");
        else
            setenv("BROVIA_PLAIN_NO_BROWSER", noBrowser.c_str(), 1);
        char name[] = "brovia-plain";
        argv[0] = name;
        execv(program.c_str(), argv);
        std::fprintf(stderr, "Brovia: cannot run %s: %s\n", program.c_str(), std::strerror(errno));
        _exit(127);
    }
    if (child < 0) {
        std::fprintf(stderr, "Brovia: cannot start the plain page: %s\n", std::strerror(errno));
        return 1;
    }
    int status = 0;
    pid_t ended;
    do
        ended = waitpid(child, &status, 0);
    while (ended < 0 && errno == EINTR);
    if (ended == child && WIFSIGNALED(status)) {
        signal(WTERMSIG(status), SIG_DFL);
        raise(WTERMSIG(status));
    }
    return ended == child && WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

int main(int argc, char** argv) {
    PagePlacement page;
    if (!takeBroviaArguments("Brovia", argc, argv, page))
        return 2;
    if (const char* zoom = std::getenv("BROVIA_ZOOM");
        page.zoomPercent == 0 && zoom && *zoom && !parseZoomPercent(zoom, page.zoomPercent))
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
    return showPlainPage(argv, noBrowser);
}
