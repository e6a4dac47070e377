// The system's display devices as the settings dialog lists them
// (EnumDisplayDevicesA).
#pragma once

#include "platform/DisplayDevices.h"

#include <cstdint>

namespace win32 {

// With no device name (nullptr): the system's display device at index; with
// a device's name: the monitor attached to it at index. False when there is
// none.
bool displayDevice(const char* deviceName, uint32_t index, platform::DisplayDevice& device);

} // namespace win32
