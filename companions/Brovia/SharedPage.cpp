#include "Arguments.h"
#include "Brovia.h"
#include "ChromiumLaunch.h"

#include "platform/CommandSocket.h"

#include <chrono>
#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// How long a Brovia waits for a host that neither listens nor says why.
constexpr std::chrono::seconds kHostWait{20};

// brovia-host beside Brovia's own executable, unless BROVIA_HOST names one.
std::string hostProgram() {
    if (const char* named = std::getenv("BROVIA_HOST"); named && *named)
        return named;
    return programBesideThis("brovia-host");
}

// Why the program cannot run as the host; empty when it can.
std::string whyNotRunnable(const std::string& program) {
    struct stat st {};
    if (stat(program.c_str(), &st) != 0)
        return std::strerror(errno);
    if (!S_ISREG(st.st_mode))
        return "not a file";
    if (access(program.c_str(), X_OK) != 0)
        return std::strerror(errno);
    return {};
}

// Starts the host in a session of its own, not a child of this Brovia:
// killing this Brovia, or its process group, leaves it running. The host
// gets the write end of a pipe as its descriptor 3 (BROVIA_HOST_SAYS_FD), on
// which it says whether it listens; the read end, or -1.
int startHost(const std::string& program, const std::string& socket, const std::string& chromium) {
    // The wall's report descriptor is this Brovia's, not the host's.
    std::vector<char*> environment;
    for (char** entry = environ; *entry; ++entry)
        if (std::strncmp(*entry, "BROVIA_REPORT_FD=", 17) != 0 &&
            std::strncmp(*entry, "BROVIA_HOST_SAYS_FD=", 20) != 0)
            environment.push_back(*entry);
    char says[] = "BROVIA_HOST_SAYS_FD=3";
    environment.push_back(says);
    environment.push_back(nullptr);
    const char* const argv[] = {"brovia-host", socket.c_str(), chromium.c_str(), nullptr};
    int said[2];
    if (pipe2(said, O_CLOEXEC) != 0)
        return -1;
    const pid_t first = fork();
    if (first == 0) {
        setsid();
        if (fork() == 0) {
            const int null = open("/dev/null", O_RDWR);
            if (null >= 0) {
                dup2(null, STDIN_FILENO);
                dup2(null, STDOUT_FILENO);
                dup2(null, STDERR_FILENO);
            }
            // Nothing of this Brovia's stays open in the host, the report
            // descriptor included; the pipe's end moves out of the way of 3
            // first, and dup2 clears close-on-exec on the copy.
            const int end = fcntl(said[1], F_DUPFD_CLOEXEC, 10);
            if (end < 0 || dup2(end, 3) < 0)
                _exit(127);
            for (int fd = 4; fd < 1024; ++fd)
                close(fd);
            for (int caught : {SIGPIPE, SIGTERM, SIGINT, SIGHUP})
                signal(caught, SIG_DFL);
            execve(program.c_str(), const_cast<char* const*>(argv), environment.data());
            const char* why = std::strerror(errno);
            (void)!write(3, "cannot run it: ", 15);
            (void)!write(3, why, std::strlen(why));
            _exit(127);
        }
        _exit(0);
    }
    close(said[1]);
    if (first < 0) {
        close(said[0]);
        return -1;
    }
    waitpid(first, nullptr, 0);
    return said[0];
}

// Reads what the host says until it closes its end: the line, or nullopt
// while it has not closed it yet.
std::optional<std::string> hostSaid(int fd, std::string& words) {
    char buffer[512];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return std::nullopt;
    if (n > 0) {
        if (words.size() < 512)
            words.append(buffer, size_t(n));
        return std::nullopt;
    }
    return words.substr(0, words.find('\n'));
}

} // namespace

HostConnection connectToHost(const std::string& program, const std::string& socket,
                             const std::string& chromium, std::chrono::milliseconds wait) {
    const auto until = Clock::now() + wait;
    Clock::time_point lastStart;
    int said = -1; // what the host started last says, until it closes it
    std::string words;
    const auto gone = [&said](HostConnection connection) {
        if (said >= 0)
            close(said);
        return connection;
    };
    while (Clock::now() < until) {
        if (endingSignal())
            return gone({});
        if (const int fd = platform::connectPrivateSocket(socket); fd >= 0)
            return gone({fd, {}});
        // A host that is ending may still hold the lock a moment, so the
        // start is tried again each second.
        if (said < 0 && Clock::now() - lastStart > std::chrono::seconds(1)) {
            if (const std::string why = whyNotRunnable(program); !why.empty())
                return {-1, program + ": " + why};
            said = startHost(program, socket, chromium);
            if (said < 0)
                return {-1, "cannot start " + program + ": " + std::strerror(errno)};
            words.clear();
            lastStart = Clock::now();
        }
        if (said < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
            continue;
        }
        pollfd fds[2] = {{said, POLLIN, 0}, {endingDescriptor(), POLLIN, 0}};
        if (poll(fds, 2, 25) <= 0 || !fds[0].revents)
            continue;
        if (const std::optional<std::string> line = hostSaid(said, words)) {
            close(said);
            said = -1;
            if (*line != kHostListening && *line != kHostElsewhere)
                return {-1, line->empty() ? program + " ended before it listened"
                                          : program + ": " + *line};
        }
    }
    return gone(
        {-1, program + " did not answer within " +
                 std::to_string(std::chrono::duration_cast<std::chrono::seconds>(wait).count()) +
                 " s"});
}

bool pageGoesToSharedBrowser(const PagePlacement& page) {
    const char* shared = std::getenv("BROVIA_SHARED");
    if (shared && std::strcmp(shared, "0") == 0)
        return false;
    return wholeMonitorOffSway(page);
}

std::string hostSocketPath() {
    return platform::commandSocketPath("brovia-host");
}

int showThroughHost(const std::string& chromium, const PagePlacement& page) {
    StateReports reports;
    const int log = beginPage(page, reports);
    signal(SIGPIPE, SIG_IGN);
    const HostConnection host = connectToHost(hostProgram(), hostSocketPath(), chromium, kHostWait);
    if (endingSignal())
        endAsSignalled();
    std::string whyNot = host.whyNot;
    if (host.fd >= 0) {
        fcntl(host.fd, F_SETFL, fcntl(host.fd, F_GETFL) | O_NONBLOCK);
        PipeEnds pipe;
        pipe.commands = host.fd;
        pipe.messages = host.fd;
        PageWindow window{page.left, page.top, page.width(), page.height(), page.zoomPercent};
        // On a Wayland desktop's XWayland the window manager puts a full
        // screen window on an output of its own choosing: the host (the
        // peer of the connection) has its Chromium's windows fitted over
        // the rectangle as a page's own Chromium's are. An X11 window
        // manager keeps Chromium's full screen window on the monitor it was
        // made on, and the page's load does not wait for its window there.
        ucred peer{};
        socklen_t length = sizeof peer;
        int found[2] = {-1, -1};
        std::optional<SharedWindowFit> fit;
        if (servedByXWayland() &&
            getsockopt(host.fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.pid > 0 &&
            pipe2(found, O_CLOEXEC | O_NONBLOCK) == 0)
            fit.emplace(peer.pid, page, found[1]);
        const WatchOutcome outcome =
            watchPage(-1, page, pipe, reports, window, fit ? &*fit : nullptr, found[0]);
        fit.reset();
        for (int end : found)
            if (end >= 0)
                close(end);
        close(host.fd);
        if (endingSignal())
            endAsSignalled();
        // A host whose browser answered has worked: its end is a crash
        // (killed, or its browser gone), which the wall answers by starting
        // this page again, and the next Brovia starts a new host. Only a host
        // that never had a working browser is passed over.
        if (outcome.firstLoadEnded || outcome.browserAnswered) {
            reports.line(outcome.end == WatchEnd::BrowserHung
                             ? "Brovia: the shared browser does not answer: " + outcome.why +
                                   "; ending\n"
                             : "Brovia: the page browsers' host has gone; ending\n");
            close(log);
            // Ended either way with a failure: the wall starts this page
            // again, and the first Brovia that finds no host starts a new
            // one.
            return 1;
        }
        // The host took the page but its browser never said a word: it
        // ended or hung at its start.
        whyNot = outcome.end == WatchEnd::BrowserHung
                     ? "the shared browser does not answer: " + outcome.why
                     : "the host's browser ended before it answered";
    }
    // No host can show the page now: a Chromium of its own shows it, as with
    // BROVIA_SHARED=0. The next start of this Brovia tries the host again.
    reports.line("Brovia: no page browsers' host (" + whyNot +
                 "): the page gets a Chromium of its own\n");
    return showInOwnChromium(chromium, page, reports, log);
}
