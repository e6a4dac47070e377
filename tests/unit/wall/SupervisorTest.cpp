#include "wall/Supervisor.h"

#include "DebugCapture.h"
#include "ScriptedWall.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

const Rect kWork{1280, 0, 2560, 1040};

TEST(WallSupervisor, BackOffWhileItKeepsDyingAndAFreshStartAfterAHealthyRun) {
    struct Case {
        const char* name;
        std::vector<std::chrono::milliseconds> lives;  // how long each browser runs
        std::vector<std::chrono::milliseconds> delays; // the restart delay after each death
    };
    const Case cases[] = {
        {"dies at once, again and again",
         {0ms, 0ms, 0ms, 0ms, 0ms, 0ms, 0ms, 0ms},
         {1s, 2s, 4s, 8s, 16s, 32s, 60s, 60s}},
        {"a healthy run of five minutes starts the back-off afresh",
         {0ms, 0ms, 0ms, 5min, 0ms},
         {1s, 2s, 4s, 1s, 2s}},
        {"just short of five minutes is not healthy", {0ms, 5min - 1ms}, {1s, 2s}},
    };
    for (const Case& c : cases) {
        ScriptedWall wall;
        DebugCapture capture;
        WallSupervisor supervisor(wall.services());
        supervisor.watch(1, 42, kWork, "http://site/p?token=T");
        uint32_t pid = 42;
        for (size_t i = 0; i < c.lives.size(); ++i) {
            wall.advance(c.lives[i]);
            supervisor.browserEnded(pid);
            ASSERT_EQ(wall.timers.size(), 1u) << c.name << " death " << i;
            EXPECT_EQ(wall.nextDelay(), c.delays[i]) << c.name << " death " << i;
            wall.advance(c.delays[i]);
            pid = supervisor.pidOf(1);
            ASSERT_NE(pid, 0u) << c.name << " not restarted after death " << i;
        }
        ASSERT_EQ(wall.starts.size(), c.lives.size()) << c.name;
        for (const auto& [rect, address] : wall.starts) {
            EXPECT_EQ(rect, kWork) << c.name;
            EXPECT_EQ(address, "http://site/p?token=T") << c.name;
        }
        EXPECT_EQ(capture.writes().size(), c.lives.size()) << "one line per restart";
    }
}

TEST(WallSupervisor, NothingRestartsAfterAStop) {
    // The stop comes before the death, or while the restart waits.
    for (bool stopWhileWaiting : {false, true}) {
        ScriptedWall wall;
        DebugCapture capture;
        WallSupervisor supervisor(wall.services());
        supervisor.watch(0, 7, kWork, "a");
        supervisor.watch(1, 8, kWork, "b");
        if (!stopWhileWaiting)
            supervisor.stop();
        supervisor.browserEnded(7);
        if (stopWhileWaiting)
            supervisor.stop();
        wall.advance(10min);
        EXPECT_TRUE(wall.starts.empty()) << stopWhileWaiting;
        EXPECT_EQ(supervisor.pidOf(0), 0u);
    }
}

TEST(WallSupervisor, OtherProcessesAndMovesOfTheDisplay) {
    ScriptedWall wall;
    DebugCapture capture;
    WallSupervisor supervisor(wall.services());
    supervisor.watch(0, 7, kWork, "a");
    supervisor.watch(1, 0, kWork, "b"); // no browser started there: nothing to watch
    supervisor.browserEnded(99);
    supervisor.browserEnded(0);
    EXPECT_TRUE(wall.timers.empty());
    // The display changed: the restart goes over its new work area.
    const Rect moved{0, 0, 1920, 1040};
    supervisor.moved(0, moved);
    supervisor.browserEnded(7);
    wall.advance(1s);
    ASSERT_EQ(wall.starts.size(), 1u);
    EXPECT_EQ(wall.starts[0].first, moved);
}

} // namespace

#include "wall/WallKeeper.h"

namespace {

// The wall's own care between sign-in and sign-out: browsers watched where
// the launch put them, blanking held off once and given back once, nothing
// of it after a sign-out that came before the launch's report.
TEST(WallKeeper, WatchesTheLaunchedWallAndHoldsBlankingOnlyWhileSignedIn) {
    ScriptedWall wall;
    std::vector<std::string> blanking;
    WallKeeperServices services;
    services.supervisor = wall.services();
    services.holdOffBlanking = [&] {
        blanking.push_back("hold");
        return true;
    };
    services.releaseBlanking = [&] { blanking.push_back("release"); };
    SystemConfig config;
    WallKeeper keeper(config, services);
    config.token = "T";
    config.primaryMonitor.rcWork = kWork;
    config.displays = {{1, "p?t=%s", 71}, {0, "q?t=%s", 72}}; // no extended display for q

    keeper.wallUp(); // the sign-out came first: nothing
    EXPECT_TRUE(blanking.empty());
    EXPECT_EQ(keeper.supervisor().pidOf(0), 0u);

    config.signedIn = true;
    keeper.wallUp();
    keeper.wallUp(); // a second report holds nothing twice
    EXPECT_EQ(keeper.supervisor().pidOf(0), 71u);
    EXPECT_EQ(keeper.supervisor().pidOf(1), 0u);
    DebugCapture capture;
    keeper.browserEnded(71);
    wall.advance(1s);
    ASSERT_EQ(wall.starts.size(), 1u);
    EXPECT_EQ(wall.starts[0], (std::pair<Rect, std::string>{kWork, "p?t=T"}));

    const uint32_t restarted = keeper.supervisor().pidOf(0);
    ASSERT_NE(restarted, 0u);
    keeper.wallDown();
    keeper.browserEnded(restarted);
    wall.advance(10min);
    EXPECT_EQ(wall.starts.size(), 1u);
    EXPECT_EQ(blanking, (std::vector<std::string>{"hold", "release"}));
    keeper.wallDown();
    EXPECT_EQ(blanking.size(), 2u) << "released once";
}

} // namespace

namespace {

// The wall follows changed monitors once they have settled: windows on the
// same display are moved (or started again where their window cannot be
// found), browsers whose display went are ended, pages that move to another
// display start there; the settings' monitor lists follow the new discovery.
TEST(WallKeeper, FollowsTheMonitorsOnceTheyHaveSettled) {
    const Rect a{0, 0, 1280, 1080}, b{1280, 0, 2560, 1080}, c{2560, 0, 3840, 1080};
    const Rect bPanel{1280, 0, 2560, 1040};
    using Facts = std::vector<DisplayFacts>;
    const Facts three{
        {"WALL1", b, b, true, ""}, {"WALL0", a, a, false, ""}, {"WALL2", c, c, false, ""}};
    struct Case {
        const char* name;
        Facts after;
        bool windowsFound;
        std::vector<std::string> actions;
    };
    const Case cases[] = {
        {"a panel on the primary: its window moves",
         {{"WALL1", b, bPanel, true, ""}, {"WALL0", a, a, false, ""}, {"WALL2", c, c, false, ""}},
         true,
         {"move 501 1280,0,2560,1040"}},
        {"the same, but its window is not found: started again there",
         {{"WALL1", b, bPanel, true, ""}, {"WALL0", a, a, false, ""}, {"WALL2", c, c, false, ""}},
         false,
         {"end 501", "start 1280,0,2560,1040 p1?t=T"}},
        {"a monitor removed: the next page moves up, the last ends",
         {{"WALL1", b, b, true, ""}, {"WALL2", c, c, false, ""}},
         true,
         {"end 502", "start 2560,0,3840,1080 p2?t=T", "end 503"}},
    };
    for (const Case& k : cases) {
        ScriptedWall wall;
        Facts shown = three;
        std::vector<std::string> actions;
        WallKeeperServices services;
        services.supervisor = wall.services();
        services.supervisor.start = [&](const Rect& r, const std::string& address, uint32_t& pid) {
            actions.push_back("start " + std::to_string(r.left) + "," + std::to_string(r.top) +
                              "," + std::to_string(r.right) + "," + std::to_string(r.bottom) + " " +
                              address);
            pid = 900;
            return true;
        };
        services.displays = [&](Facts& out, std::string&) {
            out = shown;
            return true;
        };
        services.moveWindow = [&](uint32_t pid, const Rect& r) {
            if (k.windowsFound)
                actions.push_back("move " + std::to_string(pid) + " " + std::to_string(r.left) +
                                  "," + std::to_string(r.top) + "," + std::to_string(r.right) +
                                  "," + std::to_string(r.bottom));
            return k.windowsFound;
        };
        services.endProcess = [&](uint32_t pid) {
            actions.push_back("end " + std::to_string(pid));
        };
        SystemConfig config;
        DebugCapture capture;
        discoverDisplays(config, services.displays);
        config.token = "T";
        config.signedIn = true;
        config.displays = {{1, "p1?t=%s", 501}, {0, "p2?t=%s", 502}, {0, "p3?t=%s", 503}};
        WallKeeper keeper(config, services);
        keeper.wallUp();

        shown = k.after;
        keeper.displaysChanged();
        wall.advance(300ms);
        keeper.displaysChanged(); // still changing: the settling starts again
        wall.advance(300ms);
        EXPECT_TRUE(actions.empty()) << k.name << ": followed before the monitors settled";
        wall.advance(300ms);
        EXPECT_EQ(actions, k.actions) << k.name;
        // What the settings dialog lists follows the new discovery.
        EXPECT_EQ(config.extendedMonitors.size(), k.after.size() - 1) << k.name;
    }
}

TEST(WallKeeper, SignedOutOnlyDiscoversAgain) {
    ScriptedWall wall;
    WallKeeperServices services;
    services.supervisor = wall.services();
    services.displays = [](std::vector<DisplayFacts>& out, std::string&) {
        out = {{"NEW", {0, 0, 800, 600}, {0, 0, 800, 600}, true, ""}};
        return true;
    };
    int touched = 0;
    services.moveWindow = [&](uint32_t, const Rect&) { return ++touched, true; };
    services.endProcess = [&](uint32_t) { ++touched; };
    SystemConfig config;
    config.displays = {{1, "p?t=%s", 0}};
    WallKeeper keeper(config, services);
    DebugCapture capture;
    keeper.displaysChanged();
    wall.advance(1s);
    EXPECT_STREQ(config.primaryMonitor.szDevice, "NEW");
    EXPECT_EQ(touched, 0);
    EXPECT_TRUE(wall.starts.empty());
}

} // namespace
