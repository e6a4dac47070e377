// The system's display devices as EnumDisplayDevicesA lists them: with no
// device name the adapters by index, with an adapter's name the monitors
// attached to it.
#include "platform/DisplayDevices.h"

#include <windows.h>

namespace platform {

// Windows asks the system each time; the discovered displays are not needed.
DisplayDevices::DisplayDevices(const MonitorInfo&, const std::vector<MonitorInfo>&) {}

bool DisplayDevices::query(const char* deviceName, uint32_t index, DisplayDevice& device) const {
    DISPLAY_DEVICEA found{};
    found.cb = sizeof found;
    if (!EnumDisplayDevicesA(deviceName, index, &found, 0))
        return false;
    device.name = found.DeviceName;
    device.description = found.DeviceString;
    return true;
}

} // namespace platform
