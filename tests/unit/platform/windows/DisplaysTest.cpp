#include "platform/Displays.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

bool within(const Rect& inner, const Rect& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom && inner.width() > 0 && inner.height() > 0;
}

} // namespace

// The desktop as the system reports it (under Wine without a display: one
// monitor): every monitor the system counts, in the virtual screen, one of
// them primary, each with its own work area within it.
TEST(WindowsDisplays, ReadsEveryMonitorOfTheVirtualScreen) {
    platform::DesktopFacts facts;
    std::string reason;
    ASSERT_TRUE(platform::readDesktop(facts, reason)) << reason;
    EXPECT_TRUE(facts.monitorsListed);
    ASSERT_EQ(facts.monitors.size(), static_cast<size_t>(GetSystemMetrics(SM_CMONITORS)));
    ASSERT_EQ(facts.monitorWorkAreas.size(), facts.monitors.size());
    EXPECT_TRUE(facts.struts.empty());
    int primaries = 0;
    for (size_t i = 0; i < facts.monitors.size(); ++i) {
        const platform::MonitorFacts& m = facts.monitors[i];
        EXPECT_EQ(m.name.rfind("\\\\.\\DISPLAY", 0), 0u) << m.name;
        EXPECT_TRUE(within(m.rect, facts.desktop)) << m.name;
        EXPECT_TRUE(within(facts.monitorWorkAreas[i], m.rect)) << m.name;
        primaries += m.flaggedPrimary;
        if (m.flaggedPrimary) {
            // The primary monitor holds the desktop's origin.
            EXPECT_EQ(m.rect.left, 0);
            EXPECT_EQ(m.rect.top, 0);
            EXPECT_EQ(m.rect.width(), GetSystemMetrics(SM_CXSCREEN));
            EXPECT_EQ(m.rect.height(), GetSystemMetrics(SM_CYSCREEN));
        }
    }
    EXPECT_EQ(primaries, 1);
    std::string unused;
    EXPECT_TRUE(platform::displayServerReachable(unused));
}
