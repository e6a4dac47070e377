// What Brovia and the page browsers' host (brovia-host) share to run
// Chromium and watch a page over the DevTools protocol: the fresh profile
// and its removal, Chromium's command line and environment, the start of
// the browser as a child that dies with its parent, the ending signals, the
// logs, the state reports, the loop that drives a page's watch over a pipe
// or the host's socket, and the start of the host.
#pragma once

#include "Brovia.h"
#include "DevTools.h"
#include "PageWatch.h"
#include "common/HiddenToken.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

// The profiles. Each Chromium of the wall gets a fresh profile folder, named
// after the process that owns it, which removes it however it ends: on its
// own, on SIGTERM, SIGINT or SIGHUP (once the browser is gone), and after
// SIGKILL through a small process that outlives it
// (removeProfileWhenBroviaEnds); what a killed owner leaves anyway goes at
// the next start of a page browser (removeProfilesOfEndedOwners).

// The folder that holds the profiles: the user's private folder
// (platform::privateRuntimeFolder, /tmp/panoview-<uid> made 0700 and
// checked), else $TMPDIR (or /tmp), the first whose path leaves Chromium
// room for what it makes below a profile (leavesRoomForChromium).
std::string profileBase();
// Whether the deepest path Chromium makes below a profile in that folder (the
// socket in its temporary folder) fits a socket address.
bool leavesRoomForChromium(const std::string& base);
// The folders a profile may be in, in the order profileBase tries them.
std::vector<std::string> profileBases();
// What a profile holds beside Chromium's own: the first profile's
// preferences, Chromium's temporary folders, its crash dumps and, where the
// session has no HOME, its home (chromiumEnvironment).
inline constexpr const char* kProfileFolders[] = {"Default", "tmp",          "crash",
                                                  "home",    "home/.config", "home/.cache"};
// A new profile folder in base, named brovia-profile-<pid>-<start>-XXXXXX
// after this process (its id, and its start time, which tells it from a
// later process with the same id) and made by mkdtemp: mode 0700, a name no
// one can guess. It holds kProfileFolders and the wall's preferences; empty
// when it cannot be made.
std::string freshProfileFolder(const std::string& base);
// Removes the profiles in base whose owner has ended (its process is gone or
// a zombie, or the id now names a later process): folders of this user
// with a profile's name, never following a link. How many went.
int removeProfilesOfEndedOwners(const std::string& base);
// The same in every folder a profile may be in (profileBases).
int removeProfilesOfEndedOwners();
// The environment Chromium starts with: this process's, with TMPDIR in the
// profile (the folders Chromium makes there go with it) and, unless the
// session names a place of its own, its crash dumps there too
// (BREAKPAD_DUMP_LOCATION). Without HOME, also HOME, XDG_CONFIG_HOME and
// XDG_CACHE_HOME in the profile, where Chromium would otherwise write to
// /tmp/.config and /tmp/.cache, which every user shares. With HOME, the
// user's configuration and caches stay: fonts' configuration, the sound
// server's cookie, the certificates in ~/.pki, and the caches of fonts and
// GPU shaders that make each start faster; Chromium keeps its own caches in
// a profile outside ~/.config.
std::vector<std::string> chromiumEnvironment(const std::string& profile,
                                             const char* const* environment);

// What /proc/<pid>/stat tells of a process.
struct ProcessStat {
    char state = 0; // R, S, D, Z (ended, not reaped yet), ...
    pid_t parent = 0;
    unsigned long long startTime = 0; // clock ticks after boot
};
std::optional<ProcessStat> processStat(pid_t pid);

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
// Starts the browser with the environment as a child that gets SIGKILL when
// its parent ends, reading commands from descriptor 3 and writing messages
// to 4.
pid_t startBrowser(const std::vector<std::string>& args,
                   const std::vector<std::string>& environment, int log, int commands,
                   int messages);
// Removes the profile once this process has ended and the browser is gone,
// even when this process is killed.
void removeProfileWhenBroviaEnds(const std::string& profile, pid_t browser);

// SIGTERM, SIGINT and SIGHUP while a page browser or the host runs Chromium:
// each is noted and makes a descriptor readable, so that the loop in charge
// ends the browser and removes the profile before the process ends with the
// signal (endAsSignalled).
void catchEndingSignals();
// The signal that came, or 0.
int endingSignal();
// Readable once a signal came; -1 before catchEndingSignals.
int endingDescriptor();
// Ends the process with the signal that came, as its default action does.
[[noreturn]] void endAsSignalled();

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
    // The session token of the page's address: never written, "***" in its
    // place (a page's detail may quote an address that carries it).
    void hideToken(std::string_view token) { token_ = token; }
    void report(const PageReport& r) { reportLine(formatPageReport(r)); }
    // A report line as formatPageReport makes them.
    void reportLine(const std::string& formatted) {
        const std::string text = hideTokenIn(formatted, token_);
        line("Brovia: " + text);
        if (fd_ >= 0 && write(fd_, text.data(), text.size()) != ssize_t(text.size()))
            line("Brovia: the report line did not go out: " + std::string(std::strerror(errno)) +
                 "\n");
    }
    void line(const std::string& text) {
        const std::string hidden = hideTokenIn(text, token_);
        if (log_ >= 0)
            (void)!write(log_, hidden.data(), hidden.size());
    }

private:
    int log_ = -1;
    int fd_ = -1;
    std::string refused_;
    std::string token_;
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

// Drives the page's watch until the other end closes (the browser or the
// host ended), stops answering or an ending signal comes. With a window the
// page lives in a shared browser: it asks for its own window over the
// rectangle and never ends renderers by process (see PageWatch::ownWindow).
enum class WatchEnd { BrowserEnded, BrowserHung, Signalled };
struct WatchOutcome {
    WatchEnd end = WatchEnd::BrowserEnded;
    std::string why; // what went unanswered, when the browser hung
    // The page's first load ended one way or another (it came up, failed,
    // crashed, ...): the browser had the page.
    bool firstLoadEnded = false;
    // The browser said anything at all over the pipe: it worked, whatever
    // became of it later.
    bool browserAnswered = false;
};
// With a fit, each window the watch makes is looked for and fitted by it;
// `found` is the read end of the descriptor the fit tells of found windows.
WatchOutcome watchPage(pid_t browser, const PagePlacement& page, PipeEnds& pipe,
                       StateReports& reports, const std::optional<PageWindow>& window,
                       SharedWindowFit* fit = nullptr, int found = -1);

// A page's own Chromium starts at an empty page of its app window
// (kBlankApp) and is given the page's address over the pipe, never on its
// command line, where every local user could read it: Brovia attaches to
// the window's page, has it show about:blank (an empty page the watch
// takes for a load not come yet, as a page that Chromium has only begun)
// and detaches; the watch then asks for the address once it is set up
// (PageWatch::loadOnAttach). Each step waits at most `wait` for its answer.
// Nullopt once the window shows about:blank; else how the pipe ended first
// (the browser ended, does not answer or refuses, or an ending signal came).
inline constexpr const char* kBlankApp = "data:,";
std::optional<WatchOutcome> blankTheAppWindow(PipeEnds& pipe, std::chrono::milliseconds wait);

// Begins a page browser that runs Chromium: catches the ending signals (after
// the reports took their descriptor), removes the profiles of ended page
// browsers and opens the page's log for the reports; the log's descriptor.
int beginPage(const PagePlacement& page, StateReports& reports);
// Shows the page with a Chromium of its own (showWithChromium after
// beginPage); closes the log.
int showInOwnChromium(const std::string& chromium, const PagePlacement& page, StateReports& reports,
                      int log);

// Starting the page browsers' host. The host started by a Brovia says on the
// descriptor its environment names (BROVIA_HOST_SAYS_FD) one line, then
// closes it:
// kHostListening once it listens, kHostElsewhere when another host holds
// the lock (it ends then), or why it cannot serve (and ends).
inline constexpr const char* kHostListening = "listening";
inline constexpr const char* kHostElsewhere = "another host runs";
struct HostConnection {
    int fd = -1;        // connected to the host
    std::string whyNot; // else why no host answers (empty: an ending signal)
};
// Connects to the host at the socket, starting `program` (at most once a
// second) while none listens. No host answers when the program cannot run
// (missing, not an executable file: found before any wait), a host it
// started ends before it listens or refuses, or none listens within `wait`.
HostConnection connectToHost(const std::string& program, const std::string& socket,
                             const std::string& chromium, std::chrono::milliseconds wait);
