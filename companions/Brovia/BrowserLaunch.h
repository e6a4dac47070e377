// What a page's own browser is started with, as plain C++ that both
// platforms build: the switches every page browser gets, the wall's profile
// preferences, and on Windows the choice of the browser (Microsoft Edge,
// else Google Chrome), the policies that forbid driving it, the page's
// profile number and the browser's command line. The registry, the
// environment and the files are asked through the lookups handed in, so
// that the rules are tested without Windows.
#pragma once

#include "Brovia.h"
#include "common/Geometry.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The switches every page browser starts with, whatever its platform: no
// first-run, default-browser, sync or restore-pages prompts, DevTools over
// the pipe, no throttling of covered pages, no dialog or bubble waiting for
// a click, no renderer beyond the page's.
std::vector<std::string> pageBrowserSwitches();

// The preferences a page's profile starts with: no offers to translate
// pages or save passwords, notifications refused without asking, and a
// clean last exit (no "restore pages" bubble).
inline constexpr const char* kWallPreferences =
    R"({"translate":{"enabled":false},"credentials_enable_service":false,)"
    R"("profile":{"password_manager_enabled":false,"exit_type":"Normal",)"
    R"("exited_cleanly":true,"default_content_setting_values":{"notifications":2}}})";

// A kept profile's Preferences text with its last exit made clean
// (profile.exit_type "Normal", profile.exited_cleanly true) and everything
// else as it was, so that a browser that was ended (as the wall's stop ends
// it) shows no "restore pages" bubble at its next start. A text that is no
// JSON object (missing, cut short by an end mid-write) gives kWallPreferences.
std::string preferencesWithCleanExit(const std::string& text);

// Where the browser is looked for on Windows.
struct BrowserLookups {
    // An environment variable's value; empty when unset.
    std::function<std::string(const std::string& name)> environment;
    // The default value of ...\Microsoft\Windows\CurrentVersion\App Paths\<image>
    // under HKEY_LOCAL_MACHINE (machine) or HKEY_CURRENT_USER; empty when none.
    std::function<std::string(bool machine, const std::string& image)> appPath;
    // Whether the path names an existing file (not a folder).
    std::function<bool(const std::string& path)> isFile;
};

struct BrowserChoice {
    std::string path;     // the browser to start; empty when none
    std::string lookedAt; // what was looked for, for the line that says why not
};

// BROVIA_BROWSER (a path) wins, whether or not the file is there (a wrong
// path is said, not replaced by another browser); else msedge.exe from App
// Paths (the machine's, then the user's), then from %ProgramFiles(x86)%,
// %ProgramFiles% and %LOCALAPPDATA% (a per-user install); then chrome.exe
// the same way. A registry value in quotation marks is taken without them.
BrowserChoice chooseBrowser(const BrowserLookups& lookups);

// Reads a policy DWORD of the key (below HKEY_LOCAL_MACHINE when machine,
// else HKEY_CURRENT_USER); nullopt when unset.
using PolicyLookup = std::function<std::optional<uint32_t>(bool machine, const std::string& key,
                                                           const std::string& name)>;
// The key of the browser's policies: SOFTWARE\Policies\Microsoft\Edge for
// msedge.exe, SOFTWARE\Policies\Google\Chrome for chrome.exe, empty for
// another program (a stand-in), which no policy governs.
std::string policyKey(const std::string& browserPath);
// Why the policies forbid Brovia to drive the browser over DevTools
// (RemoteDebuggingAllowed 0, or DeveloperToolsAvailability 2), the machine's
// policy before the user's; empty when they allow it.
std::string devToolsForbiddenBy(const std::string& browserPath, const PolicyLookup& policy);

// The number of a page's profile folder (pages\<n>): the same for the same
// rectangle at every start, so that the page keeps its cookies and sign-in
// across restarts; different rectangles get different numbers (32 bits of
// FNV-1a over "left,top,right,bottom").
uint32_t profileNumber(const PagePlacement& page);

// Whether the rectangle is a whole monitor: the page is made full screen
// there instead of an app window over the rectangle.
bool coversAMonitor(const PagePlacement& page, const std::vector<Rect>& monitors);

// The browser's command line for one page: its profile, the page switches,
// an app window of about:blank over the rectangle (the address itself goes
// over DevTools, never on a command line other programs can read; a window
// over a whole monitor is made full screen once placed), and DevTools over
// the two inherited pipe handles: the browser reads commands from `reads`
// and writes its messages to `writes`.
std::vector<std::string> windowsBrowserArguments(const std::string& browser,
                                                 const std::string& profile,
                                                 const PagePlacement& page, uintptr_t reads,
                                                 uintptr_t writes);
