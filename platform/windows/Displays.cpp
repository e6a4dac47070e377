#include "platform/Displays.h"

#include <windows.h>

namespace platform {

namespace {

Rect toRect(const RECT& r) {
    return Rect{r.left, r.top, r.right, r.bottom};
}

// EnumDisplayMonitors' callback: one monitor, with the work area the system
// keeps for it (the monitor less the task bar and docked application bars).
BOOL CALLBACK addMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    auto& facts = *reinterpret_cast<DesktopFacts*>(data);
    MONITORINFOEXA info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoA(monitor, &info))
        return TRUE;
    MonitorFacts m;
    m.name = info.szDevice;
    m.rect = toRect(info.rcMonitor);
    m.flaggedPrimary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
    facts.monitors.push_back(std::move(m));
    facts.monitorWorkAreas.push_back(toRect(info.rcWork));
    return TRUE;
}

} // namespace

// The desktop is the virtual screen; the monitors come in the order
// EnumDisplayMonitors gives them. Windows reserves no struts: each monitor's
// work area is its own.
bool readDesktop(DesktopFacts& facts, std::string& reason) {
    facts = DesktopFacts{};
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    facts.desktop = Rect{left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                         top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    if (!EnumDisplayMonitors(nullptr, nullptr, addMonitor, reinterpret_cast<LPARAM>(&facts))) {
        reason = "EnumDisplayMonitors failed (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    facts.monitorsListed = !facts.monitors.empty();
    return true;
}

bool displayServerReachable(std::string& reason) {
    if (GetSystemMetrics(SM_CMONITORS) > 0)
        return true;
    reason = "the session has no display";
    return false;
}

} // namespace platform
