// What the wall does by itself while the operator is signed in: it starts a
// page browser again when one ends, and it keeps the monitors from blanking.
// Sign-out and exit give both up. Every call runs on the UI thread.
#pragma once

#include "settings/SystemConfig.h"
#include "wall/Supervisor.h"

#include <functional>

struct WallKeeperServices {
    SupervisorServices supervisor;
    // Holds the screen saver and display power saving off; gives them back.
    std::function<bool()> holdOffBlanking;
    std::function<void()> releaseBlanking;
};

class WallKeeper {
public:
    explicit WallKeeper(WallKeeperServices services)
        : services_(std::move(services)), supervisor_(services_.supervisor) {}

    // A launch has started its browsers: while still signed in, each started
    // browser is watched over its display's work area with its page, and the
    // monitors stop blanking. A launch whose sign-out came first is left
    // alone.
    void wallUp(const SystemConfig& config);

    // Sign-out, exit, StopBrowsers: no browser is started again, and the
    // monitors blank as before.
    void wallDown();

    // A page browser ended (reported on the UI thread).
    void browserEnded(uint32_t pid) { supervisor_.processEnded(pid); }

    WallSupervisor& supervisor() { return supervisor_; }

private:
    WallKeeperServices services_;
    WallSupervisor supervisor_;
    bool blankingHeld_ = false;
};
