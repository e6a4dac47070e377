// What the wall does by itself while the operator is signed in: it starts a
// page browser again when one ends, it follows the monitors when they change
// (moving, ending and starting browsers so that the wall shows what a fresh
// start would show), and it keeps the monitors from blanking. Sign-out and
// exit give all of it up. Every call runs on the UI thread.
#pragma once

#include "settings/SystemConfig.h"
#include "wall/DisplayDiscovery.h"
#include "wall/PageState.h"
#include "wall/Supervisor.h"

#include <functional>
#include <map>
#include <string_view>
#include <vector>

// What the wall knows of one display assignment's page now: where it is,
// which browser shows it, the state that browser last reported, and the
// counts of the run. Times are milliseconds since the Unix epoch, 0 for
// never.
struct MonitorStatus {
    size_t entry = 0;    // the assignment's index in Panoview.config
    std::string name;    // the monitor's name; empty when it has none
    Rect monitor;        // the whole monitor
    Rect work;           // the page's rectangle (the monitor's work area)
    std::string address; // the page address with "***" for the token
    uint32_t pid = 0;    // the page browser, 0 while none runs
    // A page state (wall/PageReport.h), or "starting" (no report yet),
    // "restarting" (the browser ended and is started again), "off" (the
    // wall is down or the page has no monitor).
    std::string state;
    std::string reason;        // what brought the state about (wall/PageReport.h), or empty
    uint32_t count = 0;        // the reported state's count (the reason's, with a reason)
    int64_t nextAttemptMs = 0; // when the page is loaded again next; 0 for no load due
    std::string detail;
    int64_t sinceMs = 0;
    uint64_t restarts = 0;                   // browsers started again after an end
    std::map<std::string, uint64_t> reloads; // by reason (kPageReloadReasons)
    int64_t lastLiveMs = 0;                  // the last moment the page was known live
};

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
    // The wall clock of the page states; the system clock when empty.
    std::function<std::chrono::system_clock::time_point()> wallClock;
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

    // A page browser ended (reported on the UI thread): what it reported is
    // forgotten, and a watched one is started again.
    void browserEnded(uint32_t pid);

    // Bytes a page browser wrote on its report pipe. Kept while signed in,
    // also before the launch has reported the wall up.
    void pageReport(uint32_t pid, std::string_view bytes);
    // The browser's report pipe ended: what it reported is forgotten.
    void pageReportsEnded(uint32_t pid) { forgetPage(pid); }

    // Ends the page browser of the assignment and starts it again at once
    // over its work area. False, with nothing done, while the wall is not
    // up or the assignment shows no page.
    bool reload(size_t assignment);
    bool up() const { return up_ && config_.signedIn; }

    // Every assignment's page now, in assignment order.
    std::vector<MonitorStatus> monitors() const;

    // The monitors or panels changed. Once they have settled, the displays
    // are discovered again (after any launch under way), and a wall that is
    // up follows them.
    void displaysChanged();

    WallSupervisor& supervisor() { return supervisor_; }

private:
    using WallTime = std::chrono::system_clock::time_point;
    // What outlives one browser of an assignment.
    struct PageHistory {
        std::map<std::string, uint64_t> reloads; // of the browsers that ended
        WallTime lastLive{};
        WallTime changedAt{};
    };
    void followDisplays();
    bool startAt(size_t assignment, const Rect& work);
    WallTime wallNow() const;
    // Folds what the browser reported into its assignment's history (when
    // it is watched for one) and forgets it.
    void forgetPage(uint32_t pid);

    SystemConfig& config_;
    WallKeeperServices services_;
    WallSupervisor supervisor_;
    bool up_ = false;
    bool blankingHeld_ = false;
    uint64_t changes_ = 0; // each change restarts the settling
    PageStates pages_;     // by process id
    // By process id: the highest count each browser reported per reload
    // reason.
    std::map<uint32_t, std::map<std::string, uint64_t>> reloadsOf_;
    std::map<size_t, PageHistory> history_; // by assignment
};
