#include "wall/DisplayDiscovery.h"
#include "DebugCapture.h"
#include "wall/WorkArea.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

DisplaySource fixed(std::vector<DisplayFacts> displays) {
    return [displays](std::vector<DisplayFacts>& out, std::string&) {
        out = displays;
        return true;
    };
}

} // namespace

TEST(DisplayDiscovery, PrimaryAndExtendedInPlatformOrderWithOneLineEach) {
    SystemConfig config;
    DebugCapture capture;
    discoverDisplays(config,
                     fixed({
                         {"WALL1", {0, 0, 1280, 1080}, {0, 0, 1280, 1080}, true, "Dell"},
                         {"WALL2", {2560, 0, 3840, 1080}, {2560, 0, 3840, 1040}, false, "x"},
                         {"WALL0", {-1280, 0, 0, 1080}, {-1280, 0, 0, 1080}, false, "y"},
                     }));
    EXPECT_STREQ(config.primaryMonitor.szDevice, "WALL1");
    EXPECT_EQ(config.primaryMonitor.dwFlags, 1u);
    EXPECT_EQ(config.primaryMonitor.description, "Dell");
    ASSERT_EQ(config.extendedMonitors.size(), 2u);
    EXPECT_STREQ(config.extendedMonitors[0].szDevice, "WALL2");
    EXPECT_EQ(config.extendedMonitors[0].rcMonitor, (Rect{2560, 0, 3840, 1080}));
    EXPECT_EQ(config.extendedMonitors[0].rcWork, (Rect{2560, 0, 3840, 1040}));
    EXPECT_STREQ(config.extendedMonitors[1].szDevice, "WALL0");
    EXPECT_EQ(capture.writes(),
              (std::vector<std::string>{
                  "MonitorEnumProc1: "
                  "szDevice.WALL1,dwFlags.0x00000001,left.0,top.0,right.1280,bottom.1080\n",
                  "MonitorEnumProc1: "
                  "szDevice.WALL2,dwFlags.0x00000000,left.2560,top.0,right.3840,bottom.1040\n",
                  "MonitorEnumProc1: "
                  "szDevice.WALL0,dwFlags.0x00000000,left.-1280,top.0,right.0,bottom.1080\n"}));
}

TEST(DisplayDiscovery, NoPrimaryLeavesTheZeroRecord) {
    SystemConfig config;
    DebugCapture capture;
    discoverDisplays(config, fixed({{"A", {0, 0, 10, 10}, {0, 0, 10, 10}, false, ""}}));
    EXPECT_STREQ(config.primaryMonitor.szDevice, "");
    EXPECT_EQ(config.primaryMonitor.rcWork, Rect{});
    EXPECT_EQ(config.extendedMonitors.size(), 1u);
}

TEST(DisplayDiscovery, APrimaryTheServerDidNotFlagIsSaidSoInASecondLine) {
    SystemConfig config;
    DebugCapture capture;
    platform::DesktopFacts desktop{{0, 0, 2560, 720},
                                   {},
                                   true,
                                   {{"XWAYLAND1", {1280, 0, 2560, 720}, false, false, {}, ""},
                                    {"XWAYLAND0", {0, 0, 1280, 720}, false, false, {}, ""}}};
    discoverDisplays(config, [&](std::vector<DisplayFacts>& out, std::string&) {
        out = resolveDisplays(desktop);
        return true;
    });
    EXPECT_STREQ(config.primaryMonitor.szDevice, "XWAYLAND0");
    ASSERT_EQ(config.extendedMonitors.size(), 1u);
    EXPECT_EQ(capture.writes(),
              (std::vector<std::string>{
                  "MonitorEnumProc1: "
                  "szDevice.XWAYLAND1,dwFlags.0x00000000,left.1280,top.0,right.2560,bottom.720\n",
                  "MonitorEnumProc1: "
                  "szDevice.XWAYLAND0,dwFlags.0x00000001,left.0,top.0,right.1280,bottom.720\n",
                  "DisplayDiscovery: no monitor is flagged primary; XWAYLAND0 is the primary "
                  "display: it lies at the desktop's origin\n"}));
}

TEST(DisplayDiscovery, LongDeviceNameIsCutOnACharacterBoundary) {
    SystemConfig config;
    DebugCapture capture;
    // 29 ASCII bytes then a 3-byte character: 32 bytes do not fit in 31.
    std::string name = std::string(29, 'n') + "\xE5\xB1\x8F";
    discoverDisplays(config, fixed({{name, {}, {}, true, ""}}));
    EXPECT_EQ(std::string(config.primaryMonitor.szDevice), std::string(29, 'n'));
    EXPECT_EQ(config.primaryMonitor.szDevice[31], '\0');
}

TEST(DisplayDiscovery, NoDisplayServerWritesOneLineAndRecordsNothing) {
    SystemConfig config;
    DebugCapture capture;
    discoverDisplays(config, [](std::vector<DisplayFacts>&, std::string& reason) {
        reason = "cannot connect";
        return false;
    });
    ASSERT_EQ(capture.writes().size(), 1u);
    EXPECT_NE(capture.writes()[0].find("cannot connect"), std::string::npos);
    EXPECT_TRUE(config.extendedMonitors.empty());
}

TEST(WorkArea, StrutsReduceOnlyTheMonitorsTheyReachInto) {
    const Rect desktop{0, 0, 3840, 1080};
    const Rect left{0, 0, 1280, 1080}, middle{1280, 0, 2560, 1080}, right{2560, 0, 3840, 1080};
    Strut bottomOfRight{{0, 0, 0, 40}, {0, 0, 0, 0, 0, 0, 2560, 3839}};
    EXPECT_EQ(workArea(right, desktop, {bottomOfRight}), (Rect{2560, 0, 3840, 1040}));
    EXPECT_EQ(workArea(middle, desktop, {bottomOfRight}), middle);

    // A top bar across the whole desktop and a left dock on the first monitor.
    Strut topBar = Strut::wholeEdges(0, 0, 24, 0);
    Strut leftDock{{48, 0, 0, 0}, {100, 899, 0, 0, 0, 0, 0, 0}};
    EXPECT_EQ(workArea(left, desktop, {topBar, leftDock}), (Rect{48, 24, 1280, 1080}));
    EXPECT_EQ(workArea(middle, desktop, {topBar, leftDock}), (Rect{1280, 24, 2560, 1080}));

    // A right dock reserved at the desktop's right edge.
    Strut rightDock{{0, 64, 0, 0}, {0, 0, 0, 1079, 0, 0, 0, 0}};
    EXPECT_EQ(workArea(right, desktop, {rightDock}), (Rect{2560, 0, 3776, 1080}));

    // A reservation larger than the monitor gives an empty area, never an inverted one.
    Strut huge{{0, 0, 0, 5000}, {0, 0, 0, 0, 0, 0, 0, 3839}};
    Rect area = workArea(middle, desktop, {huge});
    EXPECT_GE(area.right, area.left);
    EXPECT_GE(area.bottom, area.top);
}

// The work area as each desktop publishes it: GNOME's per-monitor areas,
// then X11 struts, then the one _NET_WORKAREA where there is one monitor.
TEST(WorkArea, TakenFromWhatTheDesktopPublishesInItsOrder) {
    using platform::MonitorFacts;
    const Rect m0{0, 0, 1280, 720}, m1{1280, 0, 2560, 720}, m2{2560, 0, 3840, 720};
    const Rect all{0, 0, 3840, 720};
    const std::vector<MonitorFacts> three = {{"0", m0}, {"1", m1}, {"2", m2}};
    const Strut panelOn2{{0, 0, 0, 40}, {0, 0, 0, 0, 0, 0, 2560, 3839}};
    struct Case {
        const char* name;
        platform::DesktopFacts desktop;
        std::vector<Rect> expected; // per monitor
    };
    const Case cases[] = {
        {"GNOME: its top bar on the first monitor, listed in its own order",
         {all, {}, true, three, {m1, m2, {0, 32, 1280, 720}}, Rect{0, 32, 3840, 688}},
         {{0, 32, 1280, 720}, m1, m2}},
        {"published areas win over struts",
         {all, {panelOn2}, true, three, {m0, m1, {2560, 0, 3840, 700}}, std::nullopt},
         {m0, m1, {2560, 0, 3840, 700}}},
        {"an area spanning two monitors belongs to neither: struts decide",
         {all, {panelOn2}, true, three, {{0, 0, 2560, 720}}, std::nullopt},
         {m0, m1, {2560, 0, 3840, 680}}},
        {"X11 struts as before; _NET_WORKAREA is not cut per monitor",
         {all, {panelOn2}, true, three, {}, Rect{0, 0, 3840, 680}},
         {m0, m1, {2560, 0, 3840, 680}}},
        {"several monitors and only _NET_WORKAREA: the whole monitors",
         {all, {}, true, three, {}, Rect{0, 32, 3840, 720}},
         {m0, m1, m2}},
        {"one monitor: _NET_WORKAREA cut to it",
         {m0, {}, true, {{"0", m0}}, {}, Rect{0, 27, 1280, 700}},
         {{0, 27, 1280, 700}}},
        {"one monitor, _NET_WORKAREA outside it: the whole monitor",
         {m0, {}, true, {{"0", m0}}, {}, Rect{2000, 0, 2100, 10}},
         {m0}},
        {"nothing published: the whole monitors",
         {all, {}, true, three, {}, std::nullopt},
         {m0, m1, m2}},
    };
    for (const Case& k : cases) {
        std::vector<DisplayFacts> displays = resolveDisplays(k.desktop);
        ASSERT_EQ(displays.size(), k.expected.size()) << k.name;
        for (size_t i = 0; i < displays.size(); ++i)
            EXPECT_EQ(displays[i].work, k.expected[i]) << k.name << " #" << i;
    }
}

TEST(WorkArea, EdidMonitorName) {
    uint8_t edid[128] = {};
    uint8_t* d = edid + 72; // the second descriptor
    d[3] = 0xFC;
    std::memcpy(d + 5, "DELL U2720Q\n ", 13);
    EXPECT_EQ(edidDisplayName(edid, sizeof edid), "DELL U2720Q");
    EXPECT_EQ(edidDisplayName(edid, 80), "") << "a short block is not read past its end";
    d[3] = 0xFF; // a serial number, not a name
    EXPECT_EQ(edidDisplayName(edid, sizeof edid), "");
}

namespace {

std::vector<uint8_t> edidNamed(const char* name) {
    std::vector<uint8_t> edid(128, 0);
    edid[54 + 3] = 0xFC;
    std::memcpy(edid.data() + 54 + 5, name, std::strlen(name));
    return edid;
}

} // namespace

// The wall's reading of the server's raw facts: which display is primary, its
// description and its work area.
TEST(DisplayDiscovery, PrimaryDescriptionAndWorkAreaFromTheServersFacts) {
    using platform::MonitorFacts;
    const Rect a{0, 0, 1280, 1080}, b{1280, 0, 2560, 1080}, c{2560, 0, 3840, 1080};
    const Strut panelOnC{{0, 0, 0, 40}, {0, 0, 0, 0, 0, 0, 2560, 3839}};
    struct Case {
        const char* name;
        std::vector<MonitorFacts> monitors;
        std::vector<bool> primary;
        std::vector<std::string> descriptions;
    };
    const Case cases[] = {
        {"the flagged monitor is primary, not the one holding the primary output",
         {{"A", a, false, true, {}, "o1"}, {"B", b, true, false, {}, "o2"}},
         {false, true},
         {"o1", "o2"}},
        {"no flag: the first monitor holding the primary output",
         {{"A", a, false, false, {}, "o1"},
          {"B", b, false, true, {}, "o2"},
          {"C", c, false, true, {}, "o3"}},
         {false, true, false},
         {"o1", "o2", "o3"}},
        {"no flag and no primary output: the monitor at the desktop's origin",
         {{"B", b, false, false, {}, ""}, {"A", a, false, false, {}, ""}},
         {false, true},
         {"B", "A"}},
        {"no flag, no primary output, none at the origin: the first listed",
         {{"C", c, false, false, {}, ""}, {"B", b, false, false, {}, ""}},
         {true, false},
         {"C", "B"}},
        {"the EDID name comes before the output name",
         {{"A", a, true, false, edidNamed("DELL U2720Q\n"), "DP-1"},
          {"B", b, false, false, std::vector<uint8_t>(128, 0), "HDMI-1"}},
         {true, false},
         {"DELL U2720Q", "HDMI-1"}},
    };
    for (const Case& k : cases) {
        platform::DesktopFacts desktop{{0, 0, 3840, 1080}, {panelOnC}, true, k.monitors};
        std::vector<DisplayFacts> displays = resolveDisplays(desktop);
        ASSERT_EQ(displays.size(), k.monitors.size()) << k.name;
        for (size_t i = 0; i < displays.size(); ++i) {
            EXPECT_EQ(displays[i].primary, k.primary[i]) << k.name << " #" << i;
            EXPECT_EQ(displays[i].description, k.descriptions[i]) << k.name << " #" << i;
            EXPECT_EQ(displays[i].deviceName, k.monitors[i].name) << k.name;
            Rect expectedWork = k.monitors[i].rect;
            if (expectedWork == c)
                expectedWork.bottom = 1040;
            EXPECT_EQ(displays[i].work, expectedWork) << k.name << " #" << i;
        }
    }

    // A server that lists no monitors: one primary display over the screen.
    platform::DesktopFacts plain{{0, 0, 1920, 1080}, {Strut::wholeEdges(0, 0, 24, 0)}, false, {}};
    std::vector<DisplayFacts> one = resolveDisplays(plain);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_TRUE(one[0].primary);
    EXPECT_EQ(one[0].deviceName, "screen");
    EXPECT_EQ(one[0].work, (Rect{0, 24, 1920, 1080}));
}
