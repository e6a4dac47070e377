// The wall on the desktops operators run: GNOME's mutter, KDE's KWin and
// sway, each a real compositor started headless with three outputs
// (scripts/waywall). Discovery finds every output, one of them primary, with
// the work area the desktop publishes; the launcher starts one Brovia per
// monitor with real Chromium through XWayland, and each page lies exactly over
// its monitor's work area and shows itself there: in the one shared browser
// where the page covers its whole monitor (not under sway), in a Chromium of
// its own elsewhere and with BROVIA_SHARED=0.
#include "CompositorWall.h"
#include "Models.h"
#include "PageServer.h"
#include "XProbe.h"

#include "WallTestSupport.h"
#include "common/Globals.h"
#include "platform/Instance.h"
#include "platform/Process.h"
#include "wall/DisplayDiscovery.h"
#include "wall/Launcher.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <sys/wait.h>

namespace {

using std::chrono::seconds;

constexpr int kOutputWidth = 1280, kOutputHeight = 720;

std::string describe(const Rect& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.width()) +
           "x" + std::to_string(r.height());
}

struct Desktop {
    const char* compositor;
    int panelTop;           // the height the desktop's own panel takes at an output's top
    bool everyOutput;       // the panel is on every output, not on the primary one only
    bool placesPart = true; // a window over part of a monitor can lie where it is asked
    // Pages over whole monitors share one browser (not on sway, which places
    // windows by its own commands, nor on weston, which keeps no client list).
    bool sharesWholeMonitors = true;
};

class OnDesktop : public ::testing::TestWithParam<std::tuple<Desktop, Model>> {};

TEST_P(OnDesktop, EveryMonitorShowsItsPageOverItsWorkArea) {
    const auto [desktop, model] = GetParam();
    useModel(model);
    if (access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "Debian's Chromium is not installed";
    CompositorWall wall(desktop.compositor);
    if (!wall.started() && wall.cannotStartHere())
        GTEST_SKIP() << desktop.compositor << " cannot start on this machine: " << wall.reason();
    ASSERT_TRUE(wall.started()) << wall.reason();
    // The pages are X11 clients of XWayland, whatever the session offers.
    useWall(wall);

    SystemConfig config;
    discoverDisplays(config, desktopDisplays);
    ASSERT_EQ(config.extendedMonitors.size(), 2u) << "three outputs, one of them primary";
    std::vector<const MonitorInfo*> monitors = {&config.primaryMonitor, &config.extendedMonitors[0],
                                                &config.extendedMonitors[1]};
    std::vector<int> lefts;
    for (const MonitorInfo* m : monitors) {
        EXPECT_EQ(m->rcMonitor.width(), kOutputWidth) << m->szDevice;
        EXPECT_EQ(m->rcMonitor.height(), kOutputHeight) << m->szDevice;
        Rect work = m->rcMonitor;
        if (desktop.everyOutput || m == &config.primaryMonitor)
            work.top += desktop.panelTop;
        EXPECT_EQ(m->rcWork, work) << m->szDevice;
        lefts.push_back(m->rcMonitor.left);
    }
    std::sort(lefts.begin(), lefts.end());
    EXPECT_EQ(lefts, (std::vector<int>{0, kOutputWidth, 2 * kOutputWidth})) << "side by side";

    PageServer server;
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port()) + "/KnitUI/";
    const std::vector<std::string> pages = {"status", "record", "order"};
    config.token = "TOK3N";
    for (size_t i = 0; i < pages.size(); ++i)
        config.displays.push_back(
            {static_cast<uint8_t>(i == 0), base + pages[i] + ".html?token=%s&flag=multiscreen", 0});
    Launcher launcher{processLauncherServices(PANOVIEW_BIN_DIR)}; // Brovia is built beside the test
    launcher.startLaunchThread(config);
    launcher.waitForLaunch();

    XProbe probe(wall.display());
    std::vector<TopWindow> windows;
    for (size_t i = 0; i < pages.size(); ++i) {
        const auto brovia = static_cast<pid_t>(config.displays[i].processId);
        ASSERT_NE(brovia, 0) << pages[i];
        const Rect work = monitors[i]->rcWork;
        std::optional<TopWindow> window;
        EXPECT_TRUE(eventually(
            [&] {
                window.reset();
                // Its own Chromium's window, or the shared browser's window
                // with its page.
                std::vector<pid_t> tree = descendantsOf(brovia);
                for (pid_t host : hosts())
                    for (pid_t pid : descendantsOf(host))
                        tree.push_back(pid);
                const std::set<pid_t> owners(tree.begin(), tree.end());
                for (const auto& top : probe.topWindows())
                    for (uint32_t pid : top.pids)
                        if (owners.count(static_cast<pid_t>(pid)) &&
                            titledBy(top.name, PageServer::title(pages[i], "TOK3N")))
                            window = top;
                return !processRunning(brovia) ||
                       (window && window->outer == work &&
                        titledBy(window->name, PageServer::title(pages[i], "TOK3N")));
            },
            seconds(60)))
            << pages[i] << " on " << desktop.compositor;
        ASSERT_TRUE(processRunning(brovia)) << "Brovia of " << pages[i] << " ended early";
        ASSERT_TRUE(window) << "no browser window for " << pages[i];
        EXPECT_EQ(window->outer, work) << pages[i] << " on " << desktop.compositor;
        // The page is drawn where it belongs: its colour at the middle of
        // the work area (read from the window: XWayland's root shows none).
        const int x = (work.left + work.right) / 2, y = (work.top + work.bottom) / 2;
        const auto colour = [&] {
            return probe.colourIn(window->client, x - window->clientArea.left,
                                  y - window->clientArea.top);
        };
        EXPECT_TRUE(
            eventually([&] { return colour() == PageServer::colourOf(pages[i]); }, seconds(30)))
            << pages[i] << " shows " << std::hex << colour();
        windows.push_back(*window);
    }

    // One browser for the pages over whole monitors (outside sway), one
    // for each other page; a browser per page with BROVIA_SHARED=0.
    size_t whole = 0;
    for (const MonitorInfo* m : monitors)
        whole += m->rcWork == m->rcMonitor && desktop.sharesWholeMonitors;
    std::vector<pid_t> tops = model == Model::Shared ? hosts() : std::vector<pid_t>{};
    for (const auto& d : config.displays)
        tops.push_back(static_cast<pid_t>(d.processId));
    EXPECT_EQ(browsersBelow(tops),
              model == Model::Own ? pages.size() : pages.size() - whole + (whole > 0))
        << desktop.compositor;

    // A picture of the wall for the record: each page's window where it lies.
    std::string compose = "convert -size " + std::to_string(3 * kOutputWidth) + "x" +
                          std::to_string(kOutputHeight) + " xc:'#202020'";
    for (size_t i = 0; i < windows.size(); ++i) {
        const std::string part = std::string(DESKTOP_SCREENSHOTS) + "/" + desktop.compositor + "-" +
                                 std::to_string(i) + ".png";
        wall.run("import -window " + std::to_string(windows[i].client) + " " + part);
        compose += " " + part + " -geometry +" + std::to_string(windows[i].clientArea.left) + "+" +
                   std::to_string(windows[i].clientArea.top) + " -composite";
    }
    const std::string shot = std::string(DESKTOP_SCREENSHOTS) + "/wall-" + desktop.compositor +
                             (model == Model::Own ? "-own" : "") + ".png";
    EXPECT_EQ(std::system((compose + " " + shot).c_str()), 0) << compose;

    launcher.StopBrowsers();
    for (const auto& d : config.displays)
        EXPECT_TRUE(
            eventually([pid = static_cast<pid_t>(d.processId)] { return !processRunning(pid); }));

    // A page over part of a monitor, as a panel of its own would leave it: an
    // undecorated normal window placed exactly (or maximised there), not
    // full screen and not framed, whatever the window manager. weston frames
    // and places such a window itself.
    if (!desktop.placesPart)
        return;
    const Rect part{monitors[1]->rcWork.left, monitors[1]->rcWork.top + 40,
                    monitors[1]->rcWork.right, monitors[1]->rcWork.bottom};
    uint32_t pid = 0;
    ASSERT_TRUE(launcher.StartProcess(part, base + "status.html?token=PART", pid));
    std::optional<TopWindow> window;
    EXPECT_TRUE(eventually(
        [&] {
            window.reset();
            const auto tree = descendantsOf(static_cast<pid_t>(pid));
            const std::set<pid_t> owners(tree.begin(), tree.end());
            for (const auto& top : probe.topWindows())
                for (uint32_t owner : top.pids)
                    if (owners.count(static_cast<pid_t>(owner)))
                        window = top;
            return window && window->outer == part && window->clientArea == part &&
                   window->name == PageServer::title("status", "PART");
        },
        seconds(60)))
        << desktop.compositor << ": "
        << (window ? "frame " + describe(window->outer) + ", page " + describe(window->clientArea)
                   : std::string("no window"));
    launcher.StopBrowsers();
    EXPECT_TRUE(eventually([&] { return !processRunning(static_cast<pid_t>(pid)); }));
}

// GNOME's mutter without the shell (no top bar), GNOME Shell with its top bar
// (32 pixels) on the primary monitor only, KDE Plasma's KWin, sway with its
// bar (30 pixels high) at the top of each output, and weston (its panel is
// no X11 client's business: nothing tells XWayland of it).
INSTANTIATE_TEST_SUITE_P(
    Compositors, OnDesktop,
    ::testing::Combine(::testing::Values(Desktop{"mutter", 0, true},
                                         Desktop{"gnome-shell", 32, false},
                                         Desktop{"kwin", 0, true},
                                         Desktop{"sway", 30, true, true, false},
                                         Desktop{"weston", 0, true, false, false}),
                       ::testing::Values(Model::Shared, Model::Own)),
    [](const auto& info) {
        std::string name = std::get<0>(info.param).compositor;
        std::replace(name.begin(), name.end(), '-', '_');
        return name + "_" + modelName(std::get<1>(info.param));
    });

} // namespace
