// Panoview started for real on a virtual wall of three monitors: the display
// lines it logs, the single-instance rule and the unreadable-file message.
#include "TempDir.h"
#include "XWall.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>

using e2e::Child;
using e2e::waitFor;
using e2e::XWall;

namespace {

// A copy of the program in a folder of its own, with its own Panoview.config
// and its own session folder (and so its own instance lock).
class Installation {
public:
    Installation() {
        std::filesystem::create_directory(dir_.path() / "bin");
        std::filesystem::create_directory(dir_.path() / "run");
        std::filesystem::copy_file(std::string(PANOVIEW_BIN_DIR) + "/panoview", program());
    }
    std::string program() const { return (dir_.path() / "bin" / "panoview").string(); }
    void writeConfig(const std::string& text) const { dir_.write("bin/Panoview.config", text); }
    std::unique_ptr<Child> start(const XWall& wall, const std::string& name,
                                 const std::vector<std::string>& words = {}) const {
        return startOn(wall.display(), name, words);
    }
    // Started on the named display ("" for none), with no window platform
    // chosen explicitly.
    std::unique_ptr<Child> startOn(const std::string& display, const std::string& name,
                                   const std::vector<std::string>& words = {}) const {
        std::vector<std::string> argv{program()};
        argv.insert(argv.end(), words.begin(), words.end());
        return std::make_unique<Child>(
            argv,
            std::vector<std::string>{"DISPLAY=" + display,
                                     "QT_QPA_PLATFORM=", "XDG_RUNTIME_DIR=" + dir_.file("run")},
            dir_.file(name));
    }

private:
    TempDir dir_;
};

std::vector<std::string> displayLines(const std::string& text) {
    std::vector<std::string> lines;
    std::regex line("MonitorEnumProc1: [^\n]*\n");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line);
         it != std::sregex_iterator(); ++it)
        lines.push_back(it->str());
    return lines;
}

} // namespace

TEST(Startup, LogsEveryMonitorWithItsWorkAreaAndEndsOnTerm) {
    // Three monitors; the middle one primary; a 40-pixel panel on the right one.
    XWall wall("--monitors 1280x1080,1280x1080,1280x1080 --primary 1 --panel 2:40");
    Installation install;
    auto panoview = install.start(wall, "first");
    ASSERT_TRUE(waitFor([&] { return displayLines(panoview->stderrText()).size() >= 3; }))
        << panoview->stderrText();
    // RandR lists the primary monitor first, then the others in its order.
    EXPECT_EQ(displayLines(panoview->stderrText()),
              (std::vector<std::string>{
                  "MonitorEnumProc1: "
                  "szDevice.WALL1,dwFlags.0x00000001,left.1280,top.0,right.2560,bottom.1080\n",
                  "MonitorEnumProc1: "
                  "szDevice.WALL0,dwFlags.0x00000000,left.0,top.0,right.1280,bottom.1080\n",
                  "MonitorEnumProc1: "
                  "szDevice.WALL2,dwFlags.0x00000000,left.2560,top.0,right.3840,bottom.1040\n"}));
    EXPECT_TRUE(panoview->running());
    panoview->signal(SIGTERM);
    EXPECT_EQ(panoview->wait(), 0);
}

TEST(Startup, SecondCopyEndsSilentlyAndALockFreedByAKillIsTakenAgain) {
    XWall wall("--monitors 800x600,800x600 --primary 0");
    Installation install;
    auto first = install.start(wall, "first");
    ASSERT_TRUE(waitFor([&] { return displayLines(first->stderrText()).size() == 2; }))
        << first->stderrText();

    auto second = install.start(wall, "second");
    EXPECT_EQ(second->wait(), 0);
    EXPECT_EQ(second->stderrText(), "") << "the second copy says nothing";
    EXPECT_TRUE(first->running());

    // A command word reaches the running copy over its socket, which shows
    // the dialog, and the later start ends with the answer's status.
    auto settings = install.start(wall, "settings", {"--settings"});
    EXPECT_EQ(settings->wait(), 0) << settings->stderrText();
    EXPECT_EQ(settings->stdoutText(), "the settings dialog is shown\n");
    EXPECT_TRUE(waitFor([&] {
        return !wall.run("xdotool search --onlyvisible --name '^设置$' 2>/dev/null").empty();
    })) << "the running copy shows its settings dialog";
    EXPECT_TRUE(first->running());

    first->signal(SIGKILL);
    first->wait();
    auto third = install.start(wall, "third");
    EXPECT_TRUE(waitFor([&] { return displayLines(third->stderrText()).size() == 2; }))
        << third->stderrText();
    EXPECT_TRUE(third->running());
}

// No display: a broken file ends with status 0 and its line, a good one with
// status 1 and a line naming the display tried; neither keeps the instance
// lock, so the next start on the wall comes up.
TEST(Startup, WithoutADisplayItEndsByItselfAndTheNextStartComesUp) {
    XWall wall("--monitors 800x600");
    Installation install;
    install.writeConfig("this is not JSON");
    auto broken = install.startOn("", "no-display-broken");
    EXPECT_EQ(broken->wait(), 0);
    EXPECT_EQ(broken->stderrText(), "config file error!\n");

    install.writeConfig(R"({"userid":"op","srurl":[]})");
    auto unreachable = install.startOn(":65000", "no-display");
    EXPECT_EQ(unreachable->wait(), 1);
    const std::string said = unreachable->stderrText();
    EXPECT_NE(said.find("Panoview needs an X display"), std::string::npos) << said;
    EXPECT_NE(said.find("\":65000\""), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;

    auto onTheWall = install.start(wall, "after");
    EXPECT_TRUE(waitFor([&] { return displayLines(onTheWall->stderrText()).size() == 1; }))
        << onTheWall->stderrText();
    EXPECT_TRUE(onTheWall->running());
    onTheWall->signal(SIGTERM);
    EXPECT_EQ(onTheWall->wait(), 0);
}

TEST(Startup, UnreadableConfigShowsTheMessageAndEndsWithStatusZero) {
    XWall wall("--monitors 800x600");
    Installation install;
    install.writeConfig("this is not JSON");
    auto panoview = install.start(wall, "bad");
    // The message box appears; pressing its OK button ends the program.
    std::string window;
    ASSERT_TRUE(waitFor([&] {
        window = wall.run("xdotool search --onlyvisible --name '^Panoview$' 2>/dev/null");
        return !window.empty();
    }));
    window = window.substr(0, window.find('\n'));
    wall.run("xdotool windowactivate --sync " + window + " key --clearmodifiers Return");
    EXPECT_EQ(panoview->wait(), 0);
    EXPECT_EQ(displayLines(panoview->stderrText()).size(), 0u) << "no discovery after the error";
}
