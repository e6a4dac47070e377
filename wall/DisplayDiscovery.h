// Display discovery: once per process, the primary display and, in the
// platform's order, every other display, each with its work area.
#pragma once

#include "platform/Displays.h"
#include "settings/SystemConfig.h"

#include <functional>
#include <string>
#include <vector>

// Where the displays come from; the platform's enumeration in the program,
// a fake in tests.
using DisplaySource = std::function<bool(std::vector<platform::DisplayFacts>&, std::string&)>;

// Records one display: logs its line and files it as primaryMonitor (flag
// value 1) or appends it to extendedMonitors. Returns non-zero to go on.
int MonitorEnumProc1(const platform::DisplayFacts& display, SystemConfig& config);

// Runs MonitorEnumProc1 for every display of the source, in its order. With
// no display server, writes one diagnostic line and records nothing.
void discoverDisplays(SystemConfig& config, const DisplaySource& source);
