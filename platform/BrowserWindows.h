// Windows of other programs on the desktop: the page browsers' windows,
// found by their process and placed by the window manager.
#pragma once

#include "common/Geometry.h"

#include <sys/types.h>

namespace platform {

// Asks the window manager to put the frame of the process's managed, mapped
// top-level window (or of one of its descendants' windows: the browser a
// page browser started) exactly over the area. False when no such window is
// found.
bool moveWindowOfProcess(pid_t pid, const Rect& area);

// Lowers the mapped page windows that bypass the window manager (the plain
// page browser's) to the bottom of the stacking order, so that a window the
// window manager shows next comes above them. Returns how many it lowered.
int lowerBrowserWindows();

// Sends SIGKILL to the process; false when it is gone already.
bool killProcess(pid_t pid);

} // namespace platform
