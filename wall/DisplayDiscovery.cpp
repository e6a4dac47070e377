#include "wall/DisplayDiscovery.h"

#include "common/DebugPrint.h"
#include "common/Utf8.h"
#include "wall/WorkArea.h"

#include <cstring>

std::vector<DisplayFacts> resolveDisplays(const platform::DesktopFacts& desktop) {
    std::vector<DisplayFacts> displays;
    if (!desktop.monitorsListed) {
        displays.push_back({"screen", desktop.desktop,
                            workArea(desktop.desktop, desktop.desktop, desktop.struts), true,
                            "screen"});
        return displays;
    }
    bool anyFlagged = false;
    for (const platform::MonitorFacts& m : desktop.monitors)
        anyFlagged = anyFlagged || m.flaggedPrimary;
    bool primaryTaken = anyFlagged;
    for (const platform::MonitorFacts& m : desktop.monitors) {
        DisplayFacts d;
        d.deviceName = m.name;
        d.monitor = m.rect;
        d.work = workArea(m.rect, desktop.desktop, desktop.struts);
        d.primary = m.flaggedPrimary;
        if (!primaryTaken && m.holdsPrimaryOutput) {
            d.primary = true;
            primaryTaken = true;
        }
        d.description = edidDisplayName(m.edid.data(), m.edid.size());
        if (d.description.empty())
            d.description = m.outputName;
        if (d.description.empty())
            d.description = m.name;
        displays.push_back(std::move(d));
    }
    return displays;
}

bool desktopDisplays(std::vector<DisplayFacts>& displays, std::string& reason) {
    platform::DesktopFacts desktop;
    if (!platform::readDesktop(desktop, reason))
        return false;
    displays = resolveDisplays(desktop);
    return true;
}

int MonitorEnumProc1(const DisplayFacts& display, SystemConfig& config) {
    MonitorInfo info;
    info.rcMonitor = display.monitor;
    info.rcWork = display.work;
    info.dwFlags = display.primary ? MONITORINFOF_PRIMARY : 0;
    std::string_view name = utf8::cutAtCharBoundary(display.deviceName, sizeof info.szDevice - 1);
    std::memcpy(info.szDevice, name.data(), name.size());
    info.description = display.description;

    DebugPrint("MonitorEnumProc1: szDevice.%s,dwFlags.0x%08d,left.%d,top.%d,right.%d,bottom.%d\n",
               info.szDevice, static_cast<int>(info.dwFlags), info.rcWork.left, info.rcWork.top,
               info.rcWork.right, info.rcWork.bottom);

    if (info.dwFlags == 1)
        config.primaryMonitor = info;
    else
        config.extendedMonitors.push_back(info);
    return 1;
}

void discoverDisplays(SystemConfig& config, const DisplaySource& source) {
    std::vector<DisplayFacts> displays;
    std::string reason;
    if (!source(displays, reason)) {
        DebugPrint("EnumDisplayMonitors: no display found: %s\n", reason.c_str());
        return;
    }
    for (const DisplayFacts& display : displays)
        if (!MonitorEnumProc1(display, config))
            break;
}
