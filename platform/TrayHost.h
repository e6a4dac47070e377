// The notification area's host: the window that owns the desktop's system
// tray selection. A new owner is the tray host coming back (a panel that was
// restarted), when the icons must be added again.
#pragma once

#include <cstdint>

namespace platform {

// The window that owns _NET_SYSTEM_TRAY_S<screen> now; 0 when no tray host
// runs or the display cannot be reached.
uint32_t trayHostWindow();

} // namespace platform
