#include "wall/Launcher.h"

#include "common/DebugPrint.h"
#include "wall/Placement.h"

std::string composePageAddress(std::string_view urlTemplate, std::string_view token) {
    std::string address;
    address.reserve(urlTemplate.size() + token.size());
    bool tokenPlaced = false;
    for (size_t i = 0; i < urlTemplate.size(); ++i) {
        char c = urlTemplate[i];
        char next = i + 1 < urlTemplate.size() ? urlTemplate[i + 1] : '\0';
        if (c == '%' && next == '%') {
            address += '%';
            ++i;
        } else if (c == '%' && next == 's' && !tokenPlaced) {
            address += token;
            tokenPlaced = true;
            ++i;
        } else {
            address += c;
        }
    }
    return address;
}

std::vector<std::string> browserArguments(const Rect& workArea, const std::string& pageAddress) {
    return {"/left",   std::to_string(workArea.left),
            "/top",    std::to_string(workArea.top),
            "/bottom", std::to_string(workArea.bottom),
            "/right",  std::to_string(workArea.right),
            "/url",    pageAddress};
}

bool Launcher::StartProcess(const Rect& workArea, const std::string& pageAddress,
                            uint32_t& processId) {
    pid_t pid = 0;
    std::function<void(pid_t)> ended;
    if (services_.browserEnded)
        ended = [tell = services_.browserEnded](pid_t pid) { tell(static_cast<uint32_t>(pid)); };
    // The arguments travel as separate words with no length limit: a long
    // site address or page parameters reach the browser whole instead of
    // being cut or skipped.
    platform::ChildPipe reports{kPageReportVariable};
    int error = services_.spawn(kBrowserProgram, browserArguments(workArea, pageAddress),
                                services_.programFolder, pid, std::move(ended),
                                services_.pageReports ? &reports : nullptr, &workArea);
    if (error == 0 && reports.readEnd >= 0)
        services_.pageReports(static_cast<uint32_t>(pid), reports.readEnd);
    if (error != 0) {
        DebugPrint("%s(): CreateProcessA.%s, error code = %d\n", "CPanoviewDlg::StartProcess",
                   "Brovia.exe", error);
        return false;
    }
    processId = static_cast<uint32_t>(pid);
    return true;
}

void Launcher::StopBrowsers() {
    // A launch under way would start browsers after the stop, and they would
    // stay: the stop waits for it (a launch only starts processes, so this is
    // short), then ends every browser.
    if (services_.stopping)
        services_.stopping();
    waitForLaunch();
    services_.killByName(kBrowserProgram);
}

int Launcher::endLeftoverBrowsers() {
    const int ended = services_.killByName(kBrowserProgram);
    if (ended > 0)
        DebugPrint("%s(): %d page browser(s) left from an earlier run ended\n",
                   "Launcher::endLeftoverBrowsers", ended);
    return ended;
}

LaunchJob takeLaunchJob(const SystemConfig& config) {
    LaunchJob job;
    job.token = config.token;
    job.displays = config.displays;
    job.primaryWorkArea = config.primaryMonitor.rcWork;
    for (const auto& monitor : config.extendedMonitors)
        job.extendedWorkAreas.push_back(monitor.rcWork);
    return job;
}

std::vector<uint32_t> runLaunch(const LaunchJob& job, const BrowserStarter& start) {
    std::vector<uint32_t> started(job.displays.size(), 0);
    const std::vector<int> places = assignDisplays(job.displays, job.extendedWorkAreas.size());
    for (size_t i = 0; i < job.displays.size(); ++i) {
        if (places[i] == kNoDisplay)
            continue;
        const Rect& work =
            places[i] == kPrimaryDisplay ? job.primaryWorkArea : job.extendedWorkAreas[places[i]];
        if (!roomForPage(work)) {
            reportNoRoomForPage(i, work);
            continue;
        }
        uint32_t pid = 0;
        // A browser that cannot start costs only its own display: the
        // result is not needed, the loop goes on.
        start(work, composePageAddress(job.displays[i].urlTemplate, job.token), pid);
        started[i] = pid;
    }
    return started;
}

void Launcher::LaunchThread(const LaunchJob& job, SystemConfig& config) {
    std::vector<uint32_t> started =
        runLaunch(job, [this](const Rect& workArea, const std::string& address, uint32_t& pid) {
            return StartProcess(workArea, address, pid);
        });
    for (size_t i = 0; i < started.size(); ++i) {
        // A browser that did not start keeps the assignment's earlier id.
        if (started[i] != 0 && i < config.displays.size())
            config.displays[i].processId = started[i];
    }
}

bool Launcher::startLaunchThread(SystemConfig& config) {
    // The launch counts as running before its worker exists, so that a stop
    // right after the start waits for it; when no worker can be made the
    // count is lowered again, so the stop does not wait for a launch that
    // never runs.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++running_;
    }
    bool started = false;
    try {
        started = services_.startThread([this, &config, job = takeLaunchJob(config)] {
            LaunchThread(job, config);
            if (services_.launched)
                services_.launched();
            launchFinished();
        });
    } catch (...) {
        started = false;
    }
    if (!started) {
        DebugPrint("%s(): no thread could be started; no page browser was started\n",
                   "LaunchThread");
        launchFinished();
    }
    return started;
}

void Launcher::launchFinished() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--running_ == 0)
        idle_.notify_all();
}

void Launcher::waitForLaunch() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return running_ == 0; });
}
