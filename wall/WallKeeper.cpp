#include "wall/WallKeeper.h"

#include "common/DebugPrint.h"
#include "wall/Launcher.h"
#include "wall/Placement.h"

#include <algorithm>

void WallKeeper::wallUp() {
    if (!config_.signedIn)
        return;
    up_ = true;
    const std::vector<WallSpot> spots =
        wallLayout(config_.displays, config_.primaryMonitor, config_.extendedMonitors);
    for (size_t i = 0; i < config_.displays.size(); ++i) {
        const DisplayAssignment& d = config_.displays[i];
        if (spots[i].shown && d.processId != 0) {
            supervisor_.watch(i, d.processId, spots[i].work,
                              composePageAddress(d.urlTemplate, config_.token));
            history_[i].changedAt = wallNow();
        }
    }
    if (!blankingHeld_ && services_.holdOffBlanking)
        blankingHeld_ = services_.holdOffBlanking();
}

void WallKeeper::wallDown() {
    up_ = false;
    // The counts of the run stay; the states go.
    std::vector<uint32_t> reporting;
    for (const auto& [pid, page] : pages_.all())
        reporting.push_back(static_cast<uint32_t>(pid));
    for (uint32_t pid : reporting)
        forgetPage(pid);
    pages_.clear();
    reloadsOf_.clear();
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
        forgetPage(pid);
        supervisor_.forget(i);
        if (pid != 0)
            services_.endProcess(pid);
        config_.displays[i].processId = 0;
        if (change.kind != WallChangeKind::End)
            startAt(i, change.work);
    }
}

bool WallKeeper::startAt(size_t assignment, const Rect& work) {
    DisplayAssignment& d = config_.displays[assignment];
    const std::string address = composePageAddress(d.urlTemplate, config_.token);
    uint32_t pid = 0;
    history_[assignment].changedAt = wallNow();
    if (!services_.supervisor.start(work, address, pid))
        return false;
    d.processId = pid;
    supervisor_.watch(assignment, pid, work, address);
    return true;
}

WallKeeper::WallTime WallKeeper::wallNow() const {
    return services_.wallClock ? services_.wallClock() : std::chrono::system_clock::now();
}

void WallKeeper::browserEnded(uint32_t pid) {
    size_t assignment = 0;
    if (supervisor_.assignmentOf(pid, assignment))
        history_[assignment].changedAt = wallNow();
    forgetPage(pid);
    supervisor_.browserEnded(pid);
}

namespace {

int64_t epochMs(std::chrono::system_clock::time_point t) {
    if (t == std::chrono::system_clock::time_point{})
        return 0;
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

} // namespace

void WallKeeper::pageReport(uint32_t pid, std::string_view bytes) {
    if (!config_.signedIn || pid == 0)
        return;
    const WallTime now = wallNow();
    const auto before = pages_.of(pid);
    bool wasLive = before && before->last.condition == PageCondition::Live;
    size_t assignment = 0;
    const bool watched = supervisor_.assignmentOf(pid, assignment);
    pages_.feed(pid, bytes, now, [&](const PageReport& report) {
        const bool live = report.condition == PageCondition::Live;
        if (watched && (live || wasLive))
            history_[assignment].lastLive = now;
        wasLive = live;
        if (const std::string reason(pageReloadReason(report)); !reason.empty()) {
            uint64_t& seen = reloadsOf_[pid][reason];
            seen = std::max<uint64_t>(seen, report.count);
        }
    });
}

void WallKeeper::forgetPage(uint32_t pid) {
    if (pid == 0)
        return;
    size_t assignment = 0;
    if (supervisor_.assignmentOf(pid, assignment)) {
        PageHistory& h = history_[assignment];
        for (const auto& [reason, count] : reloadsOf_[pid])
            h.reloads[reason] += count;
        const auto page = pages_.of(pid);
        if (page && page->last.condition == PageCondition::Live)
            h.lastLive = wallNow();
    }
    reloadsOf_.erase(pid);
    pages_.forget(pid);
}

bool WallKeeper::reload(size_t assignment) {
    if (!up() || assignment >= config_.displays.size())
        return false;
    const std::vector<WallSpot> spots =
        wallLayout(config_.displays, config_.primaryMonitor, config_.extendedMonitors);
    if (!spots[assignment].shown)
        return false;
    const uint32_t pid = supervisor_.pidOf(assignment);
    DebugPrint("WallKeeper: the page of display entry %zu is loaded afresh (browser %u ended)\n",
               assignment, pid);
    forgetPage(pid);
    supervisor_.forget(assignment);
    if (pid != 0)
        services_.endProcess(pid);
    config_.displays[assignment].processId = 0;
    ++history_[assignment].reloads["command"];
    return startAt(assignment, spots[assignment].work);
}

std::vector<MonitorStatus> WallKeeper::monitors() const {
    const WallTime now = wallNow();
    const std::vector<WallSpot> spots =
        wallLayout(config_.displays, config_.primaryMonitor, config_.extendedMonitors);
    std::vector<MonitorStatus> list;
    for (size_t i = 0; i < config_.displays.size(); ++i) {
        MonitorStatus m;
        m.entry = i;
        m.name = spots[i].device;
        m.work = spots[i].work;
        if (!m.name.empty() && m.name == config_.primaryMonitor.szDevice)
            m.monitor = config_.primaryMonitor.rcMonitor;
        for (const MonitorInfo& e : config_.extendedMonitors)
            if (!m.name.empty() && m.name == e.szDevice)
                m.monitor = e.rcMonitor;
        m.address = composePageAddress(config_.displays[i].urlTemplate, "***");
        m.restarts = supervisor_.restartsOf(i);
        auto history = history_.find(i);
        WallTime lastLive{}, changedAt{};
        if (history != history_.end()) {
            m.reloads = history->second.reloads;
            lastLive = history->second.lastLive;
            changedAt = history->second.changedAt;
        }
        m.pid = up() ? supervisor_.pidOf(i) : 0;
        m.state = "off";
        if (up() && spots[i].shown && supervisor_.watches(i)) {
            m.state = m.pid == 0 ? "restarting" : "starting";
            m.sinceMs = epochMs(changedAt);
        }
        if (const auto page = m.pid ? pages_.of(m.pid) : std::nullopt) {
            m.state = std::string(pageConditionName(page->last.condition));
            m.reason = page->last.reason;
            m.count = page->last.count;
            m.nextAttemptMs = page->last.nextAttemptMs;
            m.detail = page->last.detail;
            m.sinceMs = epochMs(page->since);
            if (page->last.condition == PageCondition::Live)
                lastLive = now;
            if (auto seen = reloadsOf_.find(m.pid); seen != reloadsOf_.end())
                for (const auto& [reason, count] : seen->second)
                    m.reloads[reason] += count;
        }
        m.lastLiveMs = epochMs(lastLive);
        list.push_back(std::move(m));
    }
    return list;
}
