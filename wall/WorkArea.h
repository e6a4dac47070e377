// Work areas: a monitor less the panels docked on it.
#pragma once

#include "wall/MonitorInfo.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A docked window's reservation, as in _NET_WM_STRUT_PARTIAL: the widths
// reserved at the desktop's left, right, top and bottom edges, and for each
// edge the first and last pixel row or column the reservation spans.
struct Strut {
    uint32_t edge[4] = {};  // left, right, top, bottom
    uint32_t range[8] = {}; // left_start_y, left_end_y, right_start_y, right_end_y,
                            // top_start_x, top_end_x, bottom_start_x, bottom_end_x
    // The older _NET_WM_STRUT form: whole edges of the desktop.
    static Strut wholeEdges(uint32_t left, uint32_t right, uint32_t top, uint32_t bottom);
};

// The monitor rectangle less every reserved band that reaches into it.
// desktop is the whole screen the struts are measured from.
Rect workArea(const Rect& monitor, const Rect& desktop, const std::vector<Strut>& struts);

// The monitor name of an EDID block (display descriptor tag 0xFC), without
// its line-feed padding; empty when the block has none.
std::string edidDisplayName(const uint8_t* edid, size_t length);
