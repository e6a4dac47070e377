// Panoview on a virtual wall of three monitors with the stand-in cloud
// service and shell client: the operator types the password into the login
// dialog and presses Enter, one Brovia per display comes up over its work
// area with the session's token, and signing out ends them all. A wrong
// password leaves the wall dark and the refusal reaches the shell client.
#include "LoginDesk.h"

#include "cloud/LSystem.h"
#include "platform/Process.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <optional>

using e2e::waitFor;

namespace {

constexpr int kPanel = 40;

// The work areas of the wall below: the middle monitor is primary, the
// panel takes the bottom of the right one.
const Rect kPrimaryWork{1280, 0, 2560, 1024};
const Rect kLeftWork{0, 0, 1280, 1024};
const Rect kRightWork{2560, 0, 3840, 1024 - kPanel};

const std::string kWall =
    "--monitors 1280x1024,1280x1024,1280x1024 --primary 1 --panel 2:" + std::to_string(kPanel);

class LoginWall : public ::testing::Test, public LoginDesk {
protected:
    explicit LoginWall(bool chromium = false) : LoginDesk(kWall, 3, chromium) {}

    // The operator's whole session: password and Enter light one Brovia per
    // display over its work area with the live session's token; the dialog
    // hides and names the user; shown again, Enter signs out and every
    // Brovia, with whatever it started, ends.
    void signInAndOut(std::chrono::seconds windowBound) {
        auto panoview = startPanoview();
        const std::string login = waitForLoginWindow();
        ASSERT_FALSE(login.empty()) << panoview->stderrText();
        typePassword(login, "123456");
        pressEnter();

        std::vector<pid_t> started;
        ASSERT_TRUE(waitFor([&] { return (started = browsers(panoview->pid())).size() == 3; }))
            << panoview->stderrText();
        const std::vector<Rect> workAreas = {kLeftWork, kPrimaryWork, kRightWork};
        std::string token;
        std::vector<Rect> covered;
        for (pid_t pid : started) {
            const std::string url = commandLine(pid).at(10);
            const std::string prefix = address + "/KnitUI/W_Factory.html?token=";
            ASSERT_EQ(url.rfind(prefix, 0), 0u) << url;
            const std::string pageToken = url.substr(prefix.size(), url.find('&') - prefix.size());
            EXPECT_EQ(url.substr(url.find('&')), "&flag=multiscreen");
            if (token.empty())
                token = pageToken;
            EXPECT_EQ(pageToken, token);
            // A window of this Brovia (or of its Chromium) over a work area.
            std::optional<Rect> place;
            EXPECT_TRUE(waitFor(
                [&] {
                    for (const Rect& r : windowsOf(pid))
                        if (std::find(workAreas.begin(), workAreas.end(), r) != workAreas.end())
                            place = r;
                    return place.has_value();
                },
                windowBound))
                << "Brovia " << pid;
            if (place)
                covered.push_back(*place);
        }
        std::sort(covered.begin(), covered.end(),
                  [](const Rect& a, const Rect& b) { return a.left < b.left; });
        EXPECT_EQ(covered, workAreas);

        ASSERT_EQ(token.size(), 32u);
        LSystem client;
        EXPECT_EQ(LSystem::heartpacket(address, client, token), 1);
        EXPECT_TRUE(waitFor([&] { return visibleWindow("^Loomhaven").empty(); }));
        EXPECT_EQ(wall.run("xdotool getwindowname " + login), "Loomhaven监控 - 王厂长\n");

        std::vector<pid_t> family = started;
        for (pid_t pid : started)
            for (pid_t child : descendantsOf(pid))
                family.push_back(child);
        ASSERT_TRUE(pressLoginAgain(*panoview, login));
        for (pid_t pid : family)
            EXPECT_TRUE(waitFor([pid] { return !processRunning(pid); }))
                << pid << " " << platform::processFileName(pid);
        for (pid_t pid : started)
            EXPECT_TRUE(waitFor([&] { return windowsOf(pid).empty(); }));
        EXPECT_EQ(wall.run("xdotool getwindowname " + login), "Loomhaven监控\n");
        EXPECT_EQ(LSystem::heartpacket(address, client, token), 0);
        EXPECT_TRUE(panoview->running());
    }
};

class LoginWallChromium : public LoginWall {
protected:
    LoginWallChromium() : LoginWall(true) {}
};

TEST_F(LoginWall, PasswordAndEnterLightTheWallAndSignOutEndsIt) {
    signInAndOut(std::chrono::seconds(30));
}

TEST_F(LoginWallChromium, PasswordAndEnterLightTheWallAndSignOutEndsIt) {
    if (access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "Debian's Chromium is not installed";
    signInAndOut(std::chrono::seconds(120));
}

TEST_F(LoginWall, WrongPasswordLeavesTheWallDarkAndTellsTheShellClient) {
    auto shellClient = startShellClient();
    auto panoview = startPanoview();
    const std::string login = waitForLoginWindow();
    ASSERT_FALSE(login.empty()) << panoview->stderrText();
    typePassword(login, "654321");
    pressEnter();

    ASSERT_TRUE(waitFor([&] {
        return shellClient->stdoutText().find("警告|登录失败,返回:账号或密码错误") !=
               std::string::npos;
    })) << shellClient->stdoutText();
    // The refusal came before the result went back to the dialog, which
    // stays up, signed out; no browser was started.
    EXPECT_EQ(visibleWindow("^Loomhaven监控$"), login);
    EXPECT_TRUE(browsers(panoview->pid()).empty());
    EXPECT_TRUE(panoview->running());
}

} // namespace
