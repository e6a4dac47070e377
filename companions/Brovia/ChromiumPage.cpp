#include "Brovia.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::string freshProfileFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/brovia-profile-XXXXXX";
    if (!mkdtemp(pattern.data()))
        return {};
    // A wall shows pages unattended: the profile starts with the offer to
    // translate pages switched off.
    std::error_code ec;
    std::filesystem::create_directory(pattern + "/Default", ec);
    std::ofstream(pattern + "/Default/Preferences") << R"({"translate":{"enabled":false}})";
    return pattern;
}

std::vector<std::string> chromiumArguments(const std::string& chromium, const PagePlacement& page,
                                           const std::string& profile) {
    std::vector<std::string> args = {
        chromium,
        "--app=" + page.url,
        "--window-position=" + std::to_string(page.left) + "," + std::to_string(page.top),
        "--window-size=" + std::to_string(page.width()) + "," + std::to_string(page.height()),
        "--user-data-dir=" + profile,
        "--no-first-run",
        "--no-default-browser-check",
        "--disable-session-crashed-bubble",
        "--disable-background-networking",
        "--disable-component-update",
        "--disable-sync",
    };
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
std::string browserLogPath(const PagePlacement& page) {
    std::string state;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && xdg[0] == '/') {
        state = xdg;
    } else {
        const char* home = std::getenv("HOME");
        const passwd* user = home && *home ? nullptr : getpwuid(getuid());
        state = std::string(home && *home ? home : user ? user->pw_dir : "/tmp") + "/.local/state";
    }
    return state + "/panoview/brovia-" + std::to_string(page.left) + "," +
           std::to_string(page.top) + ".log";
}

// The descriptor Chromium's own diagnostics go to instead of Brovia's
// terminal, where they would drown Panoview's lines: the log file, or
// /dev/null when it cannot be made.
int openBrowserLog(const PagePlacement& page) {
    const std::string path = browserLogPath(page);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        std::fprintf(stderr, "Brovia: cannot write the browser log %s: %s\n", path.c_str(),
                     std::strerror(errno));
        fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    }
    return fd;
}

// Starts the browser as a child that dies with Brovia: killing Brovia (as the
// wall's stop does, by name) ends the browser and, with it, its helpers. Its
// standard output and error go to log.
pid_t startBrowser(const std::vector<std::string>& args, int log) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
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
        execv(argv[0], argv.data());
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

} // namespace

int showWithChromium(const std::string& chromium, const PagePlacement& page) {
    std::string profile = freshProfileFolder();
    if (profile.empty()) {
        std::perror("Brovia: profile folder");
        return 1;
    }
    const int log = openBrowserLog(page);
    pid_t browser = startBrowser(chromiumArguments(chromium, page, profile), log);
    if (log >= 0)
        close(log);
    if (browser < 0) {
        std::perror("Brovia: fork");
        std::filesystem::remove_all(profile);
        return 1;
    }
    removeProfileWhenBroviaEnds(profile, browser);

    int status = 0;
    pid_t ended = browser;
    if (!fitBrowserWindow(browser, page, status)) {
        do
            ended = waitpid(browser, &status, 0);
        while (ended < 0 && errno == EINTR);
    }
    std::error_code ec;
    std::filesystem::remove_all(profile, ec);
    if (ended == browser && WIFEXITED(status))
        return WEXITSTATUS(status);
    return 1;
}
