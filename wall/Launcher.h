// The page-browser launcher: one "Brovia" per display assignment, placed over
// the work area of its display, and the stop of all of them by name.
#pragma once

#include "settings/SystemConfig.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The page browser's program name (its desktop name is "Brovia.exe").
inline constexpr const char* kBrowserProgram = "Brovia";

// The page address: the first "%s" of the template becomes the token, each
// "%%" becomes "%", and every other "%" is copied as it stands. The template
// is never used as a printf format.
std::string composePageAddress(std::string_view urlTemplate, std::string_view token);

// The browser's arguments after its program name: "/left", left, "/top", top,
// "/bottom", bottom, "/right", right, "/url", address, one argument each.
std::vector<std::string> browserArguments(const Rect& workArea, const std::string& pageAddress);

// Starts one page browser over the work area showing the page address.
// True when the process was created; `processId` then holds its id. On
// failure one diagnostic line names the error number, and false.
bool StartProcess(const Rect& workArea, const std::string& pageAddress, uint32_t& processId);

// Ends every page browser of this user, started by this run or not, and
// returns without waiting for them to end. A launch under way is let finish
// first, so that no browser it starts outlives the stop.
void StopBrowsers();

// What one launch works on: copies taken when the launch starts, so that a
// sign-out that clears the token cannot change a launch under way.
struct LaunchJob {
    std::string token;
    std::vector<DisplayAssignment> displays;
    Rect primaryWorkArea;
    std::vector<Rect> extendedWorkAreas; // in discovery order
};

LaunchJob takeLaunchJob(const SystemConfig& config);

// How a launch starts one browser: StartProcess in the program.
using BrowserStarter =
    std::function<bool(const Rect& workArea, const std::string& pageAddress, uint32_t& processId)>;

// Runs a launch on the calling thread: every assignment flagged primary goes
// over the primary work area, the non-primary ones take the extended work
// areas one after the other; surplus non-primary assignments start nothing.
// Returns the process id started for each assignment (0 where none was).
std::vector<uint32_t> runLaunch(const LaunchJob& job, const BrowserStarter& start);

// The launch thread: runs the job with StartProcess and writes each started
// process id into the `processId` of its assignment in theSystemConfig, the
// only field it writes. Tells waitForLaunch when it has finished.
void LaunchThread(LaunchJob job);

// Called on the UI thread once a sign-in has succeeded and the token is
// stored: takes the copies from theSystemConfig now and runs LaunchThread on a
// detached thread. `owner` (the dialog that asks) is not used.
void startLaunchThread(void* owner);

// Blocks until no launch is running (StopBrowsers does it first, so that no
// browser is started after the stop).
void waitForLaunch();
