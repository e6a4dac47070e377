// Work areas: a monitor less the panels docked on it.
#pragma once

#include "common/Geometry.h"
#include "platform/Displays.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The monitor rectangle less every reserved band that reaches into it.
// desktop is the whole screen the struts are measured from.
Rect workArea(const Rect& monitor, const Rect& desktop, const std::vector<Strut>& struts);

// The work area of a monitor as its desktop publishes it, in this order: the
// area published for that monitor (GNOME, sway), the panels' struts (X11
// window managers and panels), the desktop's one _NET_WORKAREA cut to the
// monitor where the desktop has only that monitor (with several it spans
// them all and says nothing of each); otherwise the whole monitor.
Rect monitorWorkArea(const Rect& monitor, const platform::DesktopFacts& desktop);

// The monitor name of an EDID block (display descriptor tag 0xFC), without
// its line-feed padding; empty when the block has none.
std::string edidDisplayName(const uint8_t* edid, size_t length);
