#include "Brovia.h"
#include "ChromiumLaunch.h"

#include "platform/CommandSocket.h"

#include <chrono>
#include <climits>
#include <csignal>
#include <sys/wait.h>
#include <thread>

namespace {

// brovia-host beside Brovia's own executable, unless BROVIA_HOST names one.
std::string hostProgram() {
    if (const char* named = std::getenv("BROVIA_HOST"); named && *named)
        return named;
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "brovia-host";
    std::string path(self, size_t(n));
    return path.substr(0, path.rfind('/') + 1) + "brovia-host";
}

// Starts the host in a session of its own, not a child of this Brovia:
// killing this Brovia, or its process group, leaves it running.
void startHost(const std::string& program, const std::string& socket, const std::string& chromium) {
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
            // descriptor included.
            for (int fd = 3; fd < 1024; ++fd)
                close(fd);
            signal(SIGPIPE, SIG_DFL);
            execl(program.c_str(), "brovia-host", socket.c_str(), chromium.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        _exit(0);
    }
    if (first > 0)
        waitpid(first, nullptr, 0);
}

// The host's socket, connected: the running host's, or a new host's. A host
// that is ending may still hold the lock a moment, so the start is tried
// again each second. -1 when none answers within 20 s.
int connectToHost(const std::string& socket, const std::string& chromium) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::chrono::steady_clock::time_point lastStart;
    while (std::chrono::steady_clock::now() < until) {
        const int fd = platform::connectPrivateSocket(socket);
        if (fd >= 0)
            return fd;
        if (std::chrono::steady_clock::now() - lastStart > std::chrono::seconds(1)) {
            startHost(hostProgram(), socket, chromium);
            lastStart = std::chrono::steady_clock::now();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return -1;
}

} // namespace

bool pageGoesToSharedBrowser(const PagePlacement& page) {
    const char* shared = std::getenv("BROVIA_SHARED");
    if (shared && std::strcmp(shared, "0") == 0)
        return false;
    return page.zoomPercent == 0 && fullScreenOnAnX11Desktop(page);
}

std::string hostSocketPath() {
    return platform::commandSocketPath("brovia-host");
}

int showThroughHost(const std::string& chromium, const PagePlacement& page) {
    StateReports reports;
    const int log = openBrowserLog(page);
    reports.setLog(log);
    signal(SIGPIPE, SIG_IGN);
    const int fd = connectToHost(hostSocketPath(), chromium);
    if (fd < 0) {
        reports.line("Brovia: no page browsers' host answers at " + hostSocketPath() + "\n");
        return 1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    PipeEnds pipe;
    pipe.commands = fd;
    pipe.messages = fd;
    PageWindow window{page.left, page.top, page.width(), page.height()};
    if (watchPage(-1, page, pipe, reports, window))
        reports.line("Brovia: the shared browser does not answer; ending\n");
    else
        reports.line("Brovia: the page browsers' host has gone; ending\n");
    close(fd);
    if (log >= 0)
        close(log);
    // Ended either way with a failure: the wall starts this page again, and
    // the first Brovia that finds no host starts a new one.
    return 1;
}
