#include "wall/Supervisor.h"

#include "DebugCapture.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = SupervisorServices::Clock;

// The UI thread's timers and the process starts, scripted: time moves only
// when the test says so.
struct ScriptedWall {
    Clock::time_point now{};
    std::multimap<Clock::time_point, std::function<void()>> timers;
    std::vector<std::pair<Rect, std::string>> starts;
    uint32_t nextPid = 500;

    SupervisorServices services() {
        return {[this] { return now; },
                [this](std::chrono::milliseconds delay, std::function<void()> work) {
                    timers.emplace(now + delay, std::move(work));
                },
                [this](const Rect& r, const std::string& address, uint32_t& pid) {
                    starts.emplace_back(r, address);
                    pid = nextPid++;
                    return true;
                }};
    }
    // Moves the clock on, running every timer that falls due on the way.
    void advance(std::chrono::milliseconds by) {
        const Clock::time_point end = now + by;
        while (!timers.empty() && timers.begin()->first <= end) {
            auto due = timers.begin();
            now = due->first;
            auto work = std::move(due->second);
            timers.erase(due);
            work();
        }
        now = end;
    }
    // How long after now the next restart is due.
    std::chrono::milliseconds nextDelay() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(timers.begin()->first - now);
    }
};

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
            supervisor.processEnded(pid);
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
        supervisor.processEnded(7);
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
    supervisor.processEnded(99);
    supervisor.processEnded(0);
    EXPECT_TRUE(wall.timers.empty());
    // The display changed: the restart goes over its new work area.
    const Rect moved{0, 0, 1920, 1040};
    supervisor.moved(0, moved);
    supervisor.processEnded(7);
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
    WallKeeperServices services{wall.services(),
                                [&] {
                                    blanking.push_back("hold");
                                    return true;
                                },
                                [&] { blanking.push_back("release"); }};
    WallKeeper keeper(services);
    SystemConfig config;
    config.token = "T";
    config.primaryMonitor.rcWork = kWork;
    config.displays = {{1, "p?t=%s", 71}, {0, "q?t=%s", 72}}; // no extended display for q

    keeper.wallUp(config); // the sign-out came first: nothing
    EXPECT_TRUE(blanking.empty());
    EXPECT_EQ(keeper.supervisor().pidOf(0), 0u);

    config.signedIn = true;
    keeper.wallUp(config);
    keeper.wallUp(config); // a second report holds nothing twice
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
