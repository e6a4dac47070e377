// The UI thread's timers and the page-browser starts of the wall's suites,
// scripted: time moves only when the test says so.
#pragma once

#include "wall/Supervisor.h"

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

using Clock = SupervisorServices::Clock;

struct ScriptedWall {
    Clock::time_point now{};
    std::multimap<Clock::time_point, std::function<void()>> timers;
    std::vector<std::pair<Rect, std::string>> starts;
    uint32_t nextPid = 500;

    SupervisorServices services() {
        return {[this] { return now; },
                [this](std::chrono::milliseconds delay, std::function<void()> work) {
                    timers.emplace(now + delay, std::move(work));
                },
                [this](const Rect& r, const std::string& address, uint32_t& pid) {
                    starts.emplace_back(r, address);
                    pid = nextPid++;
                    return true;
                }};
    }
    // Moves the clock on, running every timer that falls due on the way.
    void advance(std::chrono::milliseconds by) {
        const Clock::time_point end = now + by;
        while (!timers.empty() && timers.begin()->first <= end) {
            auto due = timers.begin();
            now = due->first;
            auto work = std::move(due->second);
            timers.erase(due);
            work();
        }
        now = end;
    }
    // How long after now the next restart is due.
    std::chrono::milliseconds nextDelay() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(timers.begin()->first - now);
    }
};
