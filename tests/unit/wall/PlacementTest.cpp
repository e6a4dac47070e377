#include "wall/Placement.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

MonitorInfo monitor(const char* name, Rect work) {
    MonitorInfo m;
    std::strncpy(m.szDevice, name, sizeof m.szDevice - 1);
    m.rcMonitor = work;
    m.rcWork = work;
    return m;
}

struct Displays {
    MonitorInfo primary;
    std::vector<MonitorInfo> extended;
};

const Rect k0{0, 0, 1280, 1080}, k1{1280, 0, 2560, 1080}, k2{2560, 0, 3840, 1080};
const Displays kThree{monitor("WALL1", k1), {monitor("WALL0", k0), monitor("WALL2", k2)}};

std::vector<DisplayAssignment> entries(std::vector<uint8_t> primaryFlags) {
    std::vector<DisplayAssignment> d;
    for (uint8_t flag : primaryFlags)
        d.push_back({flag, "u%s", 0});
    return d;
}

// Each change of the monitors, as the wall applies it, leaves exactly what a
// fresh start with the new monitors shows.
TEST(WallPlacement, ChangedMonitorsGiveWhatAFreshStartShows) {
    using K = WallChangeKind;
    struct Case {
        const char* name;
        std::vector<uint8_t> flags;
        Displays after;
        std::vector<WallChange> changes;
    };
    const Rect wide2{2560, 0, 4480, 1080};
    const Rect panel1{1280, 0, 2560, 1040};
    const Case cases[] = {
        {"nothing changed", {1, 0, 0}, kThree, {}},
        {"a monitor resized",
         {1, 0, 0},
         {monitor("WALL1", k1), {monitor("WALL0", k0), monitor("WALL2", wide2)}},
         {{2, K::Move, wide2}}},
        {"a monitor removed: the next entry moves up, the last has no display",
         {1, 0, 0},
         {monitor("WALL1", k1), {monitor("WALL2", k2)}},
         {{1, K::Restart, k2}, {2, K::End, {}}}},
        {"a monitor added: the surplus entry gets it",
         {1, 0, 0, 0},
         {monitor("WALL1", k1),
          {monitor("WALL0", k0), monitor("WALL2", k2), monitor("WALL3", {3840, 0, 5120, 1080})}},
         {{3, K::Start, {3840, 0, 5120, 1080}}}},
        {"the primary moved to another monitor",
         {1, 0, 0},
         {monitor("WALL0", k0), {monitor("WALL1", k1), monitor("WALL2", k2)}},
         {{0, K::Restart, k0}, {1, K::Restart, k1}}},
        {"a monitor shrunk to no size: its page ends",
         {1, 0, 0},
         {monitor("WALL1", k1), {monitor("WALL0", k0), monitor("WALL2", {2560, 0, 2560, 0})}},
         {{2, K::End, {}}}},
        {"a panel strut added on the primary",
         {0, 1, 0},
         {monitor("WALL1", panel1), {monitor("WALL0", k0), monitor("WALL2", k2)}},
         {{1, K::Move, panel1}}},
    };
    for (const Case& c : cases) {
        const auto d = entries(c.flags);
        const std::vector<WallSpot> before = wallLayout(d, kThree.primary, kThree.extended);
        const std::vector<WallSpot> fresh = wallLayout(d, c.after.primary, c.after.extended);
        const std::vector<WallChange> changes = replaceWall(before, fresh);
        EXPECT_EQ(changes, c.changes) << c.name;

        // Applied to the wall as it was, the changes give the fresh start's wall.
        std::vector<WallSpot> wall = before;
        for (const WallChange& change : changes) {
            WallSpot& spot = wall[change.assignment];
            if (change.kind == K::End)
                spot = {};
            else
                spot = {true, fresh[change.assignment].device, change.work};
        }
        // A spot that shows nothing is the same whatever display it keeps.
        std::vector<WallSpot> shown = fresh;
        for (WallSpot& spot : shown)
            if (!spot.shown)
                spot = {};
        EXPECT_EQ(wall, shown) << c.name;
    }
}

TEST(WallPlacement, AMonitorWithNoRoomShowsNothingUntilItHasRoomAgain) {
    const auto d = entries({1, 0, 0});
    const Rect none{2560, 0, 2560, 1080};
    const Displays shrunk{monitor("WALL1", k1), {monitor("WALL0", k0), monitor("WALL2", none)}};
    const std::vector<WallSpot> empty = wallLayout(d, shrunk.primary, shrunk.extended);
    EXPECT_FALSE(empty[2].shown);
    EXPECT_TRUE(empty[0].shown && empty[1].shown);
    // The same empty monitor again asks for nothing; room again starts the page.
    EXPECT_EQ(replaceWall(empty, wallLayout(d, shrunk.primary, shrunk.extended)),
              std::vector<WallChange>{});
    EXPECT_EQ(replaceWall(empty, wallLayout(d, kThree.primary, kThree.extended)),
              (std::vector<WallChange>{{2, WallChangeKind::Start, k2}}));
    // No primary display at all (its record all zero): its entries show nothing.
    EXPECT_FALSE(wallLayout(d, MonitorInfo{}, kThree.extended)[0].shown);
}

TEST(WallPlacement, EntriesTakeThePrimaryOrTheExtendedDisplaysInOrder) {
    EXPECT_EQ(assignDisplays(entries({0, 1, 0, 0}), 2),
              (std::vector<int>{0, kPrimaryDisplay, 1, kNoDisplay}));
    EXPECT_EQ(assignDisplays(entries({1, 1}), 0),
              (std::vector<int>{kPrimaryDisplay, kPrimaryDisplay}));
    EXPECT_EQ(assignDisplays(entries({0}), 0), (std::vector<int>{kNoDisplay}));
}

} // namespace
