#include "wall/Supervisor.h"

#include "common/DebugPrint.h"

#include <algorithm>

void WallSupervisor::watch(size_t assignment, uint32_t pid, const Rect& workArea,
                           const std::string& address) {
    if (pid == 0)
        return;
    Watched& w = watched_[assignment];
    w.pid = pid;
    w.workArea = workArea;
    w.address = address;
    w.startedAt = services_.now();
}

void WallSupervisor::browserEnded(uint32_t pid) {
    for (auto& [assignment, w] : watched_) {
        if (w.pid != pid || pid == 0)
            continue;
        w.pid = 0;
        // A browser that ran long enough was healthy: its next death is
        // treated as the first.
        if (services_.now() - w.startedAt >= kHealthyRun)
            w.nextDelay = kFirstDelay;
        const std::chrono::milliseconds delay = w.nextDelay;
        w.nextDelay = std::min(w.nextDelay * 2, kLongestDelay);
        DebugPrint("WallSupervisor: page browser %u of display entry %zu ended; restarting in %lld "
                   "ms\n",
                   pid, assignment, static_cast<long long>(delay.count()));
        const size_t which = assignment;
        const uint64_t generation = generation_;
        services_.after(delay, [this, which, generation] { restart(which, generation); });
        return;
    }
}

void WallSupervisor::restart(size_t assignment, uint64_t generation) {
    auto it = watched_.find(assignment);
    if (generation != generation_ || it == watched_.end() || it->second.pid != 0)
        return;
    Watched& w = it->second;
    uint32_t pid = 0;
    w.startedAt = services_.now();
    if (services_.start(w.workArea, w.address, pid)) {
        w.pid = pid;
        ++restarts_[assignment];
        return;
    }
    // No browser could be started: try again after the next delay.
    const std::chrono::milliseconds delay = w.nextDelay;
    w.nextDelay = std::min(w.nextDelay * 2, kLongestDelay);
    services_.after(delay, [this, assignment, generation] { restart(assignment, generation); });
}

void WallSupervisor::moved(size_t assignment, const Rect& workArea) {
    auto it = watched_.find(assignment);
    if (it != watched_.end())
        it->second.workArea = workArea;
}

void WallSupervisor::stop() {
    ++generation_;
    watched_.clear();
}

uint32_t WallSupervisor::pidOf(size_t assignment) const {
    auto it = watched_.find(assignment);
    return it == watched_.end() ? 0 : it->second.pid;
}

bool WallSupervisor::assignmentOf(uint32_t pid, size_t& assignment) const {
    for (const auto& [which, w] : watched_)
        if (pid != 0 && w.pid == pid) {
            assignment = which;
            return true;
        }
    return false;
}

uint64_t WallSupervisor::restartsOf(size_t assignment) const {
    auto it = restarts_.find(assignment);
    return it == restarts_.end() ? 0 : it->second;
}
