#include "wall/WallKeeper.h"

#include "common/DebugPrint.h"
#include "wall/Launcher.h"
#include "wall/Placement.h"

void WallKeeper::wallUp() {
    if (!config_.signedIn)
        return;
    up_ = true;
    const std::vector<WallSpot> spots =
        wallLayout(config_.displays, config_.primaryMonitor, config_.extendedMonitors);
    for (size_t i = 0; i < config_.displays.size(); ++i) {
        const DisplayAssignment& d = config_.displays[i];
        if (spots[i].shown && d.processId != 0)
            supervisor_.watch(i, d.processId, spots[i].work,
                              composePageAddress(d.urlTemplate, config_.token));
    }
    if (!blankingHeld_ && services_.holdOffBlanking)
        blankingHeld_ = services_.holdOffBlanking();
}

void WallKeeper::wallDown() {
    up_ = false;
    supervisor_.stop();
    if (blankingHeld_ && services_.releaseBlanking)
        services_.releaseBlanking();
    blankingHeld_ = false;
}

void WallKeeper::displaysChanged() {
    const uint64_t change = ++changes_;
    services_.supervisor.after(kSettle, [this, change] {
        if (change == changes_)
            followDisplays();
    });
}

void WallKeeper::followDisplays() {
    // The monitor fields change only here, on the UI thread, and never under
    // a launch that reads them.
    if (services_.waitForLaunch)
        services_.waitForLaunch();
    const std::vector<WallSpot> before =
        wallLayout(config_.displays, config_.primaryMonitor, config_.extendedMonitors);
    config_.primaryMonitor = MonitorInfo{};
    config_.extendedMonitors.clear();
    discoverDisplays(config_, services_.displays);
    if (!up_ || !config_.signedIn)
        return;
    const std::vector<WallSpot> after =
        wallLayout(config_.displays, config_.primaryMonitor, config_.extendedMonitors);
    for (const WallChange& change : replaceWall(before, after)) {
        const size_t i = change.assignment;
        if (!after[i].shown && !after[i].device.empty())
            reportNoRoomForPage(i, after[i].work);
        const uint32_t pid = supervisor_.pidOf(i);
        if (change.kind == WallChangeKind::Move && pid != 0 &&
            services_.moveWindow(pid, change.work)) {
            supervisor_.moved(i, change.work);
            continue;
        }
        // Its display is gone, its page belongs elsewhere, or its window
        // cannot be found: the browser ends and, where the page has a
        // display, starts there.
        supervisor_.forget(i);
        if (pid != 0)
            services_.endProcess(pid);
        config_.displays[i].processId = 0;
        if (change.kind != WallChangeKind::End)
            startAt(i, change.work);
    }
}

void WallKeeper::startAt(size_t assignment, const Rect& work) {
    DisplayAssignment& d = config_.displays[assignment];
    const std::string address = composePageAddress(d.urlTemplate, config_.token);
    uint32_t pid = 0;
    if (services_.supervisor.start(work, address, pid)) {
        d.processId = pid;
        supervisor_.watch(assignment, pid, work, address);
    }
}
