// The desktop's display devices, asked by index as the settings dialog lists
// them: the adapters of the system and the monitor attached to each.
#pragma once

#include "common/Geometry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct DisplayDevice {
    std::string name;        // the device's name
    std::string description; // what the device calls itself
};

// The display devices as discovery found them, on both platforms (the Win32
// settings view asks EnumDisplayDevicesA itself, platform/win32):
// device 0 is the primary display (there is none when discovery found no
// primary) and devices 1, 2, ... are the other displays in discovery order.
// Each device has one attached monitor, named by its EDID monitor name (else
// its output name, as discovery recorded it in the description).
class DisplayDevices {
public:
    DisplayDevices(const MonitorInfo& primary, const std::vector<MonitorInfo>& extended);

    // With no device name (nullptr): the system's device at index. With a
    // device's name: the monitor attached to it at index (only index 0
    // exists). False when there is no such device.
    bool query(const char* deviceName, uint32_t index, DisplayDevice& device) const;

private:
    // The system's devices in index order; an empty name marks a missing
    // primary display.
    std::vector<DisplayDevice> adapters_;
};

} // namespace platform
