// The page browsers' start with CreateProcessA and the start-up information
// the wall asks for, and their end with WinExec("taskkill /F /IM Brovia.exe").
#include "platform/Process.h"

#include "common/CommandLineWords.h"
#include "common/DebugPrint.h"
#include "platform/Threads.h"

#include <cstring>
#include <windows.h>

// After windows.h, whose types it uses.
#include <tlhelp32.h>

namespace platform {
namespace {

// The file name the desktop gives an image: ".exe" added where the name
// has no extension of its own.
std::string imageName(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.find_first_of("\\/", dot) != std::string::npos)
        return name + ".exe";
    return name;
}

bool isProgramFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool endsWithNoCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           lstrcmpiA(text.c_str() + text.size() - end.size(), end.c_str()) == 0;
}

// Waits for the process on a thread of its own and tells `ended`; the
// handle is closed then, so that an ended browser leaves nothing behind.
void watchUntilItEnds(HANDLE process, DWORD pid, std::function<void(pid_t)> ended) {
    const bool watched = startDetachedThread([process, pid, ended = std::move(ended)] {
        WaitForSingleObject(process, INFINITE);
        CloseHandle(process);
        if (ended)
            ended(static_cast<pid_t>(pid));
    });
    if (!watched) {
        DebugPrint("spawnProcess: no thread to watch process %lu\n", pid);
        CloseHandle(process);
    }
}

// The image name of every process of the system (the ones the snapshot
// shows), with its id.
template <typename Visit> void forEachProcess(Visit visit) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (!visit(entry.th32ProcessID, std::string(entry.szExeFile)))
            break;
    }
    CloseHandle(snapshot);
}

std::string withoutExe(const std::string& image) {
    return endsWithNoCase(image, ".exe") ? image.substr(0, image.size() - 4) : image;
}

} // namespace

// First in the given folder, then as the desktop looks for a program named
// without a path (SearchPathA: the program's own folder, the current folder,
// the system folders, then PATH).
std::string findProgram(const std::string& name, const std::string& firstDirectory) {
    if (name.empty() || name.find_first_of("\\/:") != std::string::npos)
        return {};
    const std::string image = imageName(name);
    if (!firstDirectory.empty() && isProgramFile(firstDirectory + "\\" + image))
        return firstDirectory + "\\" + image;
    char found[MAX_PATH + 1] = {};
    const DWORD n = SearchPathA(nullptr, image.c_str(), nullptr, sizeof found, found, nullptr);
    if (n == 0 || n >= sizeof found || !isProgramFile(found))
        return {};
    return found;
}

int spawnProcess(const std::string& name, const std::vector<std::string>& args,
                 const std::string& firstDirectory, pid_t& pid, std::function<void(pid_t)> ended,
                 ChildPipe* reports, const Rect* window) {
    const std::string program = findProgram(name, firstDirectory);
    if (program.empty())
        return kProgramNotFound;
    // No handle is inherited, so there is no report pipe to give.
    if (reports)
        reports->readEnd = -1;

    // The command line: the program's file name without a path ("Brovia.exe"),
    // then the arguments.
    std::string line;
    appendCommandLineWord(line, imageName(name));
    for (const std::string& arg : args) {
        line += ' ';
        appendCommandLineWord(line, arg);
    }
    std::vector<char> commandLine(line.begin(), line.end());
    commandLine.push_back('\0');

    // The page browser's start-up information: every other field zero, no desktop,
    // an empty title, the window over the rectangle, shown as by default.
    char title[1] = {};
    STARTUPINFOA startup{};
    startup.cb = sizeof startup; // 68
    startup.lpTitle = title;
    if (window) {
        startup.dwX = static_cast<DWORD>(window->left);
        startup.dwY = static_cast<DWORD>(window->top);
        startup.dwXSize = static_cast<DWORD>(window->right - window->left);
        startup.dwYSize = static_cast<DWORD>(window->bottom - window->top);
        startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESIZE | STARTF_USEPOSITION;
        startup.wShowWindow = SW_SHOWDEFAULT;
    }
    PROCESS_INFORMATION started{};
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &started)) {
        const DWORD error = GetLastError();
        return error != 0 ? static_cast<int>(error) : kProgramNotFound;
    }
    CloseHandle(started.hThread);
    pid = static_cast<pid_t>(started.dwProcessId);
    watchUntilItEnds(started.hProcess, started.dwProcessId, std::move(ended));
    return 0;
}

std::string processFileName(pid_t pid) {
    std::string name;
    forEachProcess([&](DWORD id, const std::string& image) {
        if (id != static_cast<DWORD>(pid))
            return true;
        name = withoutExe(image);
        return false;
    });
    return name;
}

// The system's taskkill ends them, forcibly, and is not waited for. Only a
// plain file name is put on its command line.
int killProcessesByFileName(const std::string& fileName) {
    if (fileName.empty() ||
        fileName.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                   "0123456789._-") != std::string::npos)
        return 0;
    const std::string image = imageName(fileName);
    const DWORD self = GetCurrentProcessId();
    int seen = 0;
    forEachProcess([&](DWORD id, const std::string& other) {
        if (id != self && lstrcmpiA(other.c_str(), image.c_str()) == 0)
            ++seen;
        return true;
    });
    const std::string command = "taskkill /F /IM " + image;
    WinExec(command.c_str(), SW_HIDE);
    return seen;
}

} // namespace platform
