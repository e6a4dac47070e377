#include "platform/DisplayDevices.h"

#include <gtest/gtest.h>
#include <windows.h>

// EnumDisplayDevicesA: the system's devices by index, and the monitor
// attached to a device by its name; past the last device there is none.
TEST(WindowsDisplayDevices, AsksTheSystemByIndex) {
    platform::DisplayDevices devices(MonitorInfo{}, {});
    platform::DisplayDevice device;
    ASSERT_TRUE(devices.query(nullptr, 0, device));
    EXPECT_EQ(device.name.rfind("\\\\.\\DISPLAY", 0), 0u) << device.name;
    platform::DisplayDevice monitor;
    if (devices.query(device.name.c_str(), 0, monitor)) {
        EXPECT_EQ(monitor.name.rfind(device.name, 0), 0u) << monitor.name;
    }
    EXPECT_FALSE(devices.query(nullptr, 1000, device));
}
