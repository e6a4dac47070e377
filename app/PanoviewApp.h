// The application object: start-up and the life of the process.
#pragma once

#include "platform/Files.h"
#include "platform/Instance.h"
#include "wall/DisplayDiscovery.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The name of the single-instance lock of a user's session.
inline constexpr const char* kInstanceLockName = "14ACEF37-B7DE-48e7-B2BB-E3CBCD52E2D5";

// What start-up needs from the desktop, so that its order and rules can be
// exercised without one.
struct StartupServices {
    // True when windows can be shown: the display server the desktop names
    // answers (or a window platform was chosen explicitly). False, with the
    // reason naming the display tried, when it does not.
    std::function<bool(std::string& reason)> windowSystemAvailable;
    std::function<platform::InstanceLock()> takeInstanceLock;
    std::function<std::string()> executablePath;
    // What separates the folders of that path: "/" on Linux, "\\/" on
    // Windows, whose paths use backslashes (platform::folderSeparators).
    std::string pathSeparators{platform::folderSeparators()};
    // Brings up the window system once the process knows it is the one copy.
    std::function<void()> startWindowSystem;
    DisplaySource displays;
    // Shows a message box with an OK button only, and waits for it.
    std::function<void(const std::string& caption, const std::string& text)> showMessage;
    // Ends the process with the given status; does not return in the program.
    std::function<void(int status)> exitProcess;
    // Runs the hidden main window for the rest of the process.
    std::function<void()> runMainWindow;
    // Hands a request line (a command word, and its argument after a blank)
    // to the running copy and prints its answer: false when no copy listens;
    // else `status` is the answer's (0 done, 2 refused or failed).
    std::function<bool(const std::string& request, int& status)> sendCommand;
    // The folder the command line's relative paths are taken from.
    std::function<std::string()> workingFolder;
    // The arguments as the program was given them, each whole: a quoted
    // monitor list or an empty argument ("$EMPTY") stays one word. Unset,
    // the words are the command line's tail split at its blanks.
    std::function<std::vector<std::string>()> arguments;
};

class CPanoviewApp {
public:
    explicit CPanoviewApp(StartupServices services) : services_(std::move(services)) {}

    // A question for the running copy (--status, --reload, --screenshot)
    // is asked before anything else, with or without a display, and the
    // process ends with the answer's status: 1 when no copy answers, 2 when
    // it refused or the words are wrong. No copy is started for it.
    //
    // A later start while a copy runs ends at the instance lock: silently
    // with status 0, or, with a command word, with the status of the running
    // copy's answer (1 when no copy listens).
    //
    // Runs start-up in order: instance lock, language, module directory,
    // window system, SystemConfig (configuration file, then displays), then
    // the main window for the life of the process. Always returns false: once
    // it returns there is nothing left to run.
    //
    // Without windows to show (no display server), nothing of that runs: a
    // configuration that is not JSON writes "config file error!" as one line
    // and ends with status 0, as if its box had been answered; any other start
    // writes one line naming the display tried and ends with status 1, before
    // the instance lock is taken, so that a later start on a working display
    // is not turned away.
    bool InitInstance(const std::string& commandLineTail);

private:
    void endWithoutWindows(const std::string& reason);

    StartupServices services_;
};

// The text after the program's name: the arguments joined by single blanks.
std::string commandLineTail(int argc, const char* const* argv);

// "/english" anywhere in the tail, letter case as written.
bool wantsEnglish(const std::string& commandLineTail);

// "/set" anywhere in the tail, letter case as written, or the command word
// --settings: the settings dialog opens first.
bool wantsSettings(const std::string& commandLineTail);

// The command for the running copy among the tail's words: "login" for
// --login, "settings" for --settings; empty when there is none.
std::string commandWord(const std::string& commandLineTail);

// The folder of an executable path: the text before its last separator (any
// character of `separators`), or the whole path when it has none.
std::string moduleDirectoryOf(const std::string& executablePath, std::string_view separators = "/");
