// The page browsers' windows on Windows: a process's visible top-level
// window, found with EnumWindows, is placed with SetWindowPos; the plain
// page browsers' pop-up windows are put at the bottom of the Z order; a
// process is ended with TerminateProcess.
#include "platform/BrowserWindows.h"

#include <vector>
#include <windows.h>

// After windows.h, whose types it uses.
#include <tlhelp32.h>

namespace platform {
namespace {

struct WindowSearch {
    std::vector<DWORD> pids;
    std::vector<HWND> found;
};

BOOL CALLBACK collectWindow(HWND window, LPARAM data) {
    auto& search = *reinterpret_cast<WindowSearch*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER))
        return TRUE;
    for (DWORD wanted : search.pids)
        if (pid == wanted)
            search.found.push_back(window);
    return TRUE;
}

std::vector<HWND> windowsOf(std::vector<DWORD> pids) {
    WindowSearch search{std::move(pids), {}};
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The process and the processes it started, and theirs.
std::vector<DWORD> processTree(DWORD root) {
    std::vector<DWORD> tree{root};
    std::vector<PROCESSENTRY32> all;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        PROCESSENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot, &entry); more;
             more = Process32Next(snapshot, &entry))
            all.push_back(entry);
        CloseHandle(snapshot);
    }
    for (size_t i = 0; i < tree.size(); ++i)
        for (const PROCESSENTRY32& entry : all)
            if (entry.th32ParentProcessID == tree[i] && entry.th32ProcessID != root)
                tree.push_back(entry.th32ProcessID);
    return tree;
}

std::vector<DWORD> processesNamed(const char* image) {
    std::vector<DWORD> pids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return pids;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (lstrcmpiA(entry.szExeFile, image) == 0)
            pids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return pids;
}

} // namespace

bool moveWindowOfProcess(pid_t pid, const Rect& area) {
    const std::vector<HWND> windows = windowsOf(processTree(static_cast<DWORD>(pid)));
    if (windows.empty())
        return false;
    return SetWindowPos(windows.front(), nullptr, area.left, area.top, area.right - area.left,
                        area.bottom - area.top, SWP_NOZORDER | SWP_NOACTIVATE) != 0;
}

int lowerBrowserWindows() {
    int lowered = 0;
    for (HWND window : windowsOf(processesNamed("Brovia.exe"))) {
        if (!(GetWindowLongA(window, GWL_STYLE) & WS_POPUP))
            continue;
        if (SetWindowPos(window, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE))
            ++lowered;
    }
    return lowered;
}

bool killProcess(pid_t pid) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (!process)
        return false;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    const bool ended = running && TerminateProcess(process, 1);
    CloseHandle(process);
    return ended;
}

} // namespace platform
