// End-to-end helpers: a virtual monitor wall (scripts/xwall) for the life of
// a test, and child programs whose standard error is collected in a file.
#pragma once

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace e2e {

// The source tree (for scripts/) and the build's bin folder, from CMake.
#ifndef PANOVIEW_SOURCE_DIR
#error "PANOVIEW_SOURCE_DIR must be defined by the test's CMakeLists.txt"
#endif

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a shell command and returns its standard output.
inline std::string capture(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    pclose(pipe);
    return out;
}

// Polls until the condition holds; the deadline only guards against a hang
// and is far beyond what a healthy run needs.
template <typename Condition>
bool waitFor(Condition condition, std::chrono::seconds deadline = std::chrono::seconds(30)) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

// A virtual X server with monitors side by side, for the life of the object.
class XWall {
public:
    explicit XWall(const std::string& options) {
        std::string out = capture(std::string(PANOVIEW_SOURCE_DIR) + "/scripts/xwall start " +
                                  options + " --owner " + std::to_string(getpid()));
        auto at = out.find("DISPLAY=");
        if (at == std::string::npos)
            throw std::runtime_error("xwall did not start: " + out);
        display_ = out.substr(at + 8);
        while (!display_.empty() && (display_.back() == '\n' || display_.back() == '\r'))
            display_.pop_back();
    }
    ~XWall() { capture(std::string(PANOVIEW_SOURCE_DIR) + "/scripts/xwall stop " + display_); }
    XWall(const XWall&) = delete;
    XWall& operator=(const XWall&) = delete;

    const std::string& display() const { return display_; }
    // A shell command run against this display.
    std::string run(const std::string& command) const {
        return capture("DISPLAY=" + display_ + " " + command);
    }

    // The one visible window of that exact name, or "" (none or several).
    std::string windowNamed(const std::string& name) const {
        std::string id = run("xdotool search --onlyvisible --name '^" + name + "$' 2>/dev/null");
        while (!id.empty() && (id.back() == '\n' || id.back() == ' '))
            id.pop_back();
        return id.find('\n') == std::string::npos ? id : std::string();
    }

    // What a test needs to know of one visible window of a process.
    struct WindowFacts {
        std::string id;
        int width = 0, height = 0;
        bool overrideRedirect = false;
        bool topLevel = true; // its parent is the root window
        std::string type;     // _NET_WM_WINDOW_TYPE as xprop prints it
        std::string text;     // a one-line description for failure messages
    };
    std::vector<WindowFacts> visibleWindowsOf(pid_t pid) const {
        std::vector<WindowFacts> windows;
        const std::string ids =
            run("xdotool search --onlyvisible --pid " + std::to_string(pid) + " 2>/dev/null");
        for (size_t at = 0, end; (end = ids.find('\n', at)) != std::string::npos; at = end + 1) {
            WindowFacts w;
            w.id = ids.substr(at, end - at);
            const std::string info = run("xwininfo -tree -stats -id " + w.id + " 2>/dev/null");
            const auto field = [&](const std::string& name) {
                const auto from = info.find(name);
                if (from == std::string::npos)
                    return std::string();
                const auto start = info.find_first_not_of(' ', from + name.size());
                return info.substr(start, info.find_first_of(" \n", start) - start);
            };
            if (field("Width:").empty())
                continue; // gone since the search
            w.width = std::stoi(field("Width:"));
            w.height = std::stoi(field("Height:"));
            w.overrideRedirect = field("Override Redirect State:") == "yes";
            w.topLevel = field("Root window id:") == field("Parent window id:");
            w.type = run("xprop -id " + w.id + " _NET_WM_WINDOW_TYPE 2>/dev/null");
            w.text = w.id + " " + std::to_string(w.width) + "x" + std::to_string(w.height) +
                     (w.overrideRedirect ? " override-redirect" : "") +
                     (w.topLevel ? "" : " embedded") + " " + w.type;
            windows.push_back(w);
        }
        return windows;
    }
    std::string describeWindows(pid_t pid) const {
        std::string text;
        for (const WindowFacts& w : visibleWindowsOf(pid))
            text += w.text;
        return text;
    }

    // The window of a process's tray icon once it is docked: a visible window
    // of at most 64 by 64 pixels that the tray host has taken in. Waits for
    // it; empty when none docks. While the icon docks again, Qt may make and
    // drop windows, so a caller that clicks looks the icon up again each time.
    std::string trayIconWindow(pid_t pid, const std::string& except = "") const {
        std::string found;
        waitFor([&] {
            for (const WindowFacts& w : visibleWindowsOf(pid))
                if (w.id != except && !w.topLevel && w.width <= 64 && w.height <= 64) {
                    found = w.id;
                    return true;
                }
            return false;
        });
        return found;
    }

    // Whether a process shows a pop-up now (a menu, the open list of a
    // combo box): a visible override-redirect window larger than an icon
    // that is not a tooltip. Counting windows is not enough: tooltips come
    // and go by themselves.
    bool popupShown(pid_t pid) const {
        for (const WindowFacts& w : visibleWindowsOf(pid))
            if (w.overrideRedirect && (w.width > 64 || w.height > 64) &&
                w.type.find("TOOLTIP") == std::string::npos)
                return true;
        return false;
    }

    // Opens the tray menu of a process with a right click on its icon. A
    // click on an icon window that was just replaced is lost: the icon is
    // looked up and clicked again until the menu is up.
    bool openTrayMenu(pid_t pid) const {
        return waitFor(
            [&] {
                const std::string icon = trayIconWindow(pid);
                if (icon.empty())
                    return false;
                run("xdotool mousemove --window " + icon + " 8 8 click 3");
                return waitFor([&] { return popupShown(pid); }, std::chrono::seconds(5));
            },
            std::chrono::seconds(60));
    }
    // Chooses an entry of the open tray menu by its key. A key typed in the
    // moment between the menu appearing and taking the keyboard goes
    // elsewhere, so it is typed again for as long as the menu stays open.
    bool chooseInTrayMenu(pid_t pid, const std::string& key) const {
        return waitFor([&] {
            run("xdotool key " + key);
            return waitFor([&] { return !popupShown(pid); }, std::chrono::seconds(1));
        });
    }
    bool chooseFromTrayMenu(pid_t pid, const std::string& key) const {
        return openTrayMenu(pid) && chooseInTrayMenu(pid, key);
    }

private:
    std::string display_;
};

// A child program with extra environment values; its standard error (and
// output) go to files the test reads.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
          const std::string& logPrefix)
        : errPath_(logPrefix + ".err"), outPath_(logPrefix + ".out") {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            env.emplace_back(*e);
        // A program under test keeps its metrics beside its logs, never in the
        // machine's node exporter folder, unless the test says where.
        if (std::none_of(env.begin(), env.end(),
                         [](const std::string& v) { return v.rfind("PANOVIEW_METRICS=", 0) == 0; }))
            env.push_back("PANOVIEW_METRICS=" + logPrefix.substr(0, logPrefix.rfind('/') + 1) +
                          "panoview.prom");
        // Its page logs go to a state folder beside its logs too, never to the
        // user's own, unless the test says where (below).
        std::erase_if(env, [](const std::string& v) { return v.rfind("XDG_STATE_HOME=", 0) == 0; });
        env.push_back("XDG_STATE_HOME=" + logPrefix.substr(0, logPrefix.rfind('/') + 1) + "state");
        for (const auto& extra : extraEnv) {
            std::string key = extra.substr(0, extra.find('=') + 1);
            std::erase_if(env, [&](const std::string& v) { return v.rfind(key, 0) == 0; });
            env.push_back(extra);
        }
        std::vector<char*> argvPtrs, envPtrs;
        for (const auto& a : argv)
            argvPtrs.push_back(const_cast<char*>(a.c_str()));
        argvPtrs.push_back(nullptr);
        for (const auto& e : env)
            envPtrs.push_back(const_cast<char*>(e.c_str()));
        envPtrs.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, argvPtrs.data(),
                        envPtrs.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    std::string stderrText() const { return readFile(errPath_); }
    std::string stdoutText() const { return readFile(outPath_); }

    // Waits for the child to end and returns its exit status, or -1 when it
    // did not end within the deadline or ended by a signal.
    int wait(std::chrono::seconds deadline = std::chrono::seconds(30)) {
        int status = 0;
        bool done = waitFor(
            [&] {
                if (exited_)
                    return true;
                pid_t r = waitpid(pid_, &status, WNOHANG);
                if (r == pid_)
                    ended(status);
                return exited_;
            },
            deadline);
        return done ? status_ : -1;
    }
    bool running() {
        if (exited_)
            return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            ended(status);
            return false;
        }
        return true;
    }
    void signal(int sig) { kill(pid_, sig); }
    // How the child ended, for failure messages.
    std::string howItEnded() {
        if (running())
            return "still running";
        if (WIFSIGNALED(how_))
            return "killed by signal " + std::to_string(WTERMSIG(how_));
        return "exited with status " + std::to_string(status_);
    }

private:
    void ended(int status) {
        exited_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        how_ = status;
    }

    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = -1;
    int how_ = 0;
    std::string errPath_, outPath_;
};

} // namespace e2e
