// What Brovia and the page browsers' host (brovia-host) share to run
// Chromium and watch a page over the DevTools protocol: the fresh profile,
// the command line, the start of the browser as a child that dies with its
// parent, the logs, the state reports and the loop that drives a page's
// watch over a pipe or the host's socket.
#pragma once

#include "Brovia.h"
#include "DevTools.h"
#include "PageWatch.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

// A new profile folder under $TMPDIR (or /tmp) with the wall's preferences;
// empty when it cannot be made.
std::string freshProfileFolder();
// Chromium's command line for one page in app mode over the rectangle.
std::vector<std::string> chromiumArguments(const std::string& chromium, const PagePlacement& page,
                                           const std::string& profile);
// Whether Chromium draws with the GPU: BROVIA_GPU=0 or 1 when set, else
// whether the machine has a GPU render node (/dev/dri/renderD*).
bool gpuForChromium();
// Everything of it but the page and the window: the profile, the DevTools
// pipe, no first-run dialogs, no throttling of covered pages, no renderer
// beyond the pages', software drawing without a GPU.
std::vector<std::string> chromiumBaseArguments(const std::string& chromium,
                                               const std::string& profile, int zoomPercent);
// $XDG_STATE_HOME/panoview/<name>.log (default under ~/.local/state).
std::string browserLogPath(const std::string& name);
// The log brovia-<left>,<top>.log of a page, or <name>.log, truncated;
// /dev/null when it cannot be made.
int openBrowserLog(const PagePlacement& page);
int openLog(const std::string& name);
// Starts the browser as a child that gets SIGKILL when its parent ends,
// reading commands from descriptor 3 and writing messages to 4.
pid_t startBrowser(const std::vector<std::string>& args, int log, int commands, int messages);
// Removes the profile once this process has ended and the browser is gone,
// even when this process is killed.
void removeProfileWhenBroviaEnds(const std::string& profile, pid_t browser);

// Where each change of the page's state goes: the browser log always, and
// the descriptor BROVIA_REPORT_FD names when Panoview gave one. The
// descriptor is kept from the browser (close-on-exec) and written without
// blocking: a reader that does not keep up loses lines, the page does not
// stop.
class StateReports {
public:
    // Reads BROVIA_REPORT_FD before Brovia opens descriptors of its own.
    StateReports() {
        const char* named = std::getenv("BROVIA_REPORT_FD");
        if (!named || !*named)
            return;
        char* end = nullptr;
        const long fd = std::strtol(named, &end, 10);
        if (*end != '\0' || fd < 0 || fd > 65535 || fcntl(int(fd), F_GETFD) < 0) {
            refused_ =
                std::string("Brovia: BROVIA_REPORT_FD=") + named + " is not an open descriptor\n";
            return;
        }
        fd_ = int(fd);
        fcntl(fd_, F_SETFD, FD_CLOEXEC);
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    void setLog(int log) {
        log_ = log;
        if (!refused_.empty())
            line(refused_);
    }
    void report(const PageReport& r) {
        const std::string text = formatPageReport(r);
        line("Brovia: " + text);
        if (fd_ >= 0 && write(fd_, text.data(), text.size()) != ssize_t(text.size()))
            line("Brovia: the report line did not go out: " + std::string(std::strerror(errno)) +
                 "\n");
    }
    void line(const std::string& text) {
        if (log_ >= 0)
            (void)!write(log_, text.data(), text.size());
    }

private:
    int log_ = -1;
    int fd_ = -1;
    std::string refused_;
};

// Brovia's end of the DevTools pipe: messages out without blocking (what
// the pipe does not take yet waits in `pending`), messages in cut at NUL.
struct PipeEnds {
    int commands = -1; // Brovia writes
    int messages = -1; // Brovia reads
    std::string pending;
    devtools::MessageSplitter splitter;

    void flush() {
        while (!pending.empty()) {
            const ssize_t n = write(commands, pending.data(), pending.size());
            if (n <= 0)
                return;
            pending.erase(0, size_t(n));
        }
    }
    void send(const std::string& message) {
        pending += message;
        pending += '\0';
        flush();
    }
};

// Drives the page's watch until the other end closes (false: the browser or
// the host ended) or stops answering (true). With a window the page lives
// in a shared browser: it asks for its own window over the rectangle and
// never ends renderers by process (see PageWatch::ownWindow).
bool watchPage(pid_t browser, const PagePlacement& page, PipeEnds& pipe, StateReports& reports,
               const std::optional<PageWindow>& window);
