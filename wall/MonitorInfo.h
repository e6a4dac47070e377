// What the wall knows of one display: its whole rectangle, its work area, the
// primary flag and its device name, filled once by display discovery.
#pragma once

#include <cstdint>
#include <string>

struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0; // one past the last pixel
    int32_t bottom = 0;
    bool operator==(const Rect&) const = default;
    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
};

inline constexpr uint32_t MONITORINFOF_PRIMARY = 1;

struct MonitorInfo {
    Rect rcMonitor;
    Rect rcWork;
    uint32_t dwFlags = 0;
    char szDevice[32] = {}; // at most 31 bytes, zero-terminated
    // Shown by the settings dialog beside the device name: the monitor's
    // EDID name where it has one, else the output name.
    std::string description;
};
