// Geometry values shared by the desktop services and the wall: rectangles in
// desktop coordinates, the panels' reservations and the monitor record that
// display discovery fills.
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

// A docked window's reservation, as in _NET_WM_STRUT_PARTIAL: the widths
// reserved at the desktop's left, right, top and bottom edges, and for each
// edge the first and last pixel row or column the reservation spans.
struct Strut {
    uint32_t edge[4] = {};  // left, right, top, bottom
    uint32_t range[8] = {}; // left_start_y, left_end_y, right_start_y, right_end_y,
                            // top_start_x, top_end_x, bottom_start_x, bottom_end_x
    // The older _NET_WM_STRUT form: whole edges of the desktop.
    static Strut wholeEdges(uint32_t left, uint32_t right, uint32_t top, uint32_t bottom) {
        constexpr uint32_t all = 0xFFFFFFFFu >> 1;
        return Strut{{left, right, top, bottom}, {0, all, 0, all, 0, all, 0, all}};
    }
};

inline constexpr uint32_t MONITORINFOF_PRIMARY = 1;

// What the wall knows of one display: its whole rectangle, its work area, the
// primary flag and its device name, filled once by display discovery.
struct MonitorInfo {
    Rect rcMonitor;
    Rect rcWork;
    uint32_t dwFlags = 0;
    char szDevice[32] = {}; // at most 31 bytes, zero-terminated
    // Shown by the settings dialog beside the device name: the monitor's
    // EDID name where it has one, else the output name.
    std::string description;
};
