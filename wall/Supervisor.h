// Keeps the wall lit while the operator is signed in: a page browser that
// ends (a crash, or closed by hand) is started again over the same display's
// work area with the same page, after a back-off that grows while it keeps
// dying and starts afresh once a browser has run for five minutes. Nothing is
// restarted after a stop (sign-out, exit, StopBrowsers). Every call runs on
// the UI thread: process ends are reported there by a queued call, and
// restarts are started there.
#pragma once

#include "common/Geometry.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

struct SupervisorServices {
    using Clock = std::chrono::steady_clock;
    std::function<Clock::time_point()> now;
    // Runs the work once on the UI thread after the delay.
    std::function<void(std::chrono::milliseconds delay, std::function<void()> work)> after;
    // Starts one page browser (Launcher::StartProcess): true and its id.
    std::function<bool(const Rect& workArea, const std::string& pageAddress, uint32_t& pid)> start;
};

class WallSupervisor {
public:
    static constexpr std::chrono::milliseconds kFirstDelay{1000};
    static constexpr std::chrono::milliseconds kLongestDelay{60000};
    static constexpr std::chrono::minutes kHealthyRun{5};

    explicit WallSupervisor(SupervisorServices services) : services_(std::move(services)) {}

    // The browser started for an assignment of the wall: watched from now on.
    void watch(size_t assignment, uint32_t pid, const Rect& workArea, const std::string& address);

    // A process ended. A watched browser is started again after its delay,
    // unless the wall was stopped meanwhile.
    void browserEnded(uint32_t pid);

    // The wall's display moved: later restarts go over the new work area.
    void moved(size_t assignment, const Rect& workArea);

    // The assignment's browser is ended on purpose (its display went, or its
    // page moves to another display): it is watched no more.
    void forget(size_t assignment) { watched_.erase(assignment); }

    // Sign-out, exit or StopBrowsers: nothing is restarted any more, also
    // not a restart that is already waiting.
    void stop();

    // The process watched for an assignment now (0 while none runs).
    uint32_t pidOf(size_t assignment) const;
    // The assignment a process is watched for; false when it is none's.
    bool assignmentOf(uint32_t pid, size_t& assignment) const;
    // Whether the assignment is watched (its browser runs or is restarted).
    bool watches(size_t assignment) const { return watched_.count(assignment) != 0; }
    // How many times the assignment's browser was started again after it
    // ended, over the whole run (a stop does not reset it).
    uint64_t restartsOf(size_t assignment) const;

private:
    struct Watched {
        uint32_t pid = 0;
        Rect workArea;
        std::string address;
        SupervisorServices::Clock::time_point startedAt;
        std::chrono::milliseconds nextDelay = kFirstDelay;
    };
    void restart(size_t assignment, uint64_t generation);

    SupervisorServices services_;
    std::map<size_t, Watched> watched_;
    std::map<size_t, uint64_t> restarts_;
    uint64_t generation_ = 0; // a stop makes waiting restarts stale
};
