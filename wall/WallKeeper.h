// What the wall does by itself while the operator is signed in: it starts a
// page browser again when one ends, it follows the monitors when they change
// (moving, ending and starting browsers so that the wall shows what a fresh
// start would show), and it keeps the monitors from blanking. Sign-out and
// exit give all of it up. Every call runs on the UI thread.
#pragma once

#include "settings/SystemConfig.h"
#include "wall/DisplayDiscovery.h"
#include "wall/Supervisor.h"

#include <functional>

struct WallKeeperServices {
    SupervisorServices supervisor;
    // Holds the screen saver and display power saving off; gives them back.
    std::function<bool()> holdOffBlanking;
    std::function<void()> releaseBlanking;
    // Where the displays come from when they are discovered again.
    DisplaySource displays;
    // Waits until no launch is running (Launcher::waitForLaunch).
    std::function<void()> waitForLaunch;
    // Moves the window of a page browser over an area; false when its
    // window cannot be found.
    std::function<bool(uint32_t pid, const Rect& area)> moveWindow;
    // Ends one page browser.
    std::function<void(uint32_t pid)> endProcess;
};

class WallKeeper {
public:
    // How long the monitors must stay unchanged before the wall follows them.
    static constexpr std::chrono::milliseconds kSettle{500};

    WallKeeper(SystemConfig& config, WallKeeperServices services)
        : config_(config), services_(std::move(services)), supervisor_(services_.supervisor) {}

    // A launch has started its browsers: while still signed in, each started
    // browser is watched over its display's work area with its page, and the
    // monitors stop blanking. A launch whose sign-out came first is left
    // alone.
    void wallUp();

    // Sign-out, exit, StopBrowsers: no browser is started again, and the
    // monitors blank as before.
    void wallDown();

    // A page browser ended (reported on the UI thread).
    void browserEnded(uint32_t pid) { supervisor_.browserEnded(pid); }

    // The monitors or panels changed. Once they have settled, the displays
    // are discovered again (after any launch under way), and a wall that is
    // up follows them.
    void displaysChanged();

    WallSupervisor& supervisor() { return supervisor_; }

private:
    void followDisplays();
    void startAt(size_t assignment, const Rect& work);

    SystemConfig& config_;
    WallKeeperServices services_;
    WallSupervisor supervisor_;
    bool up_ = false;
    bool blankingHeld_ = false;
    uint64_t changes_ = 0; // each change restarts the settling
};
