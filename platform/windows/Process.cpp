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

// A page browser's report pipe: the read end stays here (not inheritable),
// the write end is made inheritable for the one child and closed here once
// the child has it, so that the read end sees the end of the file when the
// child ends.
struct ReportPipe {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    bool open() {
        if (!CreatePipe(&read, &write, nullptr, 0))
            return false;
        SetHandleInformation(write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        return true;
    }
    int takeReadEnd() {
        const int end = static_cast<int>(reinterpret_cast<intptr_t>(read));
        read = nullptr;
        return end;
    }
    ~ReportPipe() {
        if (read)
            CloseHandle(read);
        if (write)
            CloseHandle(write);
    }
};

// The list of handles a child inherits (PROC_THREAD_ATTRIBUTE_HANDLE_LIST):
// that one and no other inheritable handle of this process. Null where the
// system has no such list; the child then inherits what is inheritable,
// which is the pipe's write end alone here.
class InheritedHandles {
public:
    explicit InheritedHandles(HANDLE handle) : handle_(handle) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        buffer_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
        if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size))
            return;
        if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_,
                                       sizeof handle_, nullptr, nullptr)) {
            DeleteProcThreadAttributeList(list);
            return;
        }
        list_ = list;
    }
    ~InheritedHandles() {
        if (list_)
            DeleteProcThreadAttributeList(list_);
    }
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;
    LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }

private:
    HANDLE handle_;
    std::vector<char> buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// This process's environment with NAME=VALUE set, as CreateProcessA takes
// it: each entry ended by a zero byte, the block by one more.
std::vector<char> environmentWith(const std::string& name, const std::string& value) {
    std::vector<char> block;
    const std::string prefix = name + "=";
    if (char* current = GetEnvironmentStringsA()) {
        for (const char* entry = current; *entry; entry += std::strlen(entry) + 1) {
            if (_strnicmp(entry, prefix.c_str(), prefix.size()) != 0)
                block.insert(block.end(), entry, entry + std::strlen(entry) + 1);
        }
        FreeEnvironmentStringsA(current);
    }
    const std::string entry = prefix + value;
    block.insert(block.end(), entry.begin(), entry.end());
    block.push_back('\0');
    block.push_back('\0');
    return block;
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
    ReportPipe pipe;
    if (reports) {
        reports->readEnd = -1;
        if (!pipe.open())
            return static_cast<int>(GetLastError());
    }

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
    BOOL created = FALSE;
    if (reports) {
        // The write end alone is inherited, named in the child's environment.
        STARTUPINFOEXA extended{};
        extended.StartupInfo = startup;
        extended.StartupInfo.cb = sizeof extended;
        InheritedHandles inherited(pipe.write);
        extended.lpAttributeList = inherited.list();
        std::vector<char> environment = environmentWith(
            reports->variable, std::to_string(reinterpret_cast<uintptr_t>(pipe.write)));
        created = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                 NORMAL_PRIORITY_CLASS |
                                     (extended.lpAttributeList ? EXTENDED_STARTUPINFO_PRESENT : 0),
                                 environment.data(), nullptr, &extended.StartupInfo, &started);
    } else {
        created = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                                 NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &started);
    }
    if (!created) {
        const DWORD error = GetLastError();
        return error != 0 ? static_cast<int>(error) : kProgramNotFound;
    }
    CloseHandle(started.hThread);
    if (reports)
        reports->readEnd = pipe.takeReadEnd();
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
