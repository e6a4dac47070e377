// Blanking of the monitors: the X screen saver and display power saving,
// which would blank a wall that nobody touches.
#pragma once

namespace platform {

// Holds the screen saver and display power saving off from now on. Safe to
// call again while held. The screen saver's hold belongs to this program's
// connection, so it ends with the program however it ends; display power
// saving is switched off only when it was on, and releaseBlanking switches
// it back on. False when the display server cannot be reached.
bool holdOffBlanking();

// Gives the monitors' blanking back as it was before holdOffBlanking.
void releaseBlanking();

} // namespace platform
