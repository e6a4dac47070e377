// The notification area's host on Windows: the task bar's window. A task
// bar that comes back also broadcasts "TaskbarCreated", which the tray
// window handles.
#include "platform/TrayHost.h"

#include <windows.h>

namespace platform {

uint32_t trayHostWindow() {
    return static_cast<uint32_t>(
        reinterpret_cast<uintptr_t>(FindWindowA("Shell_TrayWnd", nullptr)));
}

} // namespace platform
