// brovia-host: the one Chromium of a wall, shared by its Brovias.
//
// Usage: brovia-host SOCKET CHROMIUM
//
// Started by the first Brovia of the user's session that needs a browser,
// in a session of its own (killing a Brovia leaves it running). It takes
// SOCKET.lock (a second host ends at once with status 0), listens at SOCKET
// (mode 0600, peers of another user refused), starts CHROMIUM over the
// DevTools pipe with one fresh profile in kiosk mode, and relays each
// Brovia's DevTools messages (HostRelay.h). On the descriptor that
// BROVIA_HOST_SAYS_FD names, when set, it says in one line whether it
// listens, that another host holds the lock, or why it cannot serve, and
// closes it (kHostListening). A Brovia
// whose connection ends has its window closed at once; one whose unfinished
// message would take more than its share of memory is dropped (one line).
// When the last Brovia has gone (or none came within 20 s of the start) the
// host removes its socket, ends Chromium, removes the profile and ends with
// status 0; when Chromium ends, the host drops every connection (each Brovia
// then ends with a failure, or, where the page's first load had not ended,
// shows it with a Chromium of its own) and ends with status 1. SIGTERM, SIGINT and
// SIGHUP end it the same way, and then with that signal. Its lines go to
// $XDG_STATE_HOME/panoview/brovia-host.log.
#include "ChromiumLaunch.h"
#include "HostRelay.h"

#include "platform/CommandSocket.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Connection {
    int fd = -1;
    std::string pending; // bytes the socket did not take yet
};

// Puts out what the descriptor takes now (a pipe or a socket; SIGPIPE is
// ignored), keeping the rest.
void flushTo(int fd, std::string& pending) {
    while (!pending.empty()) {
        const ssize_t n = write(fd, pending.data(), pending.size());
        if (n <= 0)
            return;
        pending.erase(0, size_t(n));
    }
}

// Ends the browser: SIGTERM, and SIGKILL when it has not gone within 2 s.
void endBrowser(pid_t browser) {
    kill(browser, SIGTERM);
    for (int i = 0; i < 40; ++i) {
        if (waitpid(browser, nullptr, WNOHANG) == browser)
            return;
        usleep(50000);
    }
    kill(browser, SIGKILL);
    waitpid(browser, nullptr, 0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: brovia-host SOCKET CHROMIUM\n");
        return 2;
    }
    const std::string path = argv[1];
    const std::string chromium = argv[2];
    // Where the Brovia that started the host learns whether it listens; kept
    // from Chromium.
    int says = -1;
    if (const char* named = std::getenv("BROVIA_HOST_SAYS_FD"); named && *named) {
        char* end = nullptr;
        const long fd = std::strtol(named, &end, 10);
        if (*end == '\0' && fd > 2 && fd < 65536 && fcntl(int(fd), F_SETFD, FD_CLOEXEC) == 0)
            says = int(fd);
        unsetenv("BROVIA_HOST_SAYS_FD");
    }
    const auto tell = [&says](const std::string& word) {
        if (says < 0)
            return;
        const std::string line = word + "\n";
        (void)!write(says, line.data(), line.size());
        close(says);
        says = -1;
    };
    signal(SIGPIPE, SIG_IGN);
    // One host per socket: the lock is held for the host's life and taken
    // before the socket is touched, so two Brovias starting hosts at once
    // end with one.
    const int lock =
        open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0 || flock(lock, LOCK_EX | LOCK_NB) != 0) {
        tell(lock < 0 ? "cannot open " + path + ".lock: " + std::strerror(errno) : kHostElsewhere);
        return lock < 0 ? 1 : 0; // another host runs (its log stays as it is)
    }
    const int log = openLog("brovia-host");
    if (log >= 0)
        dup2(log, STDERR_FILENO);
    StateReports lines;
    lines.setLog(log);
    auto say = [&lines](const std::string& text) { lines.line("brovia-host: " + text + "\n"); };
    catchEndingSignals();
    removeProfilesOfEndedOwners();

    const int listener = platform::listenPrivateSocket(path, "brovia-host", 64);
    if (listener < 0) {
        say("cannot listen at " + path);
        tell("cannot listen at " + path);
        return 1;
    }
    const std::string profile = freshProfileFolder(profileBase());
    int toBrowser[2], fromBrowser[2];
    if (profile.empty() || pipe2(toBrowser, O_CLOEXEC) != 0 || pipe2(fromBrowser, O_CLOEXEC) != 0) {
        say("no profile folder or pipe");
        tell("no profile folder or pipe");
        unlink(path.c_str());
        std::error_code ec;
        if (!profile.empty())
            std::filesystem::remove_all(profile, ec);
        return 1;
    }
    std::vector<std::string> args = chromiumBaseArguments(chromium, profile, 0);
    // No window until a Brovia asks for one; every window full screen
    // without bars or the full-screen bubble.
    args.push_back("--no-startup-window");
    args.push_back("--kiosk");
    const pid_t browser = startBrowser(args, chromiumEnvironment(profile, environ), log,
                                       toBrowser[0], fromBrowser[1]);
    close(toBrowser[0]);
    close(fromBrowser[1]);
    if (browser < 0) {
        say("cannot start " + chromium);
        tell("cannot start " + chromium);
        unlink(path.c_str());
        std::error_code ec;
        std::filesystem::remove_all(profile, ec);
        return 1;
    }
    removeProfileWhenBroviaEnds(profile, browser);
    say("Chromium " + std::to_string(browser) + " for " + path);
    tell(kHostListening);
    fcntl(toBrowser[1], F_SETFL, fcntl(toBrowser[1], F_GETFL) | O_NONBLOCK);

    std::string toChromium;
    std::map<int, Connection> connections; // by descriptor
    HostRelay relay({[&](const std::string& m) {
                         toChromium += m;
                         toChromium += '\0';
                         flushTo(toBrowser[1], toChromium);
                     },
                     [&](HostRelay::Client client, const std::string& m) {
                         auto it = connections.find(client);
                         if (it == connections.end())
                             return;
                         it->second.pending += m;
                         it->second.pending += '\0';
                         flushTo(it->second.fd, it->second.pending);
                     }});
    relay.start();

    devtools::MessageSplitter fromChromium;
    const auto started = Clock::now();
    bool hadClient = false;
    int status = 0;
    char buffer[65536];
    for (;;) {
        if (connections.empty() &&
            (hadClient || Clock::now() - started > std::chrono::seconds(20))) {
            say(hadClient ? "the last page went; ending" : "no page came; ending");
            break;
        }
        std::vector<pollfd> fds = {{listener, POLLIN, 0},
                                   {fromBrowser[0], POLLIN, 0},
                                   {toBrowser[1], short(toChromium.empty() ? 0 : POLLOUT), 0},
                                   {endingDescriptor(), POLLIN, 0}};
        for (const auto& [fd, c] : connections)
            fds.push_back({fd, short(POLLIN | (c.pending.empty() ? 0 : POLLOUT)), 0});
        if (poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR)
            break;
        if (endingSignal()) {
            say("signal " + std::to_string(endingSignal()) + "; every page goes");
            break;
        }
        if (fds[1].revents) {
            const ssize_t n = read(fromBrowser[0], buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
                say("Chromium ended; every page goes");
                status = 1;
                break;
            }
            if (n > 0)
                for (const std::string& m : fromChromium.feed({buffer, size_t(n)}))
                    relay.fromBrowser(m);
        }
        if (fds[2].revents)
            flushTo(toBrowser[1], toChromium);
        for (size_t i = 4; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            auto it = connections.find(fds[i].fd);
            Connection& c = it->second;
            bool ended = (fds[i].revents & (POLLERR | POLLNVAL)) != 0;
            if (!ended && (fds[i].revents & (POLLIN | POLLHUP))) {
                const ssize_t n = read(c.fd, buffer, sizeof buffer);
                if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
                    ended = true;
                } else if (n > 0) {
                    if (const auto why = relay.fromClientBytes(c.fd, {buffer, size_t(n)})) {
                        say("a page's connection dropped: " + *why);
                        ended = true;
                    }
                }
            }
            if (!ended && (fds[i].revents & POLLOUT))
                flushTo(c.fd, c.pending);
            if (ended) {
                relay.disconnected(c.fd);
                close(c.fd);
                connections.erase(it);
            }
        }
        if (fds[0].revents) {
            for (;;) {
                const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (fd < 0)
                    break;
                if (!platform::peerIsThisUser(fd)) {
                    say("a connection of another user refused");
                    close(fd);
                    continue;
                }
                connections[fd].fd = fd;
                relay.connected(fd);
                hadClient = true;
            }
        }
    }
    // The socket goes first, while the lock is held: a Brovia that comes
    // now starts the next host.
    unlink(path.c_str());
    close(listener);
    for (auto& [fd, c] : connections)
        close(fd);
    flock(lock, LOCK_UN);
    endBrowser(browser);
    std::error_code ec;
    std::filesystem::remove_all(profile, ec);
    if (endingSignal())
        endAsSignalled();
    return status;
}
