// The tray window on a virtual wall with trayer as the tray host: the icon
// docks, the menu opens at the cursor and its commands run, the icon comes
// back when the panel restarts, and Exit ends the program with status 0.
#include "TempDir.h"
#include "XWall.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

using e2e::Child;
using e2e::waitFor;
using e2e::XWall;

namespace {

class TrayOnTheWall : public ::testing::Test {
protected:
    TrayOnTheWall() : wall("--monitors 1280x720,1280x720 --primary 0 --panel 0:40") {
        std::filesystem::create_directory(dir.path() / "bin");
        std::filesystem::create_directory(dir.path() / "run");
        std::filesystem::permissions(dir.path() / "run", std::filesystem::perms::owner_all);
        std::filesystem::create_directory(dir.path() / "path");
        std::filesystem::copy_file(std::string(PANOVIEW_BIN_DIR) + "/panoview",
                                   dir.path() / "bin" / "panoview");
        // A recording URL opener first on PATH: the maker's site lands in a file.
        dir.write("path/xdg-open", "#!/bin/sh\necho \"$@\" >> " + dir.file("opened") + "\n");
        std::filesystem::permissions(dir.path() / "path" / "xdg-open",
                                     std::filesystem::perms::owner_all);
        dir.write("bin/Panoview.config",
                  R"({"userid":"op","address":"http://127.0.0.1:9",)"
                  R"("srurl":[{"pri":"true","url":"http://127.0.0.1:9/%s"}]})");
    }

    std::unique_ptr<Child> start(const std::string& args = "") {
        std::vector<std::string> argv{dir.file("bin/panoview")};
        if (!args.empty())
            argv.push_back(args);
        const char* path = std::getenv("PATH");
        // No session bus: Qt docks the icon through the X11 tray protocol.
        return std::make_unique<Child>(
            argv,
            std::vector<std::string>{
                "DISPLAY=" + wall.display(),
                "QT_QPA_PLATFORM=", "XDG_RUNTIME_DIR=" + dir.file("run"),
                "DBUS_SESSION_BUS_ADDRESS=", "PATH=" + dir.file("path") + ":" + (path ? path : "")},
            dir.file("panoview"));
    }

    // The icon window docked in trayer: a visible window of the process that
    // lies inside the panel at the bottom of the first monitor.
    std::string iconWindow(pid_t pid) {
        std::string found;
        waitFor([&] {
            std::string ids = wall.run("xdotool search --onlyvisible --pid " + std::to_string(pid) +
                                       " 2>/dev/null");
            std::istringstream in(ids);
            for (std::string id; std::getline(in, id);) {
                std::string geometry = wall.run("xwininfo -id " + id + " | grep Absolute");
                auto y = geometry.find("Absolute upper-left Y:");
                if (y != std::string::npos && std::stoi(geometry.substr(y + 22)) >= 680) {
                    found = id;
                    return true;
                }
            }
            return false;
        });
        return found;
    }

    int visibleWindows(pid_t pid) {
        std::string ids =
            wall.run("xdotool search --onlyvisible --pid " + std::to_string(pid) + " 2>/dev/null");
        return static_cast<int>(std::count(ids.begin(), ids.end(), '\n'));
    }

    // Opens the tray menu with a right click and chooses by mnemonic.
    void choose(pid_t pid, const std::string& icon, const char* key) {
        const int before = visibleWindows(pid);
        wall.run("xdotool mousemove --window " + icon + " 8 8 click 3");
        ASSERT_TRUE(waitFor([&] { return visibleWindows(pid) > before; })) << "no menu";
        wall.run(std::string("xdotool key ") + key);
    }

    XWall wall;
    TempDir dir;
};

TEST_F(TrayOnTheWall, IconMenuAboutPanelRestartAndExit) {
    auto panoview = start();
    const std::string icon = iconWindow(panoview->pid());
    ASSERT_FALSE(icon.empty()) << panoview->stderrText();

    // "关于我们" opens the maker's site through the desktop's URL opener.
    choose(panoview->pid(), icon, "w");
    ASSERT_TRUE(waitFor([&] { return !e2e::readFile(dir.file("opened")).empty(); }));
    EXPECT_EQ(e2e::readFile(dir.file("opened")), "http://www.loomhaven.example\n");

    // The panel restarts: the icon docks again in the new one.
    const char* tmp = std::getenv("TMPDIR");
    const std::string trayerPid = std::string(tmp ? tmp : "/tmp") + "/xwall-" +
                                  std::to_string(getuid()) + "/" + wall.display().substr(1) +
                                  "/pid.trayer";
    wall.run("sh -c 'kill $(cat " + trayerPid +
             "); sleep 0.3; setsid trayer --SetDockType true --SetPartialStrut true "
             "--edge bottom --monitor 0 --height 40 >/dev/null 2>&1 &'");
    std::string again;
    ASSERT_TRUE(waitFor([&] {
        again = iconWindow(panoview->pid());
        return !again.empty() && again != icon;
    })) << "the icon did not come back";

    // Exit: answered No nothing changes; answered Yes the program ends with 0.
    choose(panoview->pid(), again, "q");
    std::string box;
    ASSERT_TRUE(waitFor([&] {
        box = wall.run("xdotool search --onlyvisible --name '^提示$' 2>/dev/null");
        return !box.empty();
    }));
    wall.run("xdotool windowactivate --sync " + box.substr(0, box.find('\n')) + " key n");
    ASSERT_TRUE(waitFor([&] {
        return wall.run("xdotool search --onlyvisible --name '^提示$' 2>/dev/null").empty();
    }));
    EXPECT_TRUE(panoview->running()) << panoview->stderrText();
    choose(panoview->pid(), again, "q");
    ASSERT_TRUE(waitFor([&] {
        box = wall.run("xdotool search --onlyvisible --name '^提示$' 2>/dev/null");
        return !box.empty();
    }));
    wall.run("xdotool windowactivate --sync " + box.substr(0, box.find('\n')) + " key y");
    EXPECT_EQ(panoview->wait(), 0) << panoview->stderrText();
}

} // namespace
