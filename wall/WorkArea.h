// Work areas: a monitor less the panels docked on it.
#pragma once

#include "common/Geometry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The monitor rectangle less every reserved band that reaches into it.
// desktop is the whole screen the struts are measured from.
Rect workArea(const Rect& monitor, const Rect& desktop, const std::vector<Strut>& struts);

// The monitor name of an EDID block (display descriptor tag 0xFC), without
// its line-feed padding; empty when the block has none.
std::string edidDisplayName(const uint8_t* edid, size_t length);
