// The tray window on a virtual wall with trayer as the tray host: the icon
// docks, the menu opens at the cursor and its commands run, the icon comes
// back when the panel restarts, and Exit ends the program with status 0.
#include "TempDir.h"
#include "XWall.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

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

    // Opens the tray menu with a right click and chooses by mnemonic.
    void choose(Child& panoview, const char* key) {
        ASSERT_TRUE(wall.chooseFromTrayMenu(panoview.pid(), key))
            << "no menu, or it stayed open; Panoview " << panoview.howItEnded() << "; windows:\n"
            << wall.describeWindows(panoview.pid()) << "Panoview wrote:\n"
            << panoview.stderrText();
    }

    XWall wall;
    TempDir dir;
};

TEST_F(TrayOnTheWall, IconMenuAboutPanelRestartAndExit) {
    auto panoview = start();
    const std::string icon = wall.trayIconWindow(panoview->pid());
    ASSERT_FALSE(icon.empty()) << panoview->stderrText();

    // "关于我们" opens the maker's site through the desktop's URL opener.
    choose(*panoview, "w");
    ASSERT_TRUE(waitFor([&] { return !e2e::readFile(dir.file("opened")).empty(); }));
    EXPECT_EQ(e2e::readFile(dir.file("opened")), "http://www.loomhaven.example\n");

    // Exit asks first. While the question is open the panel restarts: the
    // icon docks again in the new one, and answered No nothing changes.
    choose(*panoview, "q");
    std::string box;
    ASSERT_TRUE(waitFor([&] {
        box = wall.windowNamed("提示");
        return !box.empty();
    }));
    wall.run(std::string(PANOVIEW_SOURCE_DIR) + "/scripts/xwall restart-panel " + wall.display());
    ASSERT_FALSE(wall.trayIconWindow(panoview->pid(), icon).empty())
        << "the icon did not come back";
    // Past the program's own check for a new tray host (every 2 s), so that
    // it has docked its icon again while the question was open.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    wall.run("xdotool windowactivate --sync " + box + " key n");
    ASSERT_TRUE(waitFor([&] { return wall.windowNamed("提示").empty(); }));
    EXPECT_TRUE(panoview->running()) << panoview->howItEnded() << "\n" << panoview->stderrText();
    choose(*panoview, "q");
    ASSERT_TRUE(waitFor([&] {
        box = wall.windowNamed("提示");
        return !box.empty();
    }));
    wall.run("xdotool windowactivate --sync " + box + " key y");
    EXPECT_EQ(panoview->wait(), 0) << panoview->stderrText();
}

} // namespace
