// An operator's first day, from the installed program: Panoview installed
// into a scratch root starts from its launcher on PATH with the empty
// settings file of a new installation; the operator opens the settings
// through the tray menu, fills in the service, the machine type, the account
// and the site, chooses a different page for each of three monitors and
// saves; exits through the menu; starts again, signs in through the tray
// icon's double click and finds each monitor's page over its work area;
// signs out and exits. Nothing of the program is left running.
#include "LoginDesk.h"

#include <algorithm>
#include <dirent.h>
#include <gtest/gtest.h>
#include <map>

using e2e::waitFor;

namespace {

// Three 1280x720 monitors side by side; the panel holds the bottom of the
// first, the primary one.
constexpr int kPanel = 40;
const std::string kWall =
    "--monitors 1280x720,1280x720,1280x720 --primary 0 --panel 0:" + std::to_string(kPanel);

// Dialog units to pixels in the settings dialog (base units 7 by 14).
int px(int dialogUnits) {
    return dialogUnits * 7 / 4;
}

// The processes whose program lies under a folder.
std::vector<pid_t> processesUnder(const std::string& folder) {
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    if (!proc)
        return found;
    while (dirent* entry = readdir(proc)) {
        const pid_t pid = std::atoi(entry->d_name);
        if (pid <= 0)
            continue;
        std::error_code ec;
        const auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
        if (!ec && exe.string().rfind(folder, 0) == 0)
            found.push_back(pid);
    }
    closedir(proc);
    return found;
}

class Journey : public ::testing::Test, public LoginDesk {
protected:
    Journey() : LoginDesk(kWall, 0) {}

    std::unique_ptr<e2e::Child> startInstalled(const std::string& log) {
        return std::make_unique<e2e::Child>(std::vector<std::string>{root() + "/usr/bin/panoview"},
                                            environment(), dir.file(log));
    }
    std::string root() const { return dir.file("root"); }

    void clickAt(const std::string& window, int x, int y) const {
        wall.run("xdotool mousemove --window " + window + " " + std::to_string(x) + " " +
                 std::to_string(y) + " click 1");
    }
    // Replaces the text of an edit box at dialog units (x, y) by typing.
    void typeInto(const std::string& window, int x, int y, const std::string& text) const {
        clickAt(window, px(x), px(y));
        wall.run("xdotool key ctrl+a BackSpace");
        wall.run("xdotool type --delay 30 '" + text + "'");
    }
    // Opens the list of the extended displays by its arrow and takes an
    // item with the keys (the open list starts on its first item).
    void chooseExtended(pid_t pid, const std::string& window, const std::string& keys) const {
        clickAt(window, px(76 + 171) - 8, px(113 + 7));
        ASSERT_TRUE(waitFor([&] { return wall.popupShown(pid); })) << "the list did not open";
        wall.run("xdotool key " + keys);
        ASSERT_TRUE(waitFor([&] { return !wall.popupShown(pid); })) << "the list stayed open";
    }
    // Answers the exit question of the tray menu's Exit with Yes.
    void exitThroughTheMenu(e2e::Child& panoview) const {
        ASSERT_TRUE(wall.chooseFromTrayMenu(panoview.pid(), "q"));
        std::string box;
        ASSERT_TRUE(waitFor([&] { return !(box = wall.windowNamed("提示")).empty(); }));
        wall.run("xdotool windowactivate --sync " + box + " key y");
        EXPECT_EQ(panoview.wait(), 0) << panoview.howItEnded() << "\n" << panoview.stderrText();
    }
};

TEST_F(Journey, InstallConfigureSignInSignOutExit) {
    ASSERT_EQ(std::system(("cmake --install " + std::string(PANOVIEW_BUILD_DIR) + " --prefix " +
                           root() + " >" + dir.file("install.log") + " 2>&1")
                              .c_str()),
              0)
        << dir.read("install.log");
    const std::string settingsFile = root() + "/etc/panoview/Panoview.config";
    ASSERT_TRUE(std::filesystem::exists(settingsFile));

    // First start: nothing configured, so the program opens its settings by
    // itself; the operator closes them and opens them again from the menu.
    {
        auto panoview = startInstalled("first");
        std::string settings;
        ASSERT_TRUE(waitFor([&] { return !(settings = wall.windowNamed("设置")).empty(); }))
            << panoview->stderrText();
        wall.run("xdotool windowactivate --sync " + settings + " key Escape");
        ASSERT_TRUE(waitFor([&] { return wall.windowNamed("设置").empty(); }));

        ASSERT_TRUE(wall.chooseFromTrayMenu(panoview->pid(), "s"))
            << wall.describeWindows(panoview->pid());
        ASSERT_TRUE(waitFor([&] { return !(settings = wall.windowNamed("设置")).empty(); }));
        wall.run("xdotool windowactivate --sync " + settings);
        typeInto(settings, 76 + 85, 9 + 7, address);   // service address
        typeInto(settings, 76 + 60, 29 + 7, "KnitUI"); // machine type, as its folder
        typeInto(settings, 76 + 85, 47 + 7, "admin");  // default account
        typeInto(settings, 76 + 85, 67 + 7, address);  // site address
        // The primary monitor shows the machine status of area A, the first
        // extended one the order progress, the second the factory overview.
        clickAt(settings, px(13 + 5), px(94 + 5));
        clickAt(settings, px(13 + 5), px(141 + 5));
        typeInto(settings, 76 + 85, 138 + 7, "A");
        chooseExtended(panoview->pid(), settings, "Return");
        clickAt(settings, px(13 + 5), px(173 + 5));
        chooseExtended(panoview->pid(), settings, "Down Return");
        clickAt(settings, px(13 + 5), px(205 + 5));
        wall.run("xdotool key Return");

        std::string saved;
        ASSERT_TRUE(waitFor([&] { return !(saved = wall.windowNamed("Panoview")).empty(); }))
            << panoview->stderrText();
        wall.run("xdotool windowactivate --sync " + saved + " key Return");
        ASSERT_TRUE(waitFor([&] { return wall.windowNamed("设置").empty(); }));
        exitThroughTheMenu(*panoview);
    }
    // Saved through the link beside the program into /etc/panoview.
    EXPECT_TRUE(std::filesystem::is_symlink(root() + "/opt/panoview/Panoview.config"));
    const std::string settingsText = e2e::readFile(settingsFile);
    const std::map<std::string, Rect> pages = {
        {address + "/KnitUI/A_MachineMonitor.html?token=%s&flag=multiscreen&areaname=A",
         Rect{0, 0, 1280, 720 - kPanel}},
        {address + "/KnitUI/D_OrderSchedule.html?token=%s&flag=multiscreen&",
         Rect{1280, 0, 2560, 720}},
        {address + "/KnitUI/W_Factory.html?token=%s&flag=multiscreen", Rect{2560, 0, 3840, 720}},
    };
    for (const auto& [page, area] : pages)
        EXPECT_NE(settingsText.find("\"" + page + "\""), std::string::npos) << settingsText;
    EXPECT_NE(settingsText.find("\"userid\":\t\"admin\""), std::string::npos) << settingsText;

    // Second start: the login dialog comes up; closed, it comes back with
    // the tray icon's double click, and the password signs in.
    auto panoview = startInstalled("second");
    std::string login = waitForLoginWindow();
    ASSERT_FALSE(login.empty()) << panoview->stderrText();
    wall.run("xdotool key Escape");
    ASSERT_TRUE(waitFor([&] { return visibleWindow("^Loomhaven").empty(); }));
    const std::string icon = trayIcon(panoview->pid(), "");
    ASSERT_FALSE(icon.empty());
    wall.run("xdotool mousemove --window " + icon + " 8 8 click --repeat 2 --delay 80 1");
    login = waitForLoginWindow();
    ASSERT_FALSE(login.empty()) << "the double click did not bring the login dialog";
    typePassword(login, "123456");
    pressEnter();

    std::vector<pid_t> started;
    ASSERT_TRUE(waitFor([&] { return (started = browsers(panoview->pid())).size() == 3; }))
        << panoview->stderrText();
    std::map<std::string, Rect> shown;
    std::string token;
    for (pid_t pid : started) {
        const std::vector<std::string> words = commandLine(pid);
        const std::string url = words.empty() ? "" : words.back();
        const auto at = url.find("token=") + 6;
        token = url.substr(at, url.find('&', at) - at);
        std::string page = url;
        page.replace(at, token.size(), "%s");
        ASSERT_TRUE(pages.count(page)) << url;
        ASSERT_TRUE(waitFor([&] {
            for (const Rect& r : windowsOf(pid))
                if (r == pages.at(page))
                    return true;
            return false;
        })) << page;
        shown[page] = pages.at(page);
        EXPECT_EQ(token.size(), 32u) << url;
    }
    EXPECT_EQ(shown, pages);

    // Signing out ends the wall; Exit through the menu ends the program.
    ASSERT_TRUE(pressLoginAgain(*panoview, login));
    EXPECT_TRUE(waitFor([&] { return browsers(panoview->pid()).empty(); }));
    exitThroughTheMenu(*panoview);
    EXPECT_TRUE(waitFor([&] { return processesUnder(root()).empty(); }))
        << "still running from the installed folder";
}

} // namespace
