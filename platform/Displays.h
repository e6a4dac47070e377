// The displays attached to the desktop, as the display server reports them:
// raw facts only. Which display counts as primary, the work areas and the
// descriptions are the wall's rules (wall/DisplayDiscovery.h).
#pragma once

#include "common/Geometry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct MonitorFacts {
    std::string name;                // the monitor's name (RandR monitor name)
    Rect rect;                       // the whole monitor in desktop coordinates
    bool flaggedPrimary = false;     // the server marks the monitor primary
    bool holdsPrimaryOutput = false; // one of its outputs is the primary output
    std::vector<uint8_t> edid = {};  // the EDID block of its first output; may be empty
    std::string outputName = {};     // the name of its first output; may be empty
};

struct DesktopFacts {
    Rect desktop;                       // the whole screen
    std::vector<Strut> struts;          // the reservations of the docked windows
    bool monitorsListed = false;        // false when the server lists no monitors
    std::vector<MonitorFacts> monitors; // in the server's order
    // The work areas the desktop publishes monitor by monitor, each lying
    // within its monitor: GNOME's (mutter's _GTK_WORKAREAS_D<current
    // desktop>) or, where SWAYSOCK names sway's socket, the usable area of
    // each output's current workspace. Empty where the desktop publishes none.
    std::vector<Rect> monitorWorkAreas = {};
    // The current desktop's _NET_WORKAREA: one rectangle for all monitors.
    std::optional<Rect> desktopWorkArea = {};
};

// Reads the desktop's monitors and panels. Returns false, with a reason,
// when no display server can be reached.
bool readDesktop(DesktopFacts& facts, std::string& reason);

// Opens and closes a connection to the display server the desktop names.
// False, with a reason naming the display tried, when it cannot be opened.
bool displayServerReachable(std::string& reason);

} // namespace platform
