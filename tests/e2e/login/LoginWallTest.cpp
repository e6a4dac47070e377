// Panoview on a virtual wall of three monitors with the stand-in cloud
// service and shell client: the operator types the password into the login
// dialog and presses Enter, one Brovia per display comes up over its work
// area with the session's token, and signing out ends them all. A wrong
// password leaves the wall dark and the refusal reaches the shell client.
#include "LoginDesk.h"

#include "cloud/LSystem.h"

#include <gtest/gtest.h>

using e2e::waitFor;

namespace {

constexpr int kPanel = 40;

// The work areas of the wall below: the middle monitor is primary, the
// panel takes the bottom of the right one.
const Rect kPrimaryWork{1280, 0, 2560, 1024};
const Rect kLeftWork{0, 0, 1280, 1024};
const Rect kRightWork{2560, 0, 3840, 1024 - kPanel};

class LoginWall : public ::testing::Test, public LoginDesk {
protected:
    LoginWall()
        : LoginDesk("--monitors 1280x1024,1280x1024,1280x1024 --primary 1 --panel 2:" +
                        std::to_string(kPanel),
                    3) {}
};

TEST_F(LoginWall, PasswordAndEnterLightTheWallAndSignOutEndsIt) {
    auto panoview = startPanoview();
    const std::string login = waitForLoginWindow();
    ASSERT_FALSE(login.empty()) << panoview->stderrText();
    typePassword(login, "123456");
    pressEnter();

    // One Brovia per display, each window over its display's work area.
    std::vector<pid_t> started;
    ASSERT_TRUE(waitFor([&] { return (started = browsers(panoview->pid())).size() == 3; }))
        << panoview->stderrText();
    std::string token;
    std::vector<Rect> covered;
    for (pid_t pid : started) {
        const std::vector<std::string> words = commandLine(pid);
        const std::string url = words[10];
        const std::string prefix = address + "/KnitUI/W_Factory.html?token=";
        ASSERT_EQ(url.rfind(prefix, 0), 0u) << url;
        const std::string pageToken = url.substr(prefix.size(), url.find('&') - prefix.size());
        EXPECT_EQ(url.substr(url.find('&')), "&flag=multiscreen");
        if (token.empty())
            token = pageToken;
        EXPECT_EQ(pageToken, token);
        std::optional<TopWindow> window;
        EXPECT_TRUE(waitFor([&] {
            for (const auto& top : probe.topWindows())
                if (top.pids.count(static_cast<uint32_t>(pid)))
                    window = top;
            return window.has_value();
        }));
        if (window)
            covered.push_back(window->outer);
    }
    std::sort(covered.begin(), covered.end(),
              [](const Rect& a, const Rect& b) { return a.left < b.left; });
    EXPECT_EQ(covered, (std::vector<Rect>{kLeftWork, kPrimaryWork, kRightWork}));

    // The token in the pages is the live session's.
    ASSERT_EQ(token.size(), 32u);
    LSystem client;
    EXPECT_EQ(LSystem::heartpacket(address, client, token), 1);

    // The dialog hid itself and carries the user's name.
    EXPECT_TRUE(waitFor([&] { return visibleWindow("^Loomhaven").empty(); }));
    EXPECT_EQ(wall.run("xdotool getwindowname " + login), "Loomhaven监控 - 王厂长\n");

    // Shown again and Enter: the service confirms the sign-out and every
    // Brovia ends.
    ASSERT_TRUE(pressLoginAgain(*panoview, login));
    for (pid_t pid : started)
        EXPECT_TRUE(waitFor([pid] { return !processRunning(pid); })) << "Brovia " << pid;
    EXPECT_TRUE(waitFor([&] {
        for (const auto& top : probe.topWindows())
            for (pid_t pid : started)
                if (top.pids.count(static_cast<uint32_t>(pid)))
                    return false;
        return true;
    }));
    EXPECT_EQ(wall.run("xdotool getwindowname " + login), "Loomhaven监控\n");
    EXPECT_EQ(LSystem::heartpacket(address, client, token), 0);
    EXPECT_TRUE(panoview->running());
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
