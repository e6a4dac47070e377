// standin-browser.exe: a browser as Brovia.exe drives one, for the suites
// under Wine. It reads DevTools commands (JSON, each ended by a NUL byte)
// from the handle and writes its messages to the handle that
// --remote-debugging-io-pipes=<read>,<write> names, opens one top-level
// window (a pop-up at 100,100, 640x480, wherever its command line asks: the
// one who drives it places it) titled "standin-browser <script>", and
// answers the calls of a page watch with one page, target "T", session "S".
//
// STANDIN_SCRIPT chooses what its page does:
//   plain   every load comes up, every probe is answered;
//   crash   once the page has come up and answered two probes, its renderer
//           crashes (Inspector.targetCrashed, Target.targetCrashed);
//   hang    once the page has come up and answered two probes, no probe
//           (Runtime.evaluate of "1") is answered until Page.crash, which
//           crashes the renderer;
//   stuck   as hang, but Page.crash does nothing: the page answers again
//           once its renderer (below) is ended;
//   error   the first load fails (net::ERR_CONNECTION_REFUSED, an error
//           page), the later ones come up;
//   quits   once the page has come up and answered two probes, the browser
//           ends with status 3;
//   displays  once the page has come up and answered two probes, the
//           window moves back to 100,100 and every top-level window is told
//           WM_DISPLAYCHANGE, as when a monitor is added or changed.
// Its page's renderer is a process of its own (this program with
// --type=renderer), and the renderer's end is its crash, as in Chromium.
// Browser.setWindowBounds with windowState "fullscreen" puts the window over
// its monitor; "normal" puts it back.
//
// What it inherited, checked first: the two handles named must be pipes;
// its standard handles must be none; and no other handle value from 4 to
// 65532 may name a pipe, file or character device (what a parent that lets
// its handles be inherited leaks: its own pipes, its report channel, its
// standard output and error). STANDIN_FORBIDDEN_HANDLES may name more
// handle values (decimal, comma-separated) that must not be valid at all.
// One line of the debugger output says "standin: handles: only its two
// pipes" or names each handle found. It ends when the pipe closes.
#include "ChromiumMessages.h"

#include <json/json.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

namespace {

constexpr UINT kFullScreen = WM_APP + 1;
constexpr UINT kNormal = WM_APP + 2;
constexpr UINT kPipeEnded = WM_APP + 3;
constexpr UINT kMoveAway = WM_APP + 4;

void say(const std::string& line) {
    OutputDebugStringA(("standin: " + line + "\n").c_str());
}

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool isValid(HANDLE handle) {
    DWORD flags = 0;
    return handle && handle != INVALID_HANDLE_VALUE && GetHandleInformation(handle, &flags);
}

const char* typeName(DWORD type) {
    switch (type) {
    case FILE_TYPE_PIPE:
        return "pipe";
    case FILE_TYPE_DISK:
        return "file";
    case FILE_TYPE_CHAR:
        return "character device";
    default:
        return "other";
    }
}

std::string checkHandles(HANDLE reads, HANDLE writes) {
    std::string found;
    const auto note = [&found](const std::string& what) {
        found += (found.empty() ? "" : "; ") + what;
    };
    for (HANDLE own : {reads, writes})
        if (!isValid(own) || GetFileType(own) != FILE_TYPE_PIPE)
            note("the named handle " + std::to_string(uintptr_t(own)) + " is no pipe");
    for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE standard = GetStdHandle(which);
        if (isValid(standard))
            note("a standard handle " + std::to_string(uintptr_t(standard)) + " (" +
                 typeName(GetFileType(standard)) + ")");
    }
    for (uintptr_t value = 4; value < 65536; value += 4) {
        HANDLE handle = reinterpret_cast<HANDLE>(value);
        if (handle == reads || handle == writes || !isValid(handle))
            continue;
        const DWORD type = GetFileType(handle);
        // The folder the system opens as every process's current directory
        // is its own, not inherited.
        BY_HANDLE_FILE_INFORMATION file{};
        if (type == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &file) &&
            (file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        if (type == FILE_TYPE_PIPE || type == FILE_TYPE_DISK || type == FILE_TYPE_CHAR)
            note("handle " + std::to_string(value) + " (" + typeName(type) + ")");
    }
    const std::string forbidden = environmentValue("STANDIN_FORBIDDEN_HANDLES");
    for (size_t at = 0; at < forbidden.size();) {
        const size_t comma = forbidden.find(',', at);
        const std::string word = forbidden.substr(at, comma - at);
        const uintptr_t value = std::strtoul(word.c_str(), nullptr, 10);
        if (value && isValid(reinterpret_cast<HANDLE>(value)))
            note("the forbidden handle " + word);
        at = comma == std::string::npos ? forbidden.size() : comma + 1;
    }
    return found.empty() ? "only its two pipes" : found;
}

class Browser {
public:
    Browser(HANDLE writes, std::string script, HWND window)
        : writes_(writes), script_(std::move(script)), window_(window) {}

    void command(const std::string& text) {
        Json::Value c;
        Json::CharReaderBuilder builder;
        const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        std::string errors;
        if (!reader->parse(text.data(), text.data() + text.size(), &c, &errors) || !c.isObject())
            return;
        const std::string method = c["method"].asString();
        const Json::Value& params = c["params"];
        Json::Value empty(Json::objectValue);
        if (method == "Target.setDiscoverTargets") {
            reply(c, empty);
            if (params["discover"].asBool()) {
                Json::Value created(Json::objectValue);
                created["targetInfo"] = target();
                event("Target.targetCreated", created, "");
            }
        } else if (method == "Target.getTargets") {
            Json::Value result(Json::objectValue);
            result["targetInfos"].append(target());
            reply(c, result);
        } else if (method == "Target.attachToTarget") {
            Json::Value result(Json::objectValue);
            result["sessionId"] = "S";
            reply(c, result);
        } else if (method == "Runtime.evaluate") {
            evaluate(c);
        } else if (method == "Page.navigate") {
            navigate(c);
        } else if (method == "Page.crash") {
            say("Page.crash");
            if (hanging_ && script_ != "stuck") {
                hanging_ = false;
                crash();
            }
        } else if (method == "Browser.getWindowForTarget") {
            Json::Value result(Json::objectValue);
            result["windowId"] = 1;
            reply(c, result);
        } else if (method == "Browser.setWindowBounds") {
            const std::string state = params["bounds"]["windowState"].asString();
            say("window state " + state);
            PostMessageA(window_, state == "fullscreen" ? kFullScreen : kNormal, 0, 0);
            reply(c, empty);
        } else {
            reply(c, empty);
        }
    }

    // The page's renderer: a process of its own below the browser (this
    // program again, with --type=renderer), started again whenever it ends;
    // its end is the renderer's crash.
    void startRenderer() {
        char self[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, self, sizeof self);
        std::string line = std::string("\"") + self + "\" --type=renderer";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started{};
        if (!CreateProcessA(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &started))
            return;
        CloseHandle(started.hThread);
        renderer_ = started.hProcess;
        std::thread([this, process = started.hProcess] {
            WaitForSingleObject(process, INFINITE);
            if (ending_)
                return;
            say("the renderer ended");
            hanging_ = false;
            crash();
            startRenderer();
        }).detach();
    }
    void end() {
        ending_ = true;
        if (renderer_)
            TerminateProcess(renderer_, 0);
    }

private:
    Json::Value target() const {
        Json::Value info(Json::objectValue);
        info["targetId"] = "T";
        info["type"] = "page";
        info["url"] = url_;
        info["attached"] = false;
        return info;
    }
    void send(const Json::Value& message) {
        Json::StreamWriterBuilder writer;
        writer["indentation"] = "";
        std::string text = Json::writeString(writer, message);
        text += '\0';
        std::lock_guard<std::mutex> held(lock_);
        DWORD written = 0;
        WriteFile(writes_, text.data(), DWORD(text.size()), &written, nullptr);
    }
    void reply(const Json::Value& command, const Json::Value& result) {
        send(chromium_messages::reply(command, result));
    }
    void event(const std::string& method, const Json::Value& params, const std::string& session) {
        send(chromium_messages::event(method, params, session));
    }
    void crash() {
        say("the renderer crashes");
        event("Inspector.targetCrashed", Json::Value(Json::objectValue), "S");
        Json::Value p(Json::objectValue);
        p["targetId"] = "T";
        p["status"] = "crashed";
        event("Target.targetCrashed", p, "");
    }
    void evaluate(const Json::Value& c) {
        const std::string expression = c["params"]["expression"].asString();
        Json::Value result(Json::objectValue);
        if (expression == "1") {
            if (hanging_)
                return;
            if (loads_ > 0 && !played_ && script_ == "displays" && ++probes_ > 2) {
                played_ = true;
                PostMessageA(window_, kMoveAway, 0, 0);
            }
            if (loads_ > 0 && script_ == "quits" && ++probes_ > 2) {
                say("the browser quits");
                end();
                ExitProcess(3);
            }
            if (loads_ > 0 && !played_ && ++probes_ > 2 &&
                (script_ == "crash" || script_ == "hang" || script_ == "stuck")) {
                played_ = true;
                if (script_ == "crash") {
                    crash();
                } else {
                    say("the page stops answering");
                    hanging_ = true;
                }
                return;
            }
            result["result"]["type"] = "number";
            result["result"]["value"] = 1;
        } else if (expression.find("readyState") != std::string::npos) {
            Json::Value facts(Json::arrayValue);
            facts.append(url_);
            facts.append("complete");
            facts.append(url_ == "about:blank" ? 0 : 200);
            Json::StreamWriterBuilder writer;
            writer["indentation"] = "";
            result["result"]["type"] = "string";
            result["result"]["value"] = Json::writeString(writer, facts);
        } else {
            result["result"]["type"] = "undefined";
        }
        reply(c, result);
    }
    void navigate(const Json::Value& c) {
        ++loads_;
        const std::string url = c["params"]["url"].asString();
        const std::string loader = "L" + std::to_string(loads_);
        say("load " + std::to_string(loads_));
        Json::Value result = chromium_messages::navigation(loader);
        if (script_ == "error" && loads_ == 1) {
            result["errorText"] = "net::ERR_CONNECTION_REFUSED";
            reply(c, result);
            url_ = "chrome-error://chromewebdata/";
            event("Page.frameNavigated", chromium_messages::mainFrameNavigated(loader, url_, url),
                  "S");
            event("Page.loadEventFired", Json::Value(Json::objectValue), "S");
            return;
        }
        event("Network.requestWillBeSent", chromium_messages::documentRequest(loader), "S");
        event("Network.responseReceived", chromium_messages::documentResponse(loader, 200, url),
              "S");
        reply(c, result);
        url_ = url;
        event("Page.frameNavigated", chromium_messages::mainFrameNavigated(loader, url), "S");
        event("Page.loadEventFired", Json::Value(Json::objectValue), "S");
    }

    HANDLE writes_;
    std::string script_;
    HWND window_;
    std::mutex lock_;
    std::string url_ = "about:blank";
    int loads_ = 0, probes_ = 0;
    bool played_ = false;
    std::atomic<bool> hanging_ = false, ending_ = false;
    HANDLE renderer_ = nullptr;
};

RECT normalPlace{};

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
    case kFullScreen: {
        GetWindowRect(window, &normalPlace);
        MONITORINFO info{};
        info.cbSize = sizeof info;
        GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
        const RECT& m = info.rcMonitor;
        SetWindowPos(window, nullptr, m.left, m.top, m.right - m.left, m.bottom - m.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case kNormal:
        SetWindowPos(window, nullptr, normalPlace.left, normalPlace.top,
                     normalPlace.right - normalPlace.left, normalPlace.bottom - normalPlace.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    case kMoveAway:
        // As a display change leaves a window: elsewhere, and every window
        // told that the displays changed.
        SetWindowPos(window, nullptr, 100, 100, 640, 480, SWP_NOZORDER | SWP_NOACTIVATE);
        SendNotifyMessageA(HWND_BROADCAST, WM_DISPLAYCHANGE, 24, MAKELPARAM(1920, 1080));
        say("moved away, the displays changed");
        return 0;
    case kPipeEnded:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, w, l);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const std::string line = GetCommandLineA();
    // A renderer runs until it is ended.
    if (line.find(" --type=renderer") != std::string::npos) {
        Sleep(INFINITE);
        return 0;
    }
    HANDLE reads = nullptr, writes = nullptr;
    const std::string pipes = "--remote-debugging-io-pipes=";
    if (const size_t at = line.find(pipes); at != std::string::npos) {
        char* end = nullptr;
        reads = reinterpret_cast<HANDLE>(std::strtoul(line.c_str() + at + pipes.size(), &end, 10));
        if (*end == ',')
            writes = reinterpret_cast<HANDLE>(std::strtoul(end + 1, nullptr, 10));
    }
    say("handles: " + checkHandles(reads, writes));
    if (!reads || !writes)
        return 2;

    std::string script = environmentValue("STANDIN_SCRIPT");
    if (script.empty())
        script = "plain";
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = CreateSolidBrush(RGB(0x2a, 0x9d, 0x8f));
    windowClass.lpszClassName = "Standin_Browser";
    RegisterClassA(&windowClass);
    const std::string title = "standin-browser " + script;
    HWND window =
        CreateWindowExA(0, windowClass.lpszClassName, title.c_str(), WS_POPUP | WS_VISIBLE, 100,
                        100, 640, 480, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;

    Browser browser(writes, script, window);
    browser.startRenderer();
    std::thread reader([&] {
        std::string partial;
        char buffer[65536];
        DWORD n = 0;
        while (ReadFile(reads, buffer, sizeof buffer, &n, nullptr) && n > 0) {
            partial.append(buffer, n);
            for (size_t end; (end = partial.find('\0')) != std::string::npos;) {
                browser.command(partial.substr(0, end));
                partial.erase(0, end + 1);
            }
        }
        PostMessageA(window, kPipeEnded, 0, 0);
    });
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    say("the pipe closed");
    browser.end();
    // The reader ended with the pipe; the process ends with it.
    reader.detach();
    return 0;
}
