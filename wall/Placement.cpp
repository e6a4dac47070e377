#include "wall/Placement.h"

#include "common/DebugPrint.h"

void reportNoRoomForPage(size_t assignment, const Rect& work) {
    DebugPrint("LaunchThread(): display assignment %d has an empty work area "
               "(left.%d,top.%d,right.%d,bottom.%d); no page browser is started for it\n",
               static_cast<int>(assignment), work.left, work.top, work.right, work.bottom);
}

std::vector<int> assignDisplays(const std::vector<DisplayAssignment>& displays,
                                size_t extendedCount) {
    std::vector<int> places(displays.size(), kNoDisplay);
    size_t next = 0;
    for (size_t i = 0; i < displays.size(); ++i) {
        if (displays[i].isPrimary == 1)
            places[i] = kPrimaryDisplay;
        else if (next < extendedCount)
            places[i] = static_cast<int>(next++);
    }
    return places;
}

std::vector<WallSpot> wallLayout(const std::vector<DisplayAssignment>& displays,
                                 const MonitorInfo& primary,
                                 const std::vector<MonitorInfo>& extended) {
    std::vector<WallSpot> spots;
    for (int place : assignDisplays(displays, extended.size())) {
        if (place == kNoDisplay) {
            spots.push_back({});
            continue;
        }
        const MonitorInfo& m = place == kPrimaryDisplay ? primary : extended[place];
        spots.push_back({roomForPage(m.rcWork), m.szDevice, m.rcWork});
    }
    return spots;
}

std::vector<WallChange> replaceWall(const std::vector<WallSpot>& before,
                                    const std::vector<WallSpot>& after) {
    std::vector<WallChange> changes;
    for (size_t i = 0; i < after.size(); ++i) {
        const WallSpot old = i < before.size() ? before[i] : WallSpot{};
        const WallSpot& now = after[i];
        if (old == now)
            continue;
        if (!now.shown)
            changes.push_back({i, WallChangeKind::End, {}});
        else if (!old.shown)
            changes.push_back({i, WallChangeKind::Start, now.work});
        else if (old.device == now.device)
            changes.push_back({i, WallChangeKind::Move, now.work});
        else
            changes.push_back({i, WallChangeKind::Restart, now.work});
    }
    return changes;
}
