#include "wall/DisplayDiscovery.h"

#include "common/DebugPrint.h"
#include "common/Utf8.h"

#include <cstring>

int MonitorEnumProc1(const platform::DisplayFacts& display, SystemConfig& config) {
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
    std::vector<platform::DisplayFacts> displays;
    std::string reason;
    if (!source(displays, reason)) {
        DebugPrint("EnumDisplayMonitors: no display found: %s\n", reason.c_str());
        return;
    }
    for (const platform::DisplayFacts& display : displays)
        if (!MonitorEnumProc1(display, config))
            break;
}
