#include "wall/WallKeeper.h"

#include "wall/Launcher.h"
#include "wall/Placement.h"

void WallKeeper::wallUp(const SystemConfig& config) {
    if (!config.signedIn)
        return;
    const std::vector<WallSpot> spots =
        wallLayout(config.displays, config.primaryMonitor, config.extendedMonitors);
    for (size_t i = 0; i < config.displays.size(); ++i) {
        const DisplayAssignment& d = config.displays[i];
        if (spots[i].shown && d.processId != 0)
            supervisor_.watch(i, d.processId, spots[i].work,
                              composePageAddress(d.urlTemplate, config.token));
    }
    if (!blankingHeld_ && services_.holdOffBlanking)
        blankingHeld_ = services_.holdOffBlanking();
}

void WallKeeper::wallDown() {
    supervisor_.stop();
    if (blankingHeld_ && services_.releaseBlanking)
        services_.releaseBlanking();
    blankingHeld_ = false;
}
