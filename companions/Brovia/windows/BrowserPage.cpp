#include "BrowserPage.h"

#include "AddressAsk.h"
#include "BrowserLaunch.h"
#include "PageWatch.h"
#include "common/CommandLineWords.h"
#include "common/HiddenToken.h"

#include <json/json.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>
#include <windows.h>

// After windows.h, whose types it uses.
#include <dwmapi.h>

namespace {

using Clock = devtools::Clock;
using namespace std::chrono_literals;

// Brovia's own calls (finding the page, its window's full screen) are
// numbered far beyond the watch's, which drops their replies as strangers'.
constexpr int kFirstOwnCommand = 1 << 30;
constexpr char kOwnIdPrefix[] = "\"id\":107374";
// How long the browser may take to show its app window's page.
constexpr auto kPageWait = 30s;

// What the threads beside the loop hand it: the pipe's bytes, the end of
// the pipe, the address probes' answers. `wake` is set at each.
struct Inbox {
    std::mutex lock;
    std::string bytes;
    bool pipeEnded = false;
    std::deque<AddressAnswer> answers;
    HANDLE wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ~Inbox() { CloseHandle(wake); }

    template <typename Change> void put(Change change) {
        {
            std::lock_guard<std::mutex> held(lock);
            change();
        }
        SetEvent(wake);
    }
};

// Messages to the browser, written on a thread of their own so that a
// browser that stops reading never stops the loop.
class PipeWriter {
public:
    explicit PipeWriter(HANDLE pipe) : pipe_(pipe), thread_([this] { run(); }) {}
    ~PipeWriter() {
        {
            std::lock_guard<std::mutex> held(lock_);
            done_ = true;
        }
        ready_.notify_one();
        // Once the browser has ended, a write under way fails at once.
        thread_.join();
    }
    void send(const std::string& message) {
        {
            std::lock_guard<std::mutex> held(lock_);
            queue_ += message;
            queue_ += '\0';
        }
        ready_.notify_one();
    }

private:
    void run() {
        std::unique_lock<std::mutex> held(lock_);
        while (true) {
            ready_.wait(held, [this] { return done_ || !queue_.empty(); });
            if (done_)
                return;
            std::string out;
            out.swap(queue_);
            held.unlock();
            DWORD written = 0;
            for (size_t at = 0; at < out.size(); at += written)
                if (!WriteFile(pipe_, out.data() + at, DWORD(out.size() - at), &written, nullptr)) {
                    held.lock();
                    done_ = true;
                    return;
                }
            held.lock();
        }
    }
    HANDLE pipe_;
    std::mutex lock_;
    std::condition_variable ready_;
    std::string queue_;
    bool done_ = false;
    std::thread thread_;
};

std::string environmentValue(const char* name) {
    char value[32768];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n == 0 || n >= sizeof value ? std::string() : std::string(value, n);
}

// Makes the folder and every folder above it that is missing.
bool makeFolders(const std::string& path) {
    for (size_t at = path.find_first_of("\\/", 3);; at = path.find_first_of("\\/", at + 1)) {
        const std::string part = path.substr(0, at);
        if (!CreateDirectoryA(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
        if (at == std::string::npos)
            return true;
    }
}

std::string readFile(const std::string& path) {
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0 && text.size() < (64u << 20))
        text.append(buffer, n);
    CloseHandle(file);
    return text;
}

// Written beside and moved over the old file, so that an end mid-write
// leaves the old preferences, never half of the new.
bool writeFileWhole(const std::string& path, const std::string& text) {
    const std::string made = path + ".brovia";
    HANDLE file = CreateFileA(made.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr) &&
                    written == text.size();
    CloseHandle(file);
    return ok && MoveFileExA(made.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// The page's profile, made or kept, with a clean last exit; empty with
// `why` when it cannot be had.
std::string preparedProfile(const PagePlacement& page, std::string& why) {
    const std::string local = environmentValue("LOCALAPPDATA");
    if (local.empty()) {
        why = "LOCALAPPDATA is not set";
        return {};
    }
    const std::string profile = local + "\\Panoview\\pages\\" + std::to_string(profileNumber(page));
    const std::string preferences = profile + "\\Default\\Preferences";
    if (!makeFolders(profile + "\\Default") ||
        !writeFileWhole(preferences, preferencesWithCleanExit(readFile(preferences)))) {
        why = "cannot prepare the profile " + profile + ", error " + std::to_string(GetLastError());
        return {};
    }
    return profile;
}

BOOL CALLBACK addMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoA(monitor, &info))
        reinterpret_cast<std::vector<Rect>*>(data)->push_back(
            {info.rcMonitor.left, info.rcMonitor.top, info.rcMonitor.right, info.rcMonitor.bottom});
    return TRUE;
}

std::vector<Rect> monitorRects() {
    std::vector<Rect> monitors;
    EnumDisplayMonitors(nullptr, nullptr, addMonitor, reinterpret_cast<LPARAM>(&monitors));
    return monitors;
}

struct WindowSearch {
    DWORD pid;
    HWND found = nullptr;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM data) {
    auto& search = *reinterpret_cast<WindowSearch*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search.pid || !IsWindowVisible(window) || GetWindow(window, GW_OWNER))
        return TRUE;
    search.found = window;
    return FALSE;
}

// The browser's visible top-level window.
HWND windowOfProcess(DWORD pid) {
    WindowSearch search{pid};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Puts the window's visible frame over the rectangle: on Windows 10 and
// later a window's rectangle includes borders that are invisible (the
// resize margins DWM reports apart), which would leave a gap beside the
// page and overlap the next monitor.
void placeOver(HWND window, const PagePlacement& page) {
    RECT outer{}, visible{};
    GetWindowRect(window, &outer);
    int left = 0, top = 0, right = 0, bottom = 0; // the invisible margins
    if (SUCCEEDED(
            DwmGetWindowAttribute(window, DWMWA_EXTENDED_FRAME_BOUNDS, &visible, sizeof visible)) &&
        visible.right > visible.left && visible.bottom > visible.top) {
        left = std::max(0L, visible.left - outer.left);
        top = std::max(0L, visible.top - outer.top);
        right = std::max(0L, outer.right - visible.right);
        bottom = std::max(0L, outer.bottom - visible.bottom);
    }
    SetWindowPos(window, nullptr, page.left - left, page.top - top, page.width() + left + right,
                 page.height() + top + bottom, SWP_NOZORDER | SWP_NOACTIVATE);
}

// Whether the window's visible frame lies over the rectangle.
bool isOver(HWND window, const PagePlacement& page) {
    RECT at{};
    if (FAILED(DwmGetWindowAttribute(window, DWMWA_EXTENDED_FRAME_BOUNDS, &at, sizeof at)) ||
        at.right <= at.left || at.bottom <= at.top)
        GetWindowRect(window, &at);
    return at.left == page.left && at.top == page.top && at.right == page.right &&
           at.bottom == page.bottom;
}

// Every process of the job but the browser itself: its renderers, and its
// GPU and utility processes, which the browser starts again as it needs them.
void endOtherProcessesOfJob(HANDLE job, DWORD browser) {
    std::vector<char> buffer(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + 1024 * sizeof(ULONG_PTR));
    auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
    if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, list, DWORD(buffer.size()),
                                   nullptr))
        return;
    for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i) {
        const DWORD pid = DWORD(list->ProcessIdList[i]);
        if (pid == browser)
            continue;
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid)) {
            TerminateProcess(process, 1);
            CloseHandle(process);
        }
    }
}

// The displays changed: a hidden top-level window hears of it.
bool displaysChanged = false;

LRESULT CALLBACK displayProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_DISPLAYCHANGE || (message == WM_SETTINGCHANGE && w == SPI_SETWORKAREA))
        displaysChanged = true;
    return DefWindowProcA(window, message, w, l);
}

HWND displayListener() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = displayProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "Brovia_Displays";
    RegisterClassA(&windowClass);
    return CreateWindowExA(WS_EX_TOOLWINDOW, windowClass.lpszClassName, "", WS_POPUP, 0, 0, 0, 0,
                           nullptr, nullptr, windowClass.hInstance, nullptr);
}

struct Started {
    PROCESS_INFORMATION process{};
    HANDLE commands = nullptr; // Brovia writes
    HANDLE messages = nullptr; // Brovia reads
};

// Starts the browser in the job, suspended until it is in it, with the two
// pipe ends as the only handles it inherits and no standard handles.
bool startBrowser(const std::vector<std::string>& args, HANDLE job, Started& started,
                  HANDLE browserReads, HANDLE browserWrites, std::string& why) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> attributes(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    HANDLE inherited[2] = {browserReads, browserWrites};
    if (!InitializeProcThreadAttributeList(list, 1, 0, &size) ||
        !UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                   sizeof inherited, nullptr, nullptr)) {
        why = "no handle list for the browser, error " + std::to_string(GetLastError());
        return false;
    }
    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.lpAttributeList = list;
    std::string line = commandLineOf(args);
    const bool made = CreateProcessA(args.front().c_str(), line.data(), nullptr, nullptr, TRUE,
                                     EXTENDED_STARTUPINFO_PRESENT | CREATE_SUSPENDED, nullptr,
                                     nullptr, &startup.StartupInfo, &started.process);
    const DWORD error = GetLastError();
    DeleteProcThreadAttributeList(list);
    if (!made) {
        why = "cannot start " + args.front() + ", error " + std::to_string(error);
        return false;
    }
    if (!AssignProcessToJobObject(job, started.process.hProcess)) {
        why = "the browser cannot join Brovia's job, error " + std::to_string(GetLastError());
        TerminateProcess(started.process.hProcess, 1);
        CloseHandle(started.process.hThread);
        CloseHandle(started.process.hProcess);
        return false;
    }
    ResumeThread(started.process.hThread);
    CloseHandle(started.process.hThread);
    return true;
}

} // namespace

std::optional<int> showInBrowser(const std::string& browser, const PagePlacement& page,
                                 ReportLines& reports, std::string& why) {
    const std::string profile = preparedProfile(page, why);
    if (profile.empty())
        return std::nullopt;
    // The job ends the browser and every process it starts once its last
    // handle closes: Brovia's, which the system closes when Brovia ends.
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!job ||
        !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        why = "no job for the browser, error " + std::to_string(GetLastError());
        if (job)
            CloseHandle(job);
        return std::nullopt;
    }
    // The pipes, none of their ends inheritable but the browser's two.
    HANDLE browserReads = nullptr, commands = nullptr, messages = nullptr, browserWrites = nullptr;
    if (!CreatePipe(&browserReads, &commands, nullptr, 0) ||
        !CreatePipe(&messages, &browserWrites, nullptr, 0) ||
        !SetHandleInformation(browserReads, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) ||
        !SetHandleInformation(browserWrites, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
        why = "no pipe for the browser, error " + std::to_string(GetLastError());
        for (HANDLE h : {browserReads, commands, messages, browserWrites})
            if (h)
                CloseHandle(h);
        CloseHandle(job);
        return std::nullopt;
    }
    const std::vector<std::string> args = windowsBrowserArguments(
        browser, profile, page, uintptr_t(browserReads), uintptr_t(browserWrites));
    Started started;
    const bool running = startBrowser(args, job, started, browserReads, browserWrites, why);
    CloseHandle(browserReads);
    CloseHandle(browserWrites);
    if (!running) {
        CloseHandle(commands);
        CloseHandle(messages);
        CloseHandle(job);
        return std::nullopt;
    }
    const DWORD pid = started.process.dwProcessId;
    HANDLE process = started.process.hProcess;
    reports.line("started " + browser + " (process " + std::to_string(pid) + ") with the profile " +
                 profile + "\n");

    auto inbox = std::make_shared<Inbox>();
    std::thread reader([inbox, messages] {
        char buffer[65536];
        DWORD n = 0;
        while (ReadFile(messages, buffer, sizeof buffer, &n, nullptr) && n > 0)
            inbox->put([&] { inbox->bytes.append(buffer, n); });
        inbox->put([&] { inbox->pipeEnded = true; });
    });
    std::optional<PipeWriter> writer(std::in_place, commands);

    // The watch, as on Linux; its report lines each said once.
    bool hung = false;
    std::string hungWhy;
    std::optional<PageReport> last;
    PageWatchPort port;
    port.send = [&writer](const std::string& m) { writer->send(m); };
    port.askAddress = [inbox](const std::string& url) {
        std::thread([inbox, url] {
            const AddressAnswer answer = askAddress(url);
            inbox->put([&] { inbox->answers.push_back(answer); });
        }).detach();
    };
    port.endRenderers = [&] {
        reports.line("ending the page's renderer\n");
        endOtherProcessesOfJob(job, pid);
    };
    port.report = [&](const PageReport& r) {
        if (last == r)
            return;
        last = r;
        reports.report(r);
    };
    port.browserHung = [&](const std::string& w) {
        if (!hung)
            hungWhy = w;
        hung = true;
    };
    PageWatch watch(page.url, port);
    watch.loadOnAttach();
    bool watching = false;
    port.report({PageCondition::Loading, 1, 0, "starting"});

    // Brovia's own calls.
    int ownId = kFirstOwnCommand;
    std::map<int, std::function<void(const Json::Value&)>> ownReplies;
    const auto ownCall = [&](const char* method, const Json::Value& params,
                             std::function<void(const Json::Value&)> onReply) {
        Json::Value command(Json::objectValue);
        command["id"] = ++ownId;
        command["method"] = method;
        command["params"] = params;
        ownReplies[ownId] = std::move(onReply);
        writer->send(devtools::compact(command));
    };
    // The page is watched once the app window's page is there: the watch
    // would otherwise make a page of its own.
    Json::Value discover(Json::objectValue);
    discover["discover"] = true;
    ownCall("Target.setDiscoverTargets", discover, nullptr);
    const Clock::time_point pageBy = Clock::now() + kPageWait;

    // The window: placed in the normal state over the rectangle, then full
    // screen where the rectangle is a whole monitor; checked for a while
    // after, in case the browser moves it once more.
    HWND listener = displayListener();
    bool placed = false, fullScreen = false;
    Clock::time_point checkUntil{};
    const auto setWindowState = [&](const char* state, std::function<void()> then) {
        ownCall("Target.getTargets", Json::Value(Json::objectValue),
                [&, state, then](const Json::Value& targets) {
                    for (const Json::Value& info : targets["result"]["targetInfos"]) {
                        if (info["type"].asString() != "page")
                            continue;
                        Json::Value params(Json::objectValue);
                        params["targetId"] = info["targetId"];
                        ownCall("Browser.getWindowForTarget", params,
                                [&, state, then](const Json::Value& window) {
                                    Json::Value bounds(Json::objectValue);
                                    bounds["windowId"] = window["result"]["windowId"];
                                    bounds["bounds"]["windowState"] = state;
                                    ownCall("Browser.setWindowBounds", bounds,
                                            [then](const Json::Value&) {
                                                if (then)
                                                    then();
                                            });
                                });
                        return;
                    }
                });
    };
    const auto place = [&](Clock::time_point now) {
        HWND window = windowOfProcess(pid);
        if (!window)
            return;
        if (IsZoomed(window) || IsIconic(window))
            ShowWindow(window, SW_RESTORE);
        if (!isOver(window, page)) {
            placeOver(window, page);
            if (!placed)
                reports.line("the browser's window is over " + std::to_string(page.left) + "," +
                             std::to_string(page.top) + " " + std::to_string(page.width()) + "x" +
                             std::to_string(page.height()) + "\n");
        }
        if (!placed) {
            placed = true;
            checkUntil = now + 3s;
            if (coversAMonitor(page, monitorRects())) {
                fullScreen = true;
                setWindowState("fullscreen", [&] { reports.line("full screen on its monitor\n"); });
            }
        }
    };

    devtools::MessageSplitter splitter;
    int status = 1;
    bool ended = false;
    while (!hung) {
        Clock::time_point now = Clock::now();
        if (watching)
            watch.tick(now);
        else if (now >= pageBy)
            port.browserHung("the app window's page did not come");
        if (hung)
            break;
        if (!placed || (!fullScreen && now < checkUntil))
            place(now);
        if (displaysChanged) {
            displaysChanged = false;
            reports.line("the displays changed: the window is placed again\n");
            if (fullScreen) {
                fullScreen = false;
                setWindowState("normal", [&] { placed = false; });
            } else {
                placed = false;
            }
        }
        auto wait =
            std::chrono::milliseconds(placed && (fullScreen || now >= checkUntil) ? 1000 : 100);
        if (auto wake = watching ? watch.nextWake() : std::nullopt)
            wait =
                std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(*wake - now) + 1ms,
                           0ms, wait);
        HANDLE waits[2] = {inbox->wake, process};
        const DWORD woke =
            MsgWaitForMultipleObjects(2, waits, FALSE, DWORD(wait.count()), QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        std::string bytes;
        std::deque<AddressAnswer> answers;
        bool pipeEnded = false;
        {
            std::lock_guard<std::mutex> held(inbox->lock);
            bytes.swap(inbox->bytes);
            answers.swap(inbox->answers);
            pipeEnded = inbox->pipeEnded;
        }
        now = Clock::now();
        for (const std::string& text : splitter.feed(bytes)) {
            if (!watching || text.find(kOwnIdPrefix) != std::string::npos) {
                const Json::Value m =
                    devtools::parseObject(text).value_or(Json::Value(Json::objectValue));
                if (m["id"].isInt()) {
                    const auto own = ownReplies.find(m["id"].asInt());
                    if (own != ownReplies.end()) {
                        auto onReply = std::move(own->second);
                        ownReplies.erase(own);
                        if (onReply)
                            onReply(m);
                        continue;
                    }
                }
                if (!watching && m["method"] == "Target.targetCreated" &&
                    m["params"]["targetInfo"]["type"] == "page") {
                    watching = true;
                    watch.start(now);
                    continue;
                }
            }
            if (watching)
                watch.received(text, now);
        }
        if (splitter.overflowed())
            port.browserHung("a DevTools message beyond any reasonable size");
        for (const AddressAnswer& answer : answers)
            if (watching)
                watch.addressAnswered(answer, Clock::now());
        if (woke == WAIT_OBJECT_0 + 1 || pipeEnded) {
            ended = true;
            break;
        }
    }
    if (!ended) {
        reports.line("the browser does not answer: " + hungWhy + "\n");
        TerminateJobObject(job, 1);
    }
    // A browser that closed its pipe and runs on is ended with its job.
    if (WaitForSingleObject(process, 10000) == WAIT_TIMEOUT) {
        TerminateJobObject(job, 1);
        WaitForSingleObject(process, 10000);
    }
    DWORD code = 1;
    if (GetExitCodeProcess(process, &code) && code != STILL_ACTIVE)
        status = ended ? int(code) : 1;
    reports.line("the browser ended with status " + std::to_string(code) + "\n");
    // What the browser left running goes with it, and with them every end
    // of the pipes: the writer's last write fails and the reader's read ends.
    TerminateJobObject(job, 1);
    writer.reset();
    reader.join();
    CloseHandle(commands);
    CloseHandle(messages);
    CloseHandle(process);
    if (listener)
        DestroyWindow(listener);
    CloseHandle(job);
    return status;
}
