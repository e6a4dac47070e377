// Notices when the monitors or the panels change: RandR's screen and monitor
// events where the display server sends them, and a re-check of the desktop
// every two seconds, because some servers (Xvfb with monitors set by hand)
// send no event for a monitor change, and a panel's reservation sends none.
#pragma once

#include <functional>
#include <memory>

namespace platform {

class DisplayWatch {
public:
    // Calls `changed` on the watch's own thread after each change it sees.
    // Null when the display server cannot be reached.
    static std::unique_ptr<DisplayWatch> start(std::function<void()> changed);
    virtual ~DisplayWatch() = default;
};

} // namespace platform
