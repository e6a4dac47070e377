// The displays attached to the desktop, as the platform reports them.
#pragma once

#include "wall/MonitorInfo.h"

#include <functional>
#include <string>
#include <vector>

namespace platform {

struct DisplayFacts {
    std::string deviceName; // the monitor's name (RandR monitor name)
    Rect monitor;           // the whole display in desktop coordinates
    Rect work;              // the display less the panels docked on it
    bool primary = false;
    std::string description; // the EDID monitor name, else the output name
};

// Fills displays in the platform's own order. Returns false, with a reason,
// when no display server can be reached.
bool enumerateDisplays(std::vector<DisplayFacts>& displays, std::string& reason);

// True when the desktop's display server answers.
bool displayServerReachable();

} // namespace platform
