// Panoview installed in a folder of its own on a virtual wall, with the
// stand-in cloud service and its own configuration, driven as an operator
// drives it: for the login's end-to-end tests and its benchmark.
#pragma once

#include "LoginPixels.h"
#include "TempDir.h"
#include "WallTestSupport.h"
#include "XProbe.h"
#include "XWall.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>

class LoginDesk {
public:
    // The wall from scripts/xwall options; one display entry per monitor,
    // the first for the primary one. Brovia opens plain windows unless
    // chromium is asked for.
    LoginDesk(const std::string& wallOptions, int displays, bool chromium = false)
        : wall(wallOptions),
          service({CLOUD_SERVICE, "0", CLOUD_ACCOUNTS}, {}, dir.file("cloud-service")),
          probe(wall.display()), chromium_(chromium) {
        std::filesystem::create_directory(dir.path() / "bin");
        std::filesystem::create_directory(dir.path() / "run");
        for (const char* program : {"panoview", "Brovia", "brovia-plain", "brovia-host"})
            std::filesystem::copy_file(std::string(PANOVIEW_BIN_DIR) + "/" + program,
                                       dir.file(std::string("bin/") + program));
        e2e::waitFor([&] { return service.stdoutText().find('\n') != std::string::npos; });
        const std::string out = service.stdoutText();
        address = "http://127.0.0.1:" + out.substr(0, out.find('\n'));
        const std::string page = address + "/KnitUI/W_Factory.html?token=%s&flag=multiscreen";
        std::string entries;
        for (int i = 0; i < displays; ++i)
            entries += std::string(i ? ", " : "") + R"({"pri": ")" + (i ? "false" : "true") +
                       R"(", "url": ")" + page + R"("})";
        dir.write("bin/Panoview.config", R"({"userid": "admin", "address": ")" + address +
                                             R"(", "factoryid": "F001", "web": ")" + address +
                                             R"(", "srurl": [)" + entries + "]}");
    }

    std::vector<std::string> environment() const {
        // No session bus: the tray icon docks in the wall's panel.
        return {"DISPLAY=" + wall.display(),
                "QT_QPA_PLATFORM=", "XDG_RUNTIME_DIR=" + dir.file("run"),
                "DBUS_SESSION_BUS_ADDRESS=",
                std::string("BROVIA_NO_CHROMIUM=") + (chromium_ ? "0" : "1")};
    }
    // The session's token, as Panoview entered the factory with it (the
    // service's request log): Brovia hides it on its own command line.
    std::string sessionToken() const {
        const std::string log = service.stderrText();
        const std::string asked = "/Enter?Token=";
        const size_t at = log.rfind(asked);
        if (at == std::string::npos)
            return {};
        const size_t from = at + asked.size();
        return log.substr(from, log.find_first_of(" &\n", from) - from);
    }
    std::unique_ptr<e2e::Child> startPanoview() {
        return std::make_unique<e2e::Child>(std::vector<std::string>{dir.file("bin/panoview")},
                                            environment(), dir.file("panoview"));
    }
    std::unique_ptr<e2e::Child> startShellClient() {
        auto client = std::make_unique<e2e::Child>(std::vector<std::string>{SHELLCLIENT},
                                                   environment(), dir.file("shellclient"));
        e2e::waitFor([&] { return client->stdoutText().find("listening") != std::string::npos; });
        return client;
    }

    // The id of the first visible window whose name matches, or "".
    std::string visibleWindow(const std::string& namePattern) const {
        std::string id = wall.run("xdotool search --onlyvisible --name '" + namePattern + "'");
        return id.substr(0, id.find('\n'));
    }
    // The login dialog once it is shown and active, so that the operator's
    // click and keys reach it; "" when it did not come.
    std::string waitForLoginWindow() const {
        std::string id;
        e2e::waitFor([&] {
            id = visibleWindow("^Loomhaven监控");
            return !id.empty() && wall.run("xdotool getactivewindow") == id + "\n";
        });
        return wall.run("xdotool getactivewindow") == id + "\n" ? id : "";
    }

    // Clicks into the password box, as an operator would, and types the
    // password; Enter is the caller's.
    void typePassword(const std::string& window, const std::string& password) const {
        const QPoint centre = pixels::kPassword.center();
        wall.run("xdotool mousemove --window " + window + " " + std::to_string(centre.x()) + " " +
                 std::to_string(centre.y()) + " click 1");
        wall.run("xdotool type --delay 50 '" + password + "'");
    }
    void pressEnter() const { wall.run("xdotool key Return"); }

    // The Brovia processes Panoview started.
    static std::vector<pid_t> browsers(pid_t panoview) {
        std::vector<pid_t> found;
        for (pid_t pid : descendantsOf(panoview))
            if (processRunning(pid) && commandLine(pid).size() == 11 &&
                commandLine(pid)[0] == "Brovia")
                found.push_back(pid);
        return found;
    }

    // The page browsers' host of this desk (its socket is in this desk's
    // runtime folder) and the processes below it; empty when none runs.
    std::vector<pid_t> hostFamily() const {
        const std::string socket = dir.file("run") + "/brovia-host.socket";
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const pid_t pid = std::atoi(entry.path().filename().c_str());
            const auto words = pid > 0 ? commandLine(pid) : std::vector<std::string>{};
            if (words.size() == 3 && words[0] == "brovia-host" && words[1] == socket) {
                std::vector<pid_t> family = descendantsOf(pid);
                family.push_back(pid);
                return family;
            }
        }
        return {};
    }

    // Where the mapped windows of a browser lie on the screen: its own, those
    // of the processes below it (its Chromium's), and the shared browser's
    // window over its rectangle when its page is in the host's Chromium.
    std::vector<Rect> windowsOf(pid_t browser) {
        std::vector<pid_t> family = descendantsOf(browser);
        family.push_back(browser);
        const std::optional<Rect> asked = broviaRectangle(commandLine(browser));
        const std::vector<pid_t> host = asked ? hostFamily() : std::vector<pid_t>{};
        std::vector<Rect> places;
        for (const auto& top : probe.topWindows()) {
            const auto shown = [&](const std::vector<pid_t>& pids) {
                return std::any_of(pids.begin(), pids.end(), [&](pid_t pid) {
                    return top.pids.count(static_cast<uint32_t>(pid)) != 0;
                });
            };
            if (shown(family) || (asked && top.outer == *asked && shown(host)))
                places.push_back(top.outer);
        }
        return places;
    }

    // The tray icon of the program: its small visible window in the panel.
    std::string trayIcon(pid_t panoview, const std::string& login) const {
        return wall.trayIconWindow(panoview, login);
    }

    // Shows the login dialog again with the tray icon's double click and
    // presses Enter once it is the active window. The plain Brovia windows
    // bypass the window manager and lie over the dialog, so the operator's
    // key goes to the active dialog, not a click.
    bool pressLoginAgain(e2e::Child& panoview, const std::string& login) const {
        const std::string icon = trayIcon(panoview.pid(), login);
        if (icon.empty())
            return false;
        wall.run("xdotool mousemove --window " + icon + " 8 8 click --repeat 2 --delay 80 1");
        if (!e2e::waitFor([&] {
                return visibleWindow("^Loomhaven") == login &&
                       wall.run("xdotool getactivewindow") == login + "\n";
            }))
            return false;
        pressEnter();
        return true;
    }

    TempDir dir;
    e2e::XWall wall;
    e2e::Child service;
    std::string address;
    XProbe probe;

private:
    bool chromium_;
};
