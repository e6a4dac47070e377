#include "platform/win32/DisplayDevices.h"

#include <windows.h>

namespace win32 {

bool displayDevice(const char* deviceName, uint32_t index, platform::DisplayDevice& device) {
    DISPLAY_DEVICEA found{};
    found.cb = sizeof found;
    if (!EnumDisplayDevicesA(deviceName, index, &found, 0))
        return false;
    device.name = found.DeviceName;
    device.description = found.DeviceString;
    return true;
}

} // namespace win32
