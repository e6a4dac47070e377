#include "wall/Launcher.h"

#include "common/DebugPrint.h"
#include "common/Globals.h"
#include "platform/Process.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// Counts the launches under way, so that a sign-out can wait for them.
struct LaunchTracker {
    std::mutex mutex;
    std::condition_variable idle;
    int running = 0;
};

LaunchTracker& tracker() {
    static LaunchTracker t;
    return t;
}

} // namespace

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

// The arguments travel as separate words with no length limit: a long site
// address or page parameters reach the browser whole instead of being cut or
// skipped.
bool StartProcess(const Rect& workArea, const std::string& pageAddress, uint32_t& processId) {
    pid_t pid = 0;
    int error = platform::spawnProcess(kBrowserProgram, browserArguments(workArea, pageAddress),
                                       moduleDirectory, pid);
    if (error != 0) {
        DebugPrint("%s(): CreateProcessA.%s, error code = %d\n", "CPanoviewDlg::StartProcess",
                   "Brovia.exe", error);
        return false;
    }
    processId = static_cast<uint32_t>(pid);
    return true;
}

void StopBrowsers() {
    // A launch under way would start browsers after the stop, and they would
    // stay: the stop waits for it (a launch only starts processes, so this is
    // short), then ends every browser.
    waitForLaunch();
    platform::killProcessesByFileName(kBrowserProgram);
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
    size_t next = 0;
    for (size_t i = 0; i < job.displays.size(); ++i) {
        const DisplayAssignment& assignment = job.displays[i];
        std::string address = composePageAddress(assignment.urlTemplate, job.token);
        uint32_t pid = 0;
        // A browser that cannot start costs only its own display: the
        // result is not needed, the loop goes on.
        if (assignment.isPrimary == 1)
            start(job.primaryWorkArea, address, pid);
        else if (next < job.extendedWorkAreas.size())
            start(job.extendedWorkAreas[next++], address, pid);
        started[i] = pid;
    }
    return started;
}

void LaunchThread(LaunchJob job) {
    std::vector<uint32_t> started = runLaunch(job, StartProcess);
    for (size_t i = 0; i < started.size(); ++i) {
        // A browser that did not start keeps the assignment's earlier id.
        if (started[i] != 0 && theSystemConfig && i < theSystemConfig->displays.size())
            theSystemConfig->displays[i].processId = started[i];
    }
}

void startLaunchThread(void* /*owner*/) {
    if (!theSystemConfig)
        return;
    LaunchJob job = takeLaunchJob(*theSystemConfig);
    {
        std::lock_guard<std::mutex> lock(tracker().mutex);
        ++tracker().running;
    }
    std::thread([job = std::move(job)]() mutable {
        LaunchThread(std::move(job));
        std::lock_guard<std::mutex> lock(tracker().mutex);
        if (--tracker().running == 0)
            tracker().idle.notify_all();
    }).detach();
}

void waitForLaunch() {
    std::unique_lock<std::mutex> lock(tracker().mutex);
    tracker().idle.wait(lock, [] { return tracker().running == 0; });
}
