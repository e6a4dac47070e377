// A real Wayland compositor's wall (scripts/waywall) for the life of a test,
// and the environment its X11 clients need.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// A compositor's wall for the life of the object: its XWayland display and,
// on sway, its IPC socket; or why it could not start here.
class CompositorWall {
public:
    explicit CompositorWall(const std::string& compositor) {
        // A compositor that never comes up fails the start (status 124)
        // instead of holding the suite until its time runs out.
        const std::string command = "timeout 300 " + std::string(PANOVIEW_SOURCE_DIR) +
                                    "/scripts/waywall start " + compositor + " --owner " +
                                    std::to_string(getpid()) + " 2>&1";
        FILE* out = popen(command.c_str(), "r");
        std::string text;
        char buffer[512];
        while (out && fgets(buffer, sizeof buffer, out))
            text += buffer;
        const int status = out ? pclose(out) : -1;
        for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            const std::string line = text.substr(at, end - at);
            if (line.rfind("DISPLAY=", 0) == 0)
                display_ = line.substr(8);
            else if (line.rfind("SWAYSOCK=", 0) == 0)
                swaySocket_ = line.substr(9);
            else if (line.rfind("XAUTHORITY=", 0) == 0)
                xauthority_ = line.substr(11);
        }
        if (display_.empty())
            reason_ = "exit status " + std::to_string(WEXITSTATUS(status)) + ": " + text;
        cannotStartHere_ = WIFEXITED(status) && WEXITSTATUS(status) == 3;
    }
    ~CompositorWall() {
        if (!display_.empty())
            std::system(
                (std::string(PANOVIEW_SOURCE_DIR) + "/scripts/waywall stop " + display_).c_str());
    }
    CompositorWall(const CompositorWall&) = delete;
    CompositorWall& operator=(const CompositorWall&) = delete;

    bool started() const { return !display_.empty(); }
    bool cannotStartHere() const { return cannotStartHere_; }
    const std::string& reason() const { return reason_; }
    const std::string& display() const { return display_; }
    // A shell command run against this wall's XWayland.
    int run(const std::string& command) const {
        return std::system(("DISPLAY=" + display_ + " " + command + " >/dev/null 2>&1").c_str());
    }
    const std::string& swaySocket() const { return swaySocket_; }
    const std::string& xauthority() const { return xauthority_; }

private:
    std::string display_, swaySocket_, xauthority_, reason_;
    bool cannotStartHere_ = false;
};

// The environment of an X11 client of the wall's XWayland, whatever session
// the test itself runs in, set in the test's own process (for its probes and
// the children that inherit them).
inline void useWall(const CompositorWall& wall) {
    setenv("DISPLAY", wall.display().c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    if (wall.xauthority().empty())
        unsetenv("XAUTHORITY");
    else
        setenv("XAUTHORITY", wall.xauthority().c_str(), 1);
    if (wall.swaySocket().empty())
        unsetenv("SWAYSOCK");
    else
        setenv("SWAYSOCK", wall.swaySocket().c_str(), 1);
}
