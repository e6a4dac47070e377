// What the wall does by itself while the operator is signed in, on a virtual
// wall with the real program, service and plain Brovia windows: a killed
// page browser comes back over the same rectangle, windows follow a monitor
// that changes, a removed monitor's page ends or moves to where a fresh
// start puts it, nothing comes back after the sign-out; and the monitors do
// not blank while signed in.
#include "LoginDesk.h"
#include "platform/linux/Xcb.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <thread>
#include <unistd.h>
#include <xcb/dpms.h>
#include <xcb/screensaver.h>

using e2e::waitFor;

namespace {

const std::string kWall = "--monitors 1024x768,1024x768,1024x768 --primary 1 --panel 1:32";
const Rect kLeft{0, 0, 1024, 768}, kRight{2048, 0, 3072, 768};

class WallCare : public ::testing::Test, public LoginDesk {
protected:
    explicit WallCare(bool chromium = false) : LoginDesk(kWall, 3, chromium) {}

    // Signs in; the Brovia over each of the given rectangles.
    std::map<pid_t, Rect> signIn(e2e::Child& panoview, std::string& login) {
        login = waitForLoginWindow();
        EXPECT_FALSE(login.empty()) << panoview.stderrText();
        typePassword(login, "123456");
        pressEnter();
        std::map<pid_t, Rect> wall;
        waitFor([&] { return (wall = placed(panoview.pid())).size() == 3; });
        return wall;
    }

    // Each running Brovia of Panoview with the rectangle its window covers.
    std::map<pid_t, Rect> placed(pid_t panoview) {
        std::map<pid_t, Rect> found;
        for (pid_t pid : browsers(panoview))
            for (const Rect& r : windowsOf(pid))
                found[pid] = r;
        return found;
    }

    static std::optional<pid_t> over(const std::map<pid_t, Rect>& wall, const Rect& r) {
        for (const auto& [pid, place] : wall)
            if (place == r)
                return pid;
        return std::nullopt;
    }
};

TEST_F(WallCare, KilledBrowsersComeBackAndWindowsFollowTheMonitorsUntilTheSignOut) {
    auto panoview = startPanoview();
    std::string login;
    std::map<pid_t, Rect> wall = signIn(*panoview, login);
    ASSERT_EQ(wall.size(), 3u) << panoview->stderrText();
    const std::optional<pid_t> right = over(wall, kRight);
    ASSERT_TRUE(right.has_value());

    // A crash: a new Brovia over the same rectangle.
    kill(*right, SIGKILL);
    std::optional<pid_t> again;
    ASSERT_TRUE(waitFor([&] {
        again = over(placed(panoview->pid()), kRight);
        return again && *again != *right;
    })) << panoview->stderrText();
    EXPECT_NE(panoview->stderrText().find("restarting"), std::string::npos);

    // The right monitor shrinks: its page follows, moved where the window
    // manager manages its window (Chromium), started again over the new
    // rectangle where it does not (plain windows lie outside its care).
    const Rect narrow{2048, 0, 2848, 768};
    wall.clear();
    this->wall.run("sh -c 'xrandr --delmonitor WALL2 && "
                   "xrandr --setmonitor WALL2 800/211x768/203+2048+0 none' 2>/dev/null");
    EXPECT_TRUE(waitFor([&] { return over(placed(panoview->pid()), narrow).has_value(); }))
        << panoview->stderrText();

    // The left monitor goes: the extended entries take what is left, as a
    // fresh start would; nothing stays over the removed monitor.
    this->wall.run("xrandr --delmonitor WALL0 2>/dev/null");
    EXPECT_TRUE(waitFor([&] {
        const auto now = placed(panoview->pid());
        return now.size() == 2 && !over(now, kLeft) && over(now, narrow);
    })) << panoview->stderrText();

    // Signed out: every browser ends, and a browser that ends is not started
    // again.
    ASSERT_TRUE(pressLoginAgain(*panoview, login));
    EXPECT_TRUE(waitFor([&] { return browsers(panoview->pid()).empty(); }));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_TRUE(browsers(panoview->pid()).empty()) << "a browser came back after the sign-out";
    panoview->signal(SIGTERM);
    EXPECT_EQ(panoview->wait(), 0);
}

// The screen saver's state and whether display power saving is on, as the
// display server tells them.
struct Blanking {
    bool saverOn = false;
    bool dpmsCapable = false;
    bool dpmsOn = false;
};

Blanking blankingOf(const std::string& display) {
    namespace x11 = platform::x11;
    Blanking b;
    x11::Connection x;
    if (!x.open(display.c_str()))
        return b;
    xcb_connection_t* c = x.get();
    auto info = x11::reply(
        xcb_screensaver_query_info_reply(c, xcb_screensaver_query_info(c, x.root()), nullptr));
    b.saverOn = info && info->state == XCB_SCREENSAVER_STATE_ON;
    auto capable = x11::reply(xcb_dpms_capable_reply(c, xcb_dpms_capable(c), nullptr));
    b.dpmsCapable = capable && capable->capable;
    if (b.dpmsCapable) {
        auto dpms = x11::reply(xcb_dpms_info_reply(c, xcb_dpms_info(c), nullptr));
        b.dpmsOn = dpms && dpms->state;
    }
    return b;
}

// Display power saving is checked where the server has it (Xvfb has not).
TEST_F(WallCare, NoBlankingWhileSignedInAndTheSettingsGivenBack) {
    wall.run("xset s 5 s blank +dpms 2>/dev/null");
    const bool dpms = blankingOf(wall.display()).dpmsCapable;
    if (dpms) {
        ASSERT_TRUE(blankingOf(wall.display()).dpmsOn);
    }
    auto panoview = startPanoview();
    std::string login;
    ASSERT_EQ(signIn(*panoview, login).size(), 3u) << panoview->stderrText();

    // Well past the saver's five idle seconds: still lit.
    std::this_thread::sleep_for(std::chrono::seconds(8));
    Blanking signedIn = blankingOf(wall.display());
    EXPECT_FALSE(signedIn.saverOn) << "the wall blanked while signed in";
    if (dpms) {
        EXPECT_FALSE(signedIn.dpmsOn) << "display power saving stayed on while signed in";
    }

    ASSERT_TRUE(pressLoginAgain(*panoview, login));
    EXPECT_TRUE(waitFor([&] { return browsers(panoview->pid()).empty(); }));
    EXPECT_TRUE(
        waitFor([&] { return blankingOf(wall.display()).saverOn; }, std::chrono::seconds(20)))
        << "no blanking after the sign-out";
    if (dpms) {
        EXPECT_TRUE(blankingOf(wall.display()).dpmsOn);
    }

    // Signed in again, then ended by a signal: blanking comes back too.
    pressLoginAgain(*panoview, login);
    EXPECT_TRUE(waitFor([&] { return browsers(panoview->pid()).size() == 3; }));
    std::this_thread::sleep_for(std::chrono::seconds(8));
    EXPECT_FALSE(blankingOf(wall.display()).saverOn) << "the wall blanked while signed in again";
    panoview->signal(SIGTERM);
    EXPECT_EQ(panoview->wait(), 0);
    EXPECT_TRUE(
        waitFor([&] { return blankingOf(wall.display()).saverOn; }, std::chrono::seconds(20)))
        << "no blanking after a signal ended Panoview";
    if (dpms) {
        EXPECT_TRUE(blankingOf(wall.display()).dpmsOn);
    }
}

} // namespace

namespace {

// The program's own end takes its wall along: a logout's SIGTERM ends every
// page with status 0, and the pages a kill -9 left behind are ended by the
// next start before its login dialog shows, so that its sign-in lights the
// wall afresh.
TEST_F(WallCare, NoPageOutlivesItsProgram) {
    auto gone = [](const std::map<pid_t, Rect>& wall) {
        return std::none_of(wall.begin(), wall.end(),
                            [](const auto& page) { return processRunning(page.first); });
    };
    {
        auto panoview = startPanoview();
        std::string login;
        const std::map<pid_t, Rect> wall = signIn(*panoview, login);
        ASSERT_EQ(wall.size(), 3u) << panoview->stderrText();
        panoview->signal(SIGTERM);
        EXPECT_EQ(panoview->wait(), 0);
        EXPECT_TRUE(waitFor([&] { return gone(wall); })) << "a page outlived SIGTERM";
    }
    std::map<pid_t, Rect> orphans;
    {
        auto panoview = startPanoview();
        std::string login;
        orphans = signIn(*panoview, login);
        ASSERT_EQ(orphans.size(), 3u) << panoview->stderrText();
        panoview->signal(SIGKILL);
        panoview->wait();
        // Nothing can catch kill -9: its pages stay for the next start.
        EXPECT_FALSE(gone(orphans));
    }
    auto panoview = startPanoview();
    std::string login;
    const std::map<pid_t, Rect> wall = signIn(*panoview, login);
    EXPECT_TRUE(gone(orphans)) << "pages of the killed run are still up";
    EXPECT_NE(panoview->stderrText().find("3 page browser(s) left from an earlier run ended"),
              std::string::npos)
        << panoview->stderrText();
    ASSERT_EQ(wall.size(), 3u) << "the new sign-in lit the wall";
    panoview->signal(SIGTERM);
    EXPECT_EQ(panoview->wait(), 0);
    EXPECT_TRUE(waitFor([&] { return gone(wall); }));
}

// The service stops answering while signed in: the next keep-alive tick (the
// real 30 s period) asks whether to exit; No keeps the program and the wall.
// The question lies above every page, whatever the pages are: plain
// override-redirect windows, or Chromium windows, full screen on the whole
// monitors and placed over the work area of the monitor with a panel.
class KeepAliveQuestion : public WallCare, public ::testing::WithParamInterface<bool> {
protected:
    KeepAliveQuestion() : WallCare(GetParam()) {}
};

TEST_P(KeepAliveQuestion, ComesAboveTheLitWallAndNoKeepsIt) {
    const bool chromium = GetParam();
    if (chromium && access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "Debian's Chromium is not installed";
    auto panoview = startPanoview();
    std::string login;
    ASSERT_EQ(signIn(*panoview, login).size(), 3u) << panoview->stderrText();
    service.signal(SIGUSR1); // the service goes silent
    std::string box;
    ASSERT_TRUE(waitFor(
        [&] {
            box = visibleWindow("^提示$");
            return !box.empty();
        },
        std::chrono::seconds(75)))
        << panoview->stderrText();
    // The question lies above every page of its monitor, in the X server's
    // own stacking and in the window manager's. A full-screen page of another
    // monitor stays in the window manager's full-screen layer, above every
    // ordinary window, but it covers nothing of the question; with plain
    // pages the question is the topmost window of all.
    const auto tops = probe.topWindows();
    const auto question = std::find_if(
        tops.begin(), tops.end(), [&](const TopWindow& w) { return w.client == std::stoul(box); });
    ASSERT_NE(question, tops.end()) << "the question is not among the mapped windows";
    auto overlaps = [](const Rect& a, const Rect& b) {
        return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
    };
    for (auto above = question + 1; above != tops.end(); ++above)
        EXPECT_FALSE(overlaps(above->outer, question->outer))
            << "window " << above->client << " of " << above->name << " covers the question";
    const std::string stacking = wall.run("xprop -root _NET_CLIENT_LIST_STACKING");
    std::vector<unsigned long> managed;
    for (size_t at = stacking.find("0x"); at != std::string::npos; at = stacking.find("0x", at + 2))
        managed.push_back(std::stoul(stacking.substr(at), nullptr, 16));
    const auto inStack = std::find(managed.begin(), managed.end(), std::stoul(box));
    ASSERT_NE(inStack, managed.end()) << stacking;
    for (auto above = inStack + 1; above != managed.end(); ++above) {
        const auto page = std::find_if(tops.begin(), tops.end(),
                                       [&](const TopWindow& w) { return w.client == *above; });
        EXPECT_TRUE(page != tops.end() && !overlaps(page->outer, question->outer))
            << "managed window " << *above << " lies above the question: " << stacking;
    }
    if (!chromium) {
        EXPECT_EQ(question + 1, tops.end()) << "a page lies above the question";
        EXPECT_EQ(inStack + 1, managed.end()) << stacking;
    }
    // It has the keyboard: the key goes to the focused window, unaimed.
    EXPECT_EQ(wall.run("xdotool getwindowfocus"), box + "\n");
    wall.run("import -window root " + std::string(WALL_CARE_SHOTS) + "/keep-alive-question" +
             (chromium ? "-chromium" : "") + ".png");
    wall.run("xdotool key n");
    EXPECT_TRUE(waitFor([&] { return visibleWindow("^提示$").empty(); }));
    EXPECT_TRUE(panoview->running());
    EXPECT_EQ(browsers(panoview->pid()).size(), 3u) << "the wall went dark";
    panoview->signal(SIGTERM);
    EXPECT_EQ(panoview->wait(), 0);
}

INSTANTIATE_TEST_SUITE_P(Pages, KeepAliveQuestion, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Chromium" : "Plain"; });

} // namespace

#include "ScriptedServer.h"

namespace {

// Exit while a sign-in waits for a service that holds its answer: Yes ends
// the program at once with status 0, and nothing the waiting worker uses is
// pulled from under it.
TEST_F(WallCare, ExitDuringASignInTheServiceHolds) {
    ScriptedServer silent([](const std::string&, size_t) {
        return ScriptedServer::Script{ScriptedServer::Step::hold()};
    });
    const std::string held = silent.url("");
    dir.write("bin/Panoview.config",
              R"({"userid": "admin", "address": ")" + held +
                  R"(", "factoryid": "F001", "srurl": [{"pri": "true", "url": "u?t=%s"}]})");
    auto panoview = startPanoview();
    const std::string login = waitForLoginWindow();
    ASSERT_FALSE(login.empty()) << panoview->stderrText();
    typePassword(login, "123456");
    pressEnter();
    std::this_thread::sleep_for(std::chrono::seconds(1)); // the worker now waits

    ASSERT_TRUE(wall.chooseFromTrayMenu(panoview->pid(), "q"));
    std::string box;
    ASSERT_TRUE(waitFor([&] {
        box = visibleWindow("^提示$");
        return !box.empty();
    }));
    wall.run("xdotool windowactivate --sync " + box + " key y");
    EXPECT_EQ(panoview->wait(), 0) << panoview->stderrText();
}

} // namespace
