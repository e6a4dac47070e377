#include "AddressProbe.h"
#include "Brovia.h"
#include "BrowserLaunch.h"
#include "ChromiumLaunch.h"
#include "PageWatch.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <json/json.h>
#include <memory>
#include <poll.h>
#include <pwd.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

std::vector<std::string> chromiumArguments(const std::string& chromium, const PagePlacement& page,
                                           const std::string& profile) {
    std::vector<std::string> args = chromiumBaseArguments(chromium, profile, page.zoomPercent);
    args.insert(
        args.begin() + 1,
        // The address goes over the pipe (blankTheAppWindow, then the watch): the
        // command line of every process is readable by every local user.
        {std::string("--app=") + kBlankApp,
         "--window-position=" + std::to_string(page.left) + "," + std::to_string(page.top),
         "--window-size=" + std::to_string(page.width()) + "," + std::to_string(page.height())});
    // A page over a whole monitor is mapped full screen there, as the window
    // manager's rules ask, instead of being made full screen once shown:
    // no decorated window shows first (GNOME frames a window that covers
    // its monitor).
    if (startsFullScreen(page))
        args.push_back("--start-fullscreen");
    return args;
}

bool gpuForChromium() {
    if (const char* chosen = std::getenv("BROVIA_GPU"); chosen && *chosen)
        return std::strcmp(chosen, "0") != 0;
    // Without a render node no GPU can draw for Chromium: its GPU process
    // would emulate one in software (SwiftShader), costing memory and
    // processor time for nothing that software compositing does not draw.
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", ec))
        if (entry.path().filename().string().rfind("renderD", 0) == 0)
            return true;
    return false;
}

std::vector<std::string> chromiumBaseArguments(const std::string& chromium,
                                               const std::string& profile, int zoomPercent) {
    std::vector<std::string> args = {chromium, "--user-data-dir=" + profile};
    for (std::string& word : pageBrowserSwitches())
        args.push_back(std::move(word));
    // An X11 client even in a Wayland session, so that it can be placed.
    args.push_back("--ozone-platform=x11");
    args.push_back("--password-store=basic");
    if (!gpuForChromium())
        args.push_back("--disable-gpu");
    if (zoomPercent > 0) {
        char factor[16];
        std::snprintf(factor, sizeof factor, "%.2f", zoomPercent / 100.0);
        args.push_back(std::string("--force-device-scale-factor=") + factor);
    }
    // Chromium refuses to run as root with its sandbox on; --test-type hides
    // the warning bar that --no-sandbox brings.
    if (geteuid() == 0) {
        args.push_back("--no-sandbox");
        args.push_back("--test-type");
    }
    return args;
}

// $XDG_STATE_HOME/panoview/brovia-<left>,<top>.log (the state folder
// defaults to ~/.local/state): one log per display position, started afresh
// at each launch so that it stays small, and kept after the browser ends.
std::string browserLogPath(const std::string& name) {
    std::string state;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && xdg[0] == '/') {
        state = xdg;
    } else {
        const char* home = std::getenv("HOME");
        const passwd* user = home && *home ? nullptr : getpwuid(getuid());
        state = std::string(home && *home ? home : user ? user->pw_dir : "/tmp") + "/.local/state";
    }
    return state + "/panoview/" + name + ".log";
}

// The descriptor Chromium's own diagnostics go to instead of Brovia's
// terminal, where they would drown Panoview's lines: the log file, or
// /dev/null when it cannot be made.
int openBrowserLog(const PagePlacement& page) {
    return openLog("brovia-" + std::to_string(page.left) + "," + std::to_string(page.top));
}

int openLog(const std::string& name) {
    const std::string path = browserLogPath(name);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    // A new file (mkostemp: O_EXCL, mode 0600) renamed over the last
    // launch's: nothing of a folder that is not Brovia's own (the state
    // folder under /tmp of a user without a home) is ever opened or followed.
    std::string made = path + ".XXXXXX";
    int fd = mkostemp(made.data(), O_CLOEXEC);
    if (fd >= 0 && rename(made.c_str(), path.c_str()) != 0) {
        const int error = errno;
        unlink(made.c_str());
        close(fd);
        fd = -1;
        errno = error;
    }
    if (fd < 0) {
        std::fprintf(stderr, "Brovia: cannot write the browser log %s: %s\n", path.c_str(),
                     std::strerror(errno));
        fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    }
    return fd;
}

// Starts the browser as a child that dies with Brovia: killing Brovia (as the
// wall's stop does, by name) ends the browser and, with it, its helpers. It
// gets the environment given (chromiumEnvironment); its standard output and
// error go to log; it reads DevTools commands from
// descriptor 3 (commands) and writes its messages to descriptor 4 (messages).
pid_t startBrowser(const std::vector<std::string>& args,
                   const std::vector<std::string>& environment, int log, int commands,
                   int messages) {
    std::vector<char*> argv, envp;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : environment)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) // Brovia ended before the request took hold
            _exit(1);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
        }
        // Out of the way of 3 and 4 first, so that neither overwrites the
        // other; dup2 clears close-on-exec on the copies.
        const int in = fcntl(commands, F_DUPFD_CLOEXEC, 10);
        const int out = fcntl(messages, F_DUPFD_CLOEXEC, 10);
        if (in < 0 || out < 0 || dup2(in, 3) < 0 || dup2(out, 4) < 0)
            _exit(126);
        for (int caught : {SIGPIPE, SIGTERM, SIGINT, SIGHUP})
            signal(caught, SIG_DFL);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

// The profile folder must go even when Brovia is killed and cannot clean up.
// A small shell waits for Brovia to end (its end closes the pipe), then for
// the browser to be gone (bounded, in case nothing reaps it), and removes the
// folder. It is not named Brovia, so the wall's stop leaves it alone.
void removeProfileWhenBroviaEnds(const std::string& profile, pid_t browser) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return;
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        dup2(fds[0], STDIN_FILENO);
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        const char* script = "read -r _; i=0;"
                             " while kill -0 \"$2\" 2>/dev/null && [ $i -lt 50 ]; do"
                             " sleep 0.1; i=$((i+1)); done;"
                             " rm -rf -- \"$1\"; sleep 1; rm -rf -- \"$1\"";
        std::string pidText = std::to_string(browser);
        execl("/bin/sh", "sh", "-c", script, "brovia-profile-janitor", profile.c_str(),
              pidText.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[0]);
    // fds[1] stays open, close-on-exec, until Brovia ends.
}

// The processes below the browser (its zygotes, their renderers, its GPU
// and utility processes), from /proc, the browser first.
static std::vector<pid_t> browserProcesses(pid_t browser) {
    std::vector<std::pair<pid_t, pid_t>> parents; // (pid, parent)
    if (DIR* proc = opendir("/proc")) {
        while (dirent* entry = readdir(proc)) {
            char* end = nullptr;
            const long pid = std::strtol(entry->d_name, &end, 10);
            if (*end != '\0' || pid <= 0)
                continue;
            if (const std::optional<ProcessStat> stat = processStat(pid_t(pid)))
                parents.emplace_back(pid_t(pid), stat->parent);
        }
        closedir(proc);
    }
    std::vector<pid_t> below = {browser};
    for (size_t i = 0; i < below.size(); ++i)
        for (auto [pid, parent] : parents)
            if (parent == below[i])
                below.push_back(pid);
    return below;
}

// Every renderer of this browser gets SIGKILL. One page per browser, so
// every renderer is the page's (or an idle spare).
static void endRenderersOf(pid_t browser) {
    const std::vector<pid_t> below = browserProcesses(browser);
    for (size_t i = 1; i < below.size(); ++i) {
        std::ifstream cmdline("/proc/" + std::to_string(below[i]) + "/cmdline");
        std::string words((std::istreambuf_iterator<char>(cmdline)), {});
        if (words.find(std::string("--type=renderer") + '\0') != std::string::npos)
            kill(below[i], SIGKILL);
    }
}

// Ends the browser and every process below it at once (SIGKILL), the
// browser first so that it starts no other: none of them is left to write
// to the profile once it is removed.
static void endBrowserAndItsProcesses(pid_t browser) {
    for (pid_t pid : browserProcesses(browser))
        kill(pid, SIGKILL);
}

namespace {

volatile sig_atomic_t endingSignal_ = 0;
int endingPipe_[2] = {-1, -1};

void noteEndingSignal(int caught) {
    const int saved = errno;
    if (endingSignal_ == 0)
        endingSignal_ = caught;
    (void)!write(endingPipe_[1], "", 1);
    errno = saved;
}

} // namespace

void catchEndingSignals() {
    if (endingPipe_[0] >= 0 || pipe2(endingPipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = noteEndingSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int caught : {SIGTERM, SIGINT, SIGHUP})
        sigaction(caught, &action, nullptr);
}

int endingSignal() {
    return endingSignal_;
}

int endingDescriptor() {
    return endingPipe_[0];
}

void endAsSignalled() {
    const int caught = endingSignal_ ? int(endingSignal_) : SIGTERM;
    signal(caught, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, caught);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(caught);
    _exit(128 + caught);
}

WatchOutcome watchPage(pid_t browser, const PagePlacement& page, PipeEnds& pipe,
                       StateReports& reports, const std::optional<PageWindow>& window,
                       SharedWindowFit* fit, int found) {
    AddressProbe address;
    WatchOutcome outcome;
    bool hung = false, reported = false;
    PageWatchPort port;
    port.send = [&pipe](const std::string& m) { pipe.send(m); };
    port.askAddress = [&address](const std::string& url) { address.start(url); };
    port.endRenderers = [browser, &reports] {
        reports.line("Brovia: ending the page's renderer\n");
        endRenderersOf(browser);
    };
    // The watch reports its first load at once; any report after it tells
    // what the browser made of the page. The first may have been said
    // before the watch started: not said twice.
    std::optional<PageReport> last;
    port.report = [&](const PageReport& r) {
        if (last == r)
            return;
        outcome.firstLoadEnded = outcome.firstLoadEnded || reported;
        reported = true;
        last = r;
        reports.report(r);
    };
    if (fit)
        port.windowMade = [fit](const std::string& targetId) { fit->look(targetId); };
    port.browserHung = [&](const std::string& why) {
        if (!hung)
            outcome.why = why;
        hung = true;
    };
    // A test wall may make the wander and still rules short (README); a
    // wall in use never sets it, and the log says when it is.
    PageWatchTimings timings;
    if (const char* shortRules = std::getenv("BROVIA_TEST_SHORT_RULES");
        shortRules && *shortRules) {
        if (const auto shortened = PageWatchTimings::withShortRules(shortRules)) {
            timings = *shortened;
            reports.line(std::string("Brovia: BROVIA_TEST_SHORT_RULES=") + shortRules +
                         ": the wander and still rules take that many seconds\n");
        } else {
            reports.line(std::string("Brovia: BROVIA_TEST_SHORT_RULES=") + shortRules +
                         " is not a number of seconds from 1 to 3600; ignored\n");
        }
    }
    PageWatch watch(page.url, port, timings);
    if (window) {
        // A window of the shared browser is made with the address, which
        // goes over the host's socket.
        watch.ownWindow(*window);
    } else {
        // The page is loading from now on, as the watch says when it
        // starts, and this is said at once.
        port.report({PageCondition::Loading, 1, 0, "starting"});
        if (std::optional<WatchOutcome> ended = blankTheAppWindow(pipe, std::chrono::seconds(10)))
            return *ended;
        watch.loadOnAttach();
    }
    using Clock = devtools::Clock;
    watch.start(Clock::now());
    char buffer[65536];
    std::string windowsFound; // what the fit said, up to its next newline
    while (!hung && !endingSignal()) {
        Clock::time_point now = Clock::now();
        watch.tick(now);
        if (hung)
            break;
        int timeout = 1000;
        if (auto wake = watch.nextWake())
            timeout = int(std::clamp<int64_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(*wake - now).count() + 1, 0,
                1000));
        curl_waitfd fds[4] = {{pipe.messages, CURL_WAIT_POLLIN, 0},
                              {endingDescriptor(), CURL_WAIT_POLLIN, 0},
                              {found, CURL_WAIT_POLLIN, 0},
                              {pipe.commands, CURL_WAIT_POLLOUT, 0}};
        curl_multi_poll(address.multi(), fds, pipe.pending.empty() ? 3 : 4, timeout, nullptr);
        if (found >= 0 && fds[2].revents) {
            // The fit found a window: each line names its target.
            char said[512];
            const ssize_t n = read(found, said, sizeof said);
            if (n > 0)
                windowsFound.append(said, size_t(n));
            for (size_t end; (end = windowsFound.find('\n')) != std::string::npos;) {
                watch.windowFound(windowsFound.substr(0, end), Clock::now());
                windowsFound.erase(0, end + 1);
            }
        }
        if (fds[0].revents) {
            const ssize_t n = read(pipe.messages, buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
                return outcome; // the browser ended
            if (n > 0) {
                now = Clock::now();
                outcome.browserAnswered = true;
                for (const std::string& message : pipe.splitter.feed({buffer, size_t(n)}))
                    watch.received(message, now);
                if (pipe.splitter.overflowed()) {
                    outcome.why = "a DevTools message beyond any reasonable size";
                    hung = true;
                }
            }
        }
        if (!pipe.pending.empty())
            pipe.flush();
        if (auto answer = address.perform())
            watch.addressAnswered(*answer, Clock::now());
    }
    outcome.end = endingSignal() ? WatchEnd::Signalled : WatchEnd::BrowserHung;
    return outcome;
}

namespace {

// Brovia's own commands before the watch starts, numbered far beyond the
// watch's: a late reply is a stranger's to the watch, which drops it.
constexpr int kFirstOwnCommand = 1 << 30;

Json::Value parsedMessage(const std::string& text) {
    return devtools::parseObject(text).value_or(Json::Value(Json::objectValue));
}

} // namespace

std::optional<WatchOutcome> blankTheAppWindow(PipeEnds& pipe, std::chrono::milliseconds wait) {
    using Clock = std::chrono::steady_clock;
    enum class Step { Discovering, Attaching, Blanking };
    Step step = Step::Discovering;
    int id = kFirstOwnCommand;
    Clock::time_point until;
    std::string waitingFor;
    const auto send = [&](const char* method, const Json::Value& params,
                          const std::string& session) {
        Json::Value command(Json::objectValue);
        command["id"] = ++id;
        command["method"] = method;
        command["params"] = params;
        if (!session.empty())
            command["sessionId"] = session;
        Json::StreamWriterBuilder writer;
        writer["indentation"] = "";
        pipe.send(Json::writeString(writer, command));
        until = Clock::now() + wait;
        waitingFor = method;
    };
    const auto hung = [](const std::string& why) {
        return WatchOutcome{WatchEnd::BrowserHung, why, false};
    };
    Json::Value discover(Json::objectValue);
    discover["discover"] = true;
    // Discovery tells of the targets there are and of those to come: the
    // app window's page, whenever Chromium has made it.
    send("Target.setDiscoverTargets", discover, {});
    waitingFor = "the app window's page";
    std::string session;
    char buffer[65536];
    while (!endingSignal()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0)
            return hung(waitingFor + " unanswered");
        pollfd fds[3] = {{pipe.messages, POLLIN, 0},
                         {endingDescriptor(), POLLIN, 0},
                         {pipe.commands, POLLOUT, 0}};
        if (poll(fds, pipe.pending.empty() ? 2 : 3, int(std::min<long long>(left, 1000))) <= 0)
            continue;
        if (fds[2].revents)
            pipe.flush();
        if (!fds[0].revents)
            continue;
        const ssize_t n = read(pipe.messages, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
            return WatchOutcome{}; // the browser ended
        if (n < 0)
            continue;
        for (const std::string& text : pipe.splitter.feed({buffer, size_t(n)})) {
            const Json::Value message = parsedMessage(text);
            const bool answer = message["id"].isInt() && message["id"].asInt() == id;
            if (answer && message.isMember("error"))
                return hung(waitingFor + " refused: " + message["error"]["message"].asString());
            if (step == Step::Discovering && message["method"] == "Target.targetCreated" &&
                message["params"]["targetInfo"]["type"] == "page") {
                Json::Value attach(Json::objectValue);
                attach["targetId"] = message["params"]["targetInfo"]["targetId"];
                attach["flatten"] = true;
                send("Target.attachToTarget", attach, {});
                step = Step::Attaching;
            } else if (step == Step::Attaching && answer) {
                session = message["result"]["sessionId"].asString();
                if (session.empty())
                    return hung("Target.attachToTarget gave no session");
                Json::Value blank(Json::objectValue);
                blank["url"] = "about:blank";
                send("Page.navigate", blank, session);
                step = Step::Blanking;
            } else if (step == Step::Blanking && answer) {
                // The address itself is the watch's to ask for, once its
                // own set-up is done (PageWatch::loadOnAttach): while a
                // navigation waits for its server, Chromium answers no
                // Page.enable of a session that attaches then, and the
                // watch would take a slow server for a hung page.
                Json::Value detach(Json::objectValue);
                detach["sessionId"] = session;
                send("Target.detachFromTarget", detach, {});
                return std::nullopt;
            }
        }
        if (pipe.splitter.overflowed())
            return hung("a DevTools message beyond any reasonable size");
    }
    return WatchOutcome{WatchEnd::Signalled, {}, false};
}

int beginPage(const PagePlacement& page, StateReports& reports) {
    catchEndingSignals();
    removeProfilesOfEndedOwners();
    reports.hideToken(tokenOfAddress(page.url));
    const int log = openBrowserLog(page);
    reports.setLog(log);
    return log;
}

int showWithChromium(const std::string& chromium, const PagePlacement& page) {
    StateReports reports;
    const int log = beginPage(page, reports);
    return showInOwnChromium(chromium, page, reports, log);
}

int showInOwnChromium(const std::string& chromium, const PagePlacement& page, StateReports& reports,
                      int log) {
    const std::string profile = freshProfileFolder(profileBase());
    int toBrowser[2], fromBrowser[2];
    if (profile.empty() || pipe2(toBrowser, O_CLOEXEC) != 0 || pipe2(fromBrowser, O_CLOEXEC) != 0) {
        reports.line("Brovia: no profile folder or pipe: " + std::string(std::strerror(errno)) +
                     "\n");
        std::error_code ec;
        if (!profile.empty())
            std::filesystem::remove_all(profile, ec);
        close(log);
        return 1;
    }
    pid_t browser =
        startBrowser(chromiumArguments(chromium, page, profile),
                     chromiumEnvironment(profile, environ), log, toBrowser[0], fromBrowser[1]);
    close(toBrowser[0]);
    close(fromBrowser[1]);
    if (browser < 0) {
        reports.line("Brovia: cannot start the browser: " + std::string(std::strerror(errno)) +
                     "\n");
        std::error_code ec;
        std::filesystem::remove_all(profile, ec);
        close(log);
        return 1;
    }
    removeProfileWhenBroviaEnds(profile, browser);
    // A browser that stops reading its pipe must not stop Brovia's writes,
    // nor end Brovia when it closes the pipe.
    signal(SIGPIPE, SIG_IGN);
    fcntl(toBrowser[1], F_SETFL, fcntl(toBrowser[1], F_GETFL) | O_NONBLOCK);

    // The window is fitted over the rectangle on a thread of its own while
    // the page is watched here; it only reaps the browser when the browser
    // ended, and is joined before the browser is waited for.
    int fitStatus = 0;
    bool fitSawEnd = false;
    std::thread fit([&] { fitSawEnd = fitBrowserWindow(browser, page, fitStatus); });

    PipeEnds pipe;
    pipe.commands = toBrowser[1];
    pipe.messages = fromBrowser[0];
    const WatchOutcome outcome = watchPage(browser, page, pipe, reports, std::nullopt);
    if (outcome.end == WatchEnd::BrowserHung)
        reports.line("Brovia: the browser does not answer: " + outcome.why + "\n");
    // Hung: ended, so that the wall starts a fresh Brovia. Signalled: ended
    // at once, so that its profile can go.
    if (outcome.end != WatchEnd::BrowserEnded)
        endBrowserAndItsProcesses(browser);
    fit.join();

    int status = fitStatus;
    pid_t ended = browser;
    if (!fitSawEnd) {
        do
            ended = waitpid(browser, &status, 0);
        while (ended < 0 && errno == EINTR);
    }
    close(toBrowser[1]);
    close(fromBrowser[0]);
    close(log);
    std::error_code ec;
    std::filesystem::remove_all(profile, ec);
    if (endingSignal())
        endAsSignalled();
    if (ended == browser && WIFEXITED(status))
        return WEXITSTATUS(status);
    return 1;
}
