// The page-browser launcher: one "Brovia" per display assignment, placed over
// the work area of its display, and the stop of all of them by name.
#pragma once

#include "platform/Process.h"
#include "settings/SystemConfig.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// The page browser's program name (its desktop name is "Brovia.exe").
inline constexpr const char* kBrowserProgram = "Brovia";
// The environment variable that names the descriptor (on Windows: the pipe
// handle) on which a page browser reports its page's state
// (wall/PageReport.h).
inline constexpr const char* kPageReportVariable = "BROVIA_REPORT_FD";

// The page address: the first "%s" of the template becomes the token, each
// "%%" becomes "%", and every other "%" is copied as it stands. The template
// is never used as a printf format.
std::string composePageAddress(std::string_view urlTemplate, std::string_view token);

// The browser's arguments after its program name: "/left", left, "/top", top,
// "/bottom", bottom, "/right", right, "/url", address, one argument each.
std::vector<std::string> browserArguments(const Rect& workArea, const std::string& pageAddress);

// What one launch works on: copies taken when the launch starts, so that a
// sign-out that clears the token cannot change a launch under way.
struct LaunchJob {
    std::string token;
    std::vector<DisplayAssignment> displays;
    Rect primaryWorkArea;
    std::vector<Rect> extendedWorkAreas; // in discovery order
};

LaunchJob takeLaunchJob(const SystemConfig& config);

// How a launch starts one browser: Launcher::StartProcess in the program.
using BrowserStarter =
    std::function<bool(const Rect& workArea, const std::string& pageAddress, uint32_t& processId)>;

// Runs a launch on the calling thread: every assignment flagged primary goes
// over the primary work area, the non-primary ones take the extended work
// areas one after the other; surplus non-primary assignments start nothing.
// Returns the process id started for each assignment (0 where none was).
std::vector<uint32_t> runLaunch(const LaunchJob& job, const BrowserStarter& start);

// What the launcher needs from the desktop. The program gives the real
// services; tests give scripted ones.
struct LauncherServices {
    // The folder searched first for the page browser: the program's own
    // (moduleDirectory).
    std::string programFolder;
    // Starts a program (platform::spawnProcess): 0 and the process id, or the
    // error number; with a pipe, also the read end of the child's report
    // pipe. `window` is the work area the browser's window is placed over.
    std::function<int(const std::string& program, const std::vector<std::string>& args,
                      const std::string& firstDirectory, pid_t& pid,
                      std::function<void(pid_t)> ended, platform::ChildPipe* reports,
                      const Rect* window)>
        spawn;
    // Ends every process of this user with that executable file name
    // (platform::killProcessesByFileName); returns at once.
    std::function<int(const std::string& fileName)> killByName;
    // Runs the work on a detached worker thread (platform::startDetachedThread);
    // false when no thread can be made.
    std::function<bool(std::function<void()> work)> startThread;
    // Told, on the thread that notices it, when a started browser ends; may
    // be empty.
    std::function<void(uint32_t pid)> browserEnded;
    // Told, on the launch's worker, when a launch has started its browsers;
    // may be empty.
    std::function<void()> launched;
    // Told, on the caller's thread, when StopBrowsers begins (sign-out,
    // exit); may be empty.
    std::function<void()> stopping;
    // Given, on the thread that started the browser, the read end of each
    // started browser's report pipe (the receiver closes it). When empty,
    // browsers get no report pipe.
    std::function<void(uint32_t pid, int reportFd)> pageReports;
};

// Starts and stops the page browsers. One launcher serves the whole run; the
// program never destroys it, since a launch worker may still use it when the
// process ends.
class Launcher {
public:
    explicit Launcher(LauncherServices services) : services_(std::move(services)) {}
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    // Starts one page browser over the work area showing the page address,
    // found first in the program folder. True when the process was created;
    // `processId` then holds its id. On failure one diagnostic line names the
    // error number, and false.
    bool StartProcess(const Rect& workArea, const std::string& pageAddress, uint32_t& processId);

    // Ends every page browser of this user, started by this run or not, and
    // returns without waiting for them to end. A launch under way is let
    // finish first, so that no browser it starts outlives the stop.
    void StopBrowsers();

    // At start-up, before any page of this run: ends every page browser of
    // this user left from an earlier run (one that ended without its stop, by
    // kill -9 or a crash), by the rule StopBrowsers applies, with one
    // diagnostic line naming how many when there were any. Returns how many.
    int endLeftoverBrowsers();

    // The launch thread's work, on the calling thread: runs the job with
    // StartProcess and writes each started process id into the `processId` of
    // its assignment in config, the only field it writes.
    void LaunchThread(const LaunchJob& job, SystemConfig& config);

    // Called on the UI thread once a sign-in has succeeded and the token is
    // stored: takes the copies from config now and runs LaunchThread on a
    // worker. False, with one diagnostic line, when no worker can be started;
    // nothing is then waited for.
    bool startLaunchThread(SystemConfig& config);

    // Blocks until no launch is running.
    void waitForLaunch();

private:
    void launchFinished();

    LauncherServices services_;
    std::mutex mutex_;
    std::condition_variable idle_;
    int running_ = 0;
};
