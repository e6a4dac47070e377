// Panoview on a virtual wall of three monitors with the stand-in cloud
// service and shell client: the operator types the password into the login
// dialog and presses Enter, one Brovia per display comes up over its work
// area with the session's token, and signing out ends them all. A wrong
// password leaves the wall dark and the refusal reaches the shell client.
#include "LoginPixels.h"
#include "TempDir.h"
#include "WallTestSupport.h"
#include "XProbe.h"
#include "XWall.h"

#include "cloud/LSystem.h"

#include <filesystem>
#include <gtest/gtest.h>

using e2e::Child;
using e2e::waitFor;

namespace {

constexpr int kWidth = 1280, kHeight = 1024, kPanel = 40;

// The work areas of the wall below: the middle monitor is primary, the
// panel takes the bottom of the right one.
const Rect kPrimaryWork{1280, 0, 2560, 1024};
const Rect kLeftWork{0, 0, 1280, 1024};
const Rect kRightWork{2560, 0, 3840, 1024 - kPanel};

class LoginWall : public ::testing::Test {
protected:
    LoginWall()
        : wall("--monitors 1280x1024,1280x1024,1280x1024 --primary 1 --panel 2:" +
               std::to_string(kPanel)),
          service({CLOUD_SERVICE, "0", CLOUD_ACCOUNTS}, {}, dir.file("cloud-service")) {
        std::filesystem::create_directory(dir.path() / "bin");
        std::filesystem::create_directory(dir.path() / "run");
        std::filesystem::copy_file(std::string(PANOVIEW_BIN_DIR) + "/panoview",
                                   dir.file("bin/panoview"));
        std::filesystem::copy_file(std::string(PANOVIEW_BIN_DIR) + "/Brovia",
                                   dir.file("bin/Brovia"));
        waitFor([&] { return service.stdoutText().find('\n') != std::string::npos; });
        const std::string out = service.stdoutText();
        address = "http://127.0.0.1:" + out.substr(0, out.find('\n'));
        const std::string page = address + "/KnitUI/W_Factory.html?token=%s&flag=multiscreen";
        dir.write("bin/Panoview.config", R"({"userid": "admin", "address": ")" + address +
                                             R"(", "factoryid": "F001", "web": ")" + address +
                                             R"(", "srurl": [{"pri": "true", "url": ")" + page +
                                             R"("}, {"pri": "false", "url": ")" + page +
                                             R"("}, {"pri": "false", "url": ")" + page + R"("}]})");
        probe = std::make_unique<XProbe>(wall.display());
    }

    std::vector<std::string> environment() const {
        return {"DISPLAY=" + wall.display(),
                "QT_QPA_PLATFORM=", "XDG_RUNTIME_DIR=" + dir.file("run"), "BROVIA_NO_CHROMIUM=1"};
    }
    std::unique_ptr<Child> startPanoview() {
        return std::make_unique<Child>(std::vector<std::string>{dir.file("bin/panoview")},
                                       environment(), dir.file("panoview"));
    }
    std::unique_ptr<Child> startShellClient() {
        auto client = std::make_unique<Child>(std::vector<std::string>{SHELLCLIENT}, environment(),
                                              dir.file("shellclient"));
        waitFor([&] { return client->stdoutText().find("listening") != std::string::npos; });
        return client;
    }

    // The window id of the visible window whose name matches, or "".
    std::string visibleWindow(const std::string& namePattern) {
        std::string id = wall.run("xdotool search --onlyvisible --name '" + namePattern + "'");
        return id.substr(0, id.find('\n'));
    }
    std::string waitForLoginWindow() {
        std::string id;
        waitFor([&] { return !(id = visibleWindow("^Loomhaven监控")).empty(); });
        return id;
    }

    // Clicks into the password box, as an operator would, types the
    // password and presses Enter.
    void typePassword(const std::string& window, const std::string& password) {
        const QPoint centre = pixels::kPassword.center();
        wall.run("xdotool mousemove --window " + window + " " + std::to_string(centre.x()) + " " +
                 std::to_string(centre.y()) + " click 1");
        wall.run("xdotool type --delay 50 '" + password + "'");
        wall.run("xdotool key Return");
    }

    // The Brovia processes panoview started.
    std::vector<pid_t> browsers(pid_t panoview) {
        std::vector<pid_t> found;
        for (pid_t pid : descendantsOf(panoview))
            if (processRunning(pid) && commandLine(pid).size() == 11 &&
                commandLine(pid)[0] == "Brovia")
                found.push_back(pid);
        return found;
    }

    TempDir dir;
    e2e::XWall wall;
    Child service;
    std::string address;
    std::unique_ptr<XProbe> probe;
};

TEST_F(LoginWall, PasswordAndEnterLightTheWallAndSignOutEndsIt) {
    auto panoview = startPanoview();
    const std::string login = waitForLoginWindow();
    ASSERT_FALSE(login.empty()) << panoview->stderrText();
    typePassword(login, "123456");

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
            for (const auto& top : probe->topWindows())
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

    // Shown again by the login command (SIGUSR1 until the tray icon runs
    // it), and Enter: the service confirms the sign-out and every Brovia
    // ends. The plain Brovia windows bypass the window manager and lie over
    // the dialog, so the operator's key goes to the active dialog, not a
    // click.
    panoview->signal(SIGUSR1);
    ASSERT_TRUE(waitFor([&] { return visibleWindow("^Loomhaven") == login; }));
    ASSERT_TRUE(waitFor([&] { return wall.run("xdotool getactivewindow") == login + "\n"; }));
    wall.run("xdotool key Return");
    for (pid_t pid : started)
        EXPECT_TRUE(waitFor([pid] { return !processRunning(pid); })) << "Brovia " << pid;
    EXPECT_TRUE(waitFor([&] {
        for (const auto& top : probe->topWindows())
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
