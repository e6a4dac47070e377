#include "wall/DisplayDiscovery.h"

#include "common/DebugPrint.h"
#include "common/Utf8.h"
#include "wall/WorkArea.h"

#include <cstring>
#include <optional>

namespace {

// The monitor that is the primary display (see resolveDisplays), and why,
// when the server does not flag it.
struct PrimaryChoice {
    size_t index = 0;
    const char* because = "";
};

PrimaryChoice choosePrimary(const platform::DesktopFacts& desktop) {
    const auto& monitors = desktop.monitors;
    const auto first = [&](auto test) -> std::optional<size_t> {
        for (size_t i = 0; i < monitors.size(); ++i)
            if (test(monitors[i]))
                return i;
        return std::nullopt;
    };
    using platform::MonitorFacts;
    if (auto i = first([](const MonitorFacts& m) { return m.flaggedPrimary; }))
        return {*i, ""};
    if (auto i = first([](const MonitorFacts& m) { return m.holdsPrimaryOutput; }))
        return {*i, "it holds the primary output"};
    if (auto i = first([&](const MonitorFacts& m) {
            return m.rect.left == desktop.desktop.left && m.rect.top == desktop.desktop.top;
        }))
        return {*i, "it lies at the desktop's origin"};
    return {0, "it is the first listed"};
}

} // namespace

std::vector<DisplayFacts> resolveDisplays(const platform::DesktopFacts& desktop) {
    std::vector<DisplayFacts> displays;
    if (!desktop.monitorsListed) {
        displays.push_back(
            {"screen", desktop.desktop, monitorWorkArea(desktop.desktop, desktop), true, "screen"});
        return displays;
    }
    const PrimaryChoice primary = choosePrimary(desktop);
    for (size_t i = 0; i < desktop.monitors.size(); ++i) {
        const platform::MonitorFacts& m = desktop.monitors[i];
        DisplayFacts d;
        d.deviceName = m.name;
        d.monitor = m.rect;
        d.work = monitorWorkArea(m.rect, desktop);
        d.primary = i == primary.index;
        if (d.primary)
            d.primaryBecause = primary.because;
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

    if (!display.primaryBecause.empty())
        DebugPrint("DisplayDiscovery: no monitor is flagged primary; %s is the primary display: "
                   "%s\n",
                   info.szDevice, display.primaryBecause.c_str());

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
