// The wall comes up on a virtual three-monitor desktop with a panel on one
// monitor: the launcher starts the real Brovia once per display, and each
// window lies exactly over the work area of its monitor.
#include "PageServer.h"
#include "XProbe.h"

#include "DebugCapture.h"
#include "TempDir.h"
#include "WallTestSupport.h"
#include "common/Globals.h"
#include "platform/Displays.h"
#include "platform/Instance.h"
#include "platform/Process.h"
#include "wall/DisplayDiscovery.h"
#include "wall/Launcher.h"

#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using std::chrono::seconds;

constexpr int kMonitorWidth = 1280;
constexpr int kMonitorHeight = 1080;
constexpr int kPanelHeight = 40;

class WallLaunch : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        wall_ = std::make_unique<VirtualWall>(
            PANOVIEW_SOURCE_DIR, "--monitors 1280x1080,1280x1080,1280x1080 --primary 1 --panel 2:" +
                                     std::to_string(kPanelHeight));
        setenv("DISPLAY", wall_->display().c_str(), 1);
    }
    static void TearDownTestSuite() { wall_.reset(); }

    void SetUp() override {
        discoverDisplays(config, desktopDisplays);
        config.token = "TOK3N";
        probe = std::make_unique<XProbe>(wall_->display());
    }
    void TearDown() override { launcher.StopBrowsers(); }

    // The work area of the monitor whose whole rectangle is `monitor`, worked
    // out from the side-by-side layout and the panel's strut as the X server
    // holds it.
    Rect expectedWorkArea(const Rect& monitor) {
        Rect work = monitor;
        for (const auto& strut : probe->bottomStruts())
            if (strut.startX < monitor.right && strut.endX >= monitor.left)
                work.bottom = std::min(work.bottom, kMonitorHeight - strut.height);
        return work;
    }

    // The launch as a sign-in starts it, assignments [primary, extended,
    // extended]; returns the Brovia of each assignment and the work area it
    // must cover.
    std::vector<std::pair<pid_t, Rect>> launch(const std::vector<std::string>& templates) {
        config.displays.clear();
        for (size_t i = 0; i < templates.size(); ++i)
            config.displays.push_back({static_cast<uint8_t>(i == 0), templates[i], 0});
        launcher.startLaunchThread(config);
        launcher.waitForLaunch();
        std::vector<std::pair<pid_t, Rect>> started;
        for (size_t i = 0; i < templates.size(); ++i) {
            const MonitorInfo& m = i == 0 ? config.primaryMonitor : config.extendedMonitors[i - 1];
            started.emplace_back(static_cast<pid_t>(config.displays[i].processId),
                                 expectedWorkArea(m.rcMonitor));
        }
        return started;
    }

    // The mapped top-level window holding a window of one of the processes.
    std::optional<TopWindow> windowOf(const std::set<pid_t>& owners) {
        for (const auto& top : probe->topWindows())
            for (uint32_t pid : top.pids)
                if (owners.count(static_cast<pid_t>(pid)))
                    return top;
        return std::nullopt;
    }

    SystemConfig config;
    // Brovia is built beside this test.
    Launcher launcher{processLauncherServices(PANOVIEW_BIN_DIR)};
    std::unique_ptr<XProbe> probe;
    static std::unique_ptr<VirtualWall> wall_;
};

std::unique_ptr<VirtualWall> WallLaunch::wall_;

TEST_F(WallLaunch, DiscoveryMatchesTheVirtualWall) {
    // The desk this suite assumes: three monitors side by side, the middle
    // one primary, a panel strut on exactly one of them.
    ASSERT_EQ(config.primaryMonitor.rcMonitor, (Rect{1280, 0, 2560, 1080}));
    ASSERT_EQ(config.extendedMonitors.size(), 2u);
    int shortened = 0;
    for (const MonitorInfo* m :
         {&config.primaryMonitor, &config.extendedMonitors[0], &config.extendedMonitors[1]}) {
        EXPECT_EQ(m->rcMonitor.width(), kMonitorWidth);
        EXPECT_EQ(m->rcWork, expectedWorkArea(m->rcMonitor)) << m->szDevice;
        shortened += m->rcWork.height() == kMonitorHeight - kPanelHeight;
    }
    EXPECT_EQ(shortened, 1);
}

TEST_F(WallLaunch, PlainBroviaWindowsCoverTheWorkAreas) {
    setenv("BROVIA_NO_CHROMIUM", "1", 1);
    const std::string page = "http://127.0.0.1/KnitUI/status.html?token=%s&flag=multiscreen";
    auto started = launch({page, page, page});
    unsetenv("BROVIA_NO_CHROMIUM");

    for (const auto& [pid, work] : started) {
        ASSERT_NE(pid, 0);
        // Brovia got the words of its command line, the address whole (its
        // token hidden there once Brovia has read it).
        std::vector<std::string> words = commandLine(pid);
        ASSERT_EQ(words.size(), 11u);
        EXPECT_TRUE(sameAddressButForHiddenToken(
            words[10], "http://127.0.0.1/KnitUI/status.html?token=TOK3N&flag=multiscreen"))
            << words[10];
        words.pop_back();
        EXPECT_EQ(words, (std::vector<std::string>{"Brovia", "/left", std::to_string(work.left),
                                                   "/top", std::to_string(work.top), "/bottom",
                                                   std::to_string(work.bottom), "/right",
                                                   std::to_string(work.right), "/url"}));
        std::optional<TopWindow> window;
        EXPECT_TRUE(eventually([&] {
            window = windowOf({pid});
            return window && window->outer == work;
        }));
        ASSERT_TRUE(window) << "no window of Brovia " << pid;
        EXPECT_EQ(window->outer, work);
    }

    launcher.StopBrowsers();
    for (const auto& [pid, work] : started)
        EXPECT_TRUE(eventually([&, pid = pid] { return !processExists(pid) && !windowOf({pid}); }));
}

TEST_F(WallLaunch, OwnChromiumShowsEachPageOverItsWorkAreaAndStopLeavesNoBrowser) {
    if (access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "Debian's Chromium is not installed";
    PageServer server;
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port()) + "/KnitUI/";
    const std::vector<std::string> pages = {"status", "record", "order"};
    std::vector<std::string> templates;
    for (const auto& page : pages)
        templates.push_back(base + page + ".html?token=%s&flag=multiscreen");
    // Each Brovia with a Chromium of its own, the model BROVIA_SHARED=0
    // keeps; the shared browser has its own suite.
    setenv("BROVIA_SHARED", "0", 1);
    auto started = launch(templates);
    unsetenv("BROVIA_SHARED");

    std::set<pid_t> browserTree;
    for (size_t i = 0; i < started.size(); ++i) {
        const auto& [brovia, work] = started[i];
        ASSERT_NE(brovia, 0);
        // The browser's windows belong to Brovia's child; the window
        // manager's frame is what lies over the work area.
        std::optional<TopWindow> window;
        EXPECT_TRUE(eventually(
            [&, brovia = brovia, work = work] {
                auto children = descendantsOf(brovia);
                window = windowOf(std::set<pid_t>(children.begin(), children.end()));
                return !processRunning(brovia) ||
                       (window && window->outer == work &&
                        window->name == PageServer::title(pages[i], "TOK3N"));
            },
            seconds(60)));
        ASSERT_TRUE(processRunning(brovia)) << "Brovia " << brovia << " ended early";
        ASSERT_TRUE(window) << "no browser window for " << pages[i] << " after "
                            << descendantsOf(brovia).size() << " browser processes started";
        EXPECT_EQ(window->outer, work) << pages[i];
        EXPECT_EQ(window->name, PageServer::title(pages[i], "TOK3N"));
    }
    // The page itself is drawn: the middle of each work area shows the
    // page's colour.
    for (size_t i = 0; i < started.size(); ++i) {
        const Rect& work = started[i].second;
        const int x = (work.left + work.right) / 2, y = (work.top + work.bottom) / 2;
        EXPECT_TRUE(eventually(
            [&] { return probe->colourAt(x, y) == PageServer::colourOf(pages[i]); }, seconds(30)))
            << pages[i] << " shows " << std::hex << probe->colourAt(x, y);
    }
    auto requests = server.requests();
    for (const auto& page : pages)
        EXPECT_NE(std::find(requests.begin(), requests.end(), page + "?TOK3N"), requests.end());

    std::string shot = std::string(WALL_SCREENSHOT);
    std::string command = "import -window root -display " + wall_->display() + " " + shot;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;

    std::vector<std::string> profiles;
    for (const auto& [brovia, work] : started)
        for (pid_t pid : descendantsOf(brovia)) {
            browserTree.insert(pid);
            for (const auto& word : commandLine(pid))
                if (word.rfind("--user-data-dir=", 0) == 0)
                    profiles.push_back(word.substr(16));
        }
    ASSERT_FALSE(profiles.empty());

    launcher.StopBrowsers();
    for (const auto& [brovia, work] : started)
        EXPECT_TRUE(eventually([brovia = brovia] { return !processRunning(brovia); }));
    for (pid_t pid : browserTree)
        EXPECT_TRUE(eventually([pid] {
            return !processRunning(pid) || platform::processFileName(pid) != "chromium";
        })) << "chromium "
            << pid << " survived the stop";
    for (const auto& profile : profiles)
        EXPECT_TRUE(eventually([&] { return !std::filesystem::exists(profile); })) << profile;
}

} // namespace

namespace {

// A docked window whose strut reserves the whole height of one monitor, so
// that the monitor has no room left (RandR itself lists no monitor of zero
// size), for the life of the object.
class WholeMonitorDock {
public:
    WholeMonitorDock(const std::string& display, const Rect& monitor) {
        namespace x11 = platform::x11;
        if (!x_.open(display.c_str()))
            throw std::runtime_error("cannot reach " + display);
        xcb_connection_t* c = x_.get();
        const xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, x_.root(), int16_t(monitor.left),
                          int16_t(monitor.bottom - 1), 1, 1, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          x_.screen()->root_visual, 0, nullptr);
        const xcb_atom_t dock = x11::internAtom(c, "_NET_WM_WINDOW_TYPE_DOCK");
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, x11::internAtom(c, "_NET_WM_WINDOW_TYPE"),
                            XCB_ATOM_ATOM, 32, 1, &dock);
        const uint32_t strut[12] = {0,
                                    0,
                                    0,
                                    uint32_t(monitor.height()),
                                    0,
                                    0,
                                    0,
                                    0,
                                    0,
                                    0,
                                    uint32_t(monitor.left),
                                    uint32_t(monitor.right - 1)};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w,
                            x11::internAtom(c, "_NET_WM_STRUT_PARTIAL"), XCB_ATOM_CARDINAL, 32, 12,
                            strut);
        xcb_map_window(c, w);
        x11::sync(c);
        // Taken in once the window manager lists it (the wall's window
        // manager may still be starting).
        listed_ = eventually(
            [&] {
                for (uint32_t listed : x11::cardinals(
                         c, x_.root(), x11::internAtom(c, "_NET_CLIENT_LIST"), XCB_ATOM_WINDOW))
                    if (listed == w)
                        return true;
                return false;
            },
            std::chrono::seconds(60));
    }
    bool listed() const { return listed_; }

private:
    platform::x11::Connection x_;
    bool listed_ = false;
};

// A desk as the Wayland desktops' X servers show it: no output is primary,
// and one monitor has no room. Every monitor with room lights up, the one at
// the desktop's origin as the primary display; the one without starts
// nothing.
TEST(WallWithoutPrimary, EveryMonitorLightsAndAnEmptyOneStartsNoBrowser) {
    VirtualWall wall(PANOVIEW_SOURCE_DIR, "--monitors 1280x720,1280x720,1280x720 --primary none");
    setenv("DISPLAY", wall.display().c_str(), 1);
    WholeMonitorDock dock(wall.display(), Rect{2560, 0, 3840, 720});
    ASSERT_TRUE(dock.listed()) << "the window manager never listed the dock";
    SystemConfig config;
    DebugCapture capture;
    discoverDisplays(config, desktopDisplays);
    ASSERT_EQ(config.primaryMonitor.rcMonitor, (Rect{0, 0, 1280, 720}));
    ASSERT_EQ(config.extendedMonitors.size(), 2u);
    EXPECT_EQ(config.extendedMonitors[0].rcMonitor, (Rect{1280, 0, 2560, 720}));
    EXPECT_EQ(config.extendedMonitors[1].rcWork.height(), 0);
    const std::string lines = [&] {
        std::string all;
        for (const auto& line : capture.writes())
            all += line;
        return all;
    }();
    EXPECT_NE(lines.find("no monitor is flagged primary; WALL0 is the primary display: it lies "
                         "at the desktop's origin"),
              std::string::npos)
        << lines;

    setenv("BROVIA_NO_CHROMIUM", "1", 1);
    config.token = "T";
    for (int i = 0; i < 3; ++i)
        config.displays.push_back({static_cast<uint8_t>(i == 0), "http://127.0.0.1/p%s", 0});
    Launcher launcher{processLauncherServices(PANOVIEW_BIN_DIR)}; // Brovia is built beside the test
    launcher.startLaunchThread(config);
    launcher.waitForLaunch();
    unsetenv("BROVIA_NO_CHROMIUM");

    EXPECT_EQ(config.displays[2].processId, 0u) << "a Brovia over the empty monitor";
    size_t noRoom = 0;
    for (const auto& line : capture.writes())
        noRoom += line.find("display assignment 2 has an empty work area") != std::string::npos;
    EXPECT_EQ(noRoom, 1u);
    XProbe probe(wall.display());
    const Rect expected[2] = {config.primaryMonitor.rcWork, config.extendedMonitors[0].rcWork};
    for (int i = 0; i < 2; ++i) {
        const auto pid = static_cast<pid_t>(config.displays[i].processId);
        ASSERT_NE(pid, 0) << "assignment " << i;
        EXPECT_TRUE(eventually([&] {
            for (const auto& top : probe.topWindows())
                if (top.pids.count(static_cast<uint32_t>(pid)) && top.outer == expected[i])
                    return true;
            return false;
        })) << "assignment "
            << i;
        // Brovia was started over a real rectangle and stays.
        EXPECT_TRUE(processRunning(pid));
    }
    launcher.StopBrowsers();
}

} // namespace
