// What the wall keeper knows of each monitor's page: the states the page
// browsers report on their pipes, kept by browser from its first line (also
// before the launch has reported the wall up), forgotten when the browser
// ends, cleared when the wall goes down; the run's counts of restarts and
// reloads; a page reloaded on request; no token in what it tells.
#include "DebugCapture.h"
#include "ScriptedWall.h"
#include "wall/WallKeeper.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using WallClock = std::chrono::system_clock;

const Rect kLeft{0, 0, 1280, 1040}, kRight{1280, 0, 2560, 1080};

MonitorInfo monitorInfo(const char* name, const Rect& whole, const Rect& work, bool primary) {
    MonitorInfo m;
    m.rcMonitor = whole;
    m.rcWork = work;
    m.dwFlags = primary ? MONITORINFOF_PRIMARY : 0;
    std::snprintf(m.szDevice, sizeof m.szDevice, "%s", name);
    return m;
}

struct PagesWall : ::testing::Test {
    WallKeeperServices scripted() {
        WallKeeperServices services;
        services.supervisor = wall.services();
        services.endProcess = [this](uint32_t pid) { ended.push_back(pid); };
        services.wallClock = [this] { return clock; };
        return services;
    }
    PagesWall() {
        config.token = "S3CRET";
        config.signedIn = true;
        config.primaryMonitor = monitorInfo("LEFT", {0, 0, 1280, 1080}, kLeft, true);
        config.extendedMonitors = {monitorInfo("RIGHT", kRight, kRight, false)};
        config.displays = {{1, "http://s/a?token=%s&f=1", 71}, {0, "http://s/b?t=%s", 72}};
    }
    MonitorStatus of(size_t i) const { return keeper.monitors().at(i); }
    static int64_t ms(WallClock::time_point t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    }

    ScriptedWall wall;
    SystemConfig config;
    WallClock::time_point clock = WallClock::time_point{} + 1700000000s;
    std::vector<uint32_t> ended;
    DebugCapture quiet;
    WallKeeper keeper{config, scripted()};
};

TEST_F(PagesWall, ReportsFromTheFirstLineAreTheMonitorsStateUntilTheBrowserEnds) {
    // The browsers speak before the launch has reported the wall up.
    keeper.pageReport(71, "page loading 1 0 first load\npage li");
    keeper.pageReport(72, "noise from the browser\n");
    EXPECT_EQ(of(0).state, "off") << "the wall is not up yet";
    keeper.wallUp();
    const auto upAt = clock;
    struct Step {
        const char* name;
        uint32_t pid;
        const char* bytes;
        const char* state0;
        const char* state1;
    };
    const Step steps[] = {
        {"a line completed across reads", 71, "ve 1 0\n", "live", "starting"},
        {"a foreign line changes nothing", 72, "[1:2:ERROR] page live 1 0\n", "live", "starting"},
        {"the other monitor loads", 72, "page loading 1 0\n", "live", "loading"},
        {"a crash and its reload", 71, "page crashed 1 0 renderer gone\n", "crashed", "loading"},
        {"live again", 71, "page live 2 0\n", "live", "loading"},
        {"retrying with its next attempt", 72, "page retrying 3 1700000100000 refused\n", "live",
         "retrying"},
    };
    for (const Step& s : steps) {
        clock += 1s;
        keeper.pageReport(s.pid, s.bytes);
        EXPECT_EQ(of(0).state, s.state0) << s.name;
        EXPECT_EQ(of(1).state, s.state1) << s.name;
    }
    MonitorStatus left = of(0), right = of(1);
    EXPECT_EQ(left.name, "LEFT");
    EXPECT_EQ(left.monitor, (Rect{0, 0, 1280, 1080}));
    EXPECT_EQ(left.work, kLeft);
    EXPECT_EQ(left.pid, 71u);
    EXPECT_EQ(left.count, 2u);
    EXPECT_EQ(left.sinceMs, ms(clock - 1s));
    EXPECT_EQ(left.lastLiveMs, ms(clock)) << "live now";
    EXPECT_EQ(left.reloads, (std::map<std::string, uint64_t>{{"crashed", 1}}));
    EXPECT_EQ(right.nextAttemptMs, 1700000100000);
    EXPECT_EQ(right.detail, "refused");
    EXPECT_EQ(right.reloads, (std::map<std::string, uint64_t>{{"retrying", 3}}));
    EXPECT_EQ(right.lastLiveMs, 0) << "never live";
    EXPECT_EQ(left.address, "http://s/a?token=***&f=1");
    EXPECT_EQ(right.address, "http://s/b?t=***");

    // The left browser ends: restarting since then, then a new browser that
    // has not spoken yet; the counts of the run stay.
    clock += 5s;
    const auto endedAt = clock;
    keeper.browserEnded(71);
    EXPECT_EQ(of(0).state, "restarting");
    EXPECT_EQ(of(0).sinceMs, ms(endedAt));
    EXPECT_EQ(of(0).lastLiveMs, ms(endedAt)) << "live until it ended";
    wall.advance(1s);
    left = of(0);
    EXPECT_EQ(left.state, "starting");
    EXPECT_EQ(left.pid, 500u);
    EXPECT_EQ(left.restarts, 1u);
    EXPECT_EQ(left.reloads, (std::map<std::string, uint64_t>{{"crashed", 1}}));
    keeper.pageReport(500, "page crashed 1 0\n");
    EXPECT_EQ(of(0).reloads, (std::map<std::string, uint64_t>{{"crashed", 2}}))
        << "each browser's counts add up over the run";
    // A closed window, a certificate error and answered dialogs: each load
    // under its own reason, none of them a crash; the reason in the state.
    keeper.pageReport(500, "page closed 1 0 the page closed its window\n"
                           "page live:dialog 3 0 an alert\n"
                           "page retrying:certificate 2 1700000200000 net::ERR_CERT_INVALID\n");
    EXPECT_EQ(of(0).reloads,
              (std::map<std::string, uint64_t>{{"crashed", 2}, {"closed", 1}, {"certificate", 2}}));
    EXPECT_EQ(of(0).state, "retrying");
    EXPECT_EQ(of(0).reason, "certificate");
    EXPECT_EQ(of(0).nextAttemptMs, 1700000200000);
    keeper.pageReport(500, "page crashed 1 0\n");
    EXPECT_GT(ms(upAt), 0);

    // A report pipe that ends forgets its browser's state.
    keeper.pageReportsEnded(72);
    EXPECT_EQ(of(1).state, "starting");
    EXPECT_EQ(of(1).reloads, (std::map<std::string, uint64_t>{{"retrying", 3}}));

    // The wall goes down: nothing is known, late lines are not kept.
    keeper.wallDown();
    config.signedIn = false;
    keeper.pageReport(500, "page live 1 0\n");
    for (const MonitorStatus& m : keeper.monitors()) {
        EXPECT_EQ(m.state, "off");
        EXPECT_EQ(m.pid, 0u);
    }
    for (const MonitorStatus& m : keeper.monitors())
        EXPECT_EQ(m.address.find("S3CRET"), std::string::npos);
    EXPECT_EQ(of(0).reloads,
              (std::map<std::string, uint64_t>{{"crashed", 2}, {"closed", 1}, {"certificate", 2}}))
        << "the run's counts outlive the wall";
    EXPECT_EQ(of(0).restarts, 1u);
}

TEST_F(PagesWall, AReloadEndsAndStartsExactlyThatPage) {
    EXPECT_FALSE(keeper.reload(0)) << "not while the wall is down";
    EXPECT_TRUE(wall.starts.empty());
    keeper.wallUp();
    keeper.pageReport(71, "page live 1 0\n");
    keeper.pageReport(72, "page live 1 0\n");
    ASSERT_TRUE(keeper.reload(1));
    EXPECT_EQ(ended, std::vector<uint32_t>{72});
    ASSERT_EQ(wall.starts.size(), 1u);
    EXPECT_EQ(wall.starts[0], (std::pair<Rect, std::string>{kRight, "http://s/b?t=S3CRET"}));
    EXPECT_EQ(config.displays[1].processId, 500u);
    EXPECT_EQ(of(1).state, "starting");
    EXPECT_EQ(of(1).reloads, (std::map<std::string, uint64_t>{{"command", 1}}));
    EXPECT_EQ(of(1).restarts, 0u) << "a reload asked for is no restart";
    EXPECT_EQ(of(0).state, "live") << "the other page is left alone";
    EXPECT_EQ(of(0).pid, 71u);
    // The ended browser's own end is no reason to start another.
    keeper.browserEnded(72);
    wall.advance(2min);
    EXPECT_EQ(wall.starts.size(), 1u);
    EXPECT_EQ(of(1).pid, 500u);
    EXPECT_FALSE(keeper.reload(7)) << "no such entry";
    config.signedIn = false;
    EXPECT_FALSE(keeper.reload(0)) << "signed out";
}

} // namespace
