// Display discovery: once per process, the primary display and, in the
// platform's order, every other display, each with its work area.
#pragma once

#include "common/Geometry.h"
#include "platform/Displays.h"
#include "settings/SystemConfig.h"

#include <functional>
#include <string>
#include <vector>

// One display as the wall sees it.
struct DisplayFacts {
    std::string deviceName; // the monitor's name
    Rect monitor;           // the whole display in desktop coordinates
    Rect work;              // the display less the panels docked on it
    bool primary = false;
    std::string description; // the EDID monitor name, else the output name
    // Why a display the server does not flag is the primary one; empty when
    // the server flags it (or it is not primary).
    std::string primaryBecause = {};
};

// The wall's reading of the desktop: the work area of each monitor is what
// the desktop publishes for it (wall/WorkArea.h); there is always exactly one
// primary display: the one the server flags, or, when it flags none
// (monitors defined by hand, and the Wayland desktops' X servers, never carry
// the flag), the first one that holds the primary output, else the one at the
// desktop's origin, else the first listed; the description is the EDID
// monitor name, else the output name, else the monitor name. A server that
// lists no monitors shows one primary display "screen" covering the whole
// desktop.
std::vector<DisplayFacts> resolveDisplays(const platform::DesktopFacts& desktop);

// Where the displays come from: the desktop in the program, a fake in tests.
// Returns false, with a reason, when no display server can be reached.
using DisplaySource = std::function<bool(std::vector<DisplayFacts>&, std::string&)>;

// The desktop's displays: platform::readDesktop read through resolveDisplays.
bool desktopDisplays(std::vector<DisplayFacts>& displays, std::string& reason);

// Records one display: logs its line (and, for a primary display the server
// did not flag, a second line saying why it is the primary) and files it as
// primaryMonitor (flag value 1) or appends it to extendedMonitors. Returns
// non-zero to go on.
int MonitorEnumProc1(const DisplayFacts& display, SystemConfig& config);

// Runs MonitorEnumProc1 for every display of the source, in its order. With
// no display server, writes one diagnostic line and records nothing.
void discoverDisplays(SystemConfig& config, const DisplaySource& source);
