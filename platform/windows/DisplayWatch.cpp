// The monitors and work areas watched on Windows: a hidden top-level window
// on a thread of its own gets the broadcasts the system sends every
// top-level window, WM_DISPLAYCHANGE (a monitor added, removed or resized)
// and WM_SETTINGCHANGE with SPI_SETWORKAREA (a taskbar or panel moved or
// sized). A message-only window would get neither.
#include "platform/DisplayWatch.h"

#include "common/DebugPrint.h"

#include <atomic>
#include <thread>
#include <windows.h>

namespace platform {
namespace {

constexpr const char* kWindowClass = "Panoview_DisplayWatch";

LRESULT CALLBACK watchProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* changed =
        reinterpret_cast<std::function<void()>*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (changed &&
        (message == WM_DISPLAYCHANGE || (message == WM_SETTINGCHANGE && w == SPI_SETWORKAREA))) {
        (*changed)();
        return 0;
    }
    return DefWindowProcA(window, message, w, l);
}

class WindowsDisplayWatch : public DisplayWatch {
public:
    explicit WindowsDisplayWatch(std::function<void()> changed) : changed_(std::move(changed)) {}
    ~WindowsDisplayWatch() override {
        if (thread_.joinable()) {
            PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
            thread_.join();
        }
    }
    bool start() {
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!ready)
            return false;
        thread_ = std::thread([this, ready] { run(ready); });
        WaitForSingleObject(ready, INFINITE);
        CloseHandle(ready);
        return window_ != nullptr;
    }

private:
    void run(HANDLE ready) {
        threadId_ = GetCurrentThreadId();
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = watchProcedure;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kWindowClass;
        RegisterClassA(&windowClass);
        window_ = CreateWindowExA(WS_EX_TOOLWINDOW, kWindowClass, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
        if (window_)
            SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&changed_));
        SetEvent(ready);
        if (!window_)
            return;
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0)
            DispatchMessageA(&message);
        DestroyWindow(window_);
    }

    std::function<void()> changed_;
    std::thread thread_;
    std::atomic<DWORD> threadId_{0};
    HWND window_ = nullptr;
};

} // namespace

std::unique_ptr<DisplayWatch> DisplayWatch::start(std::function<void()> changed) {
    auto watch = std::make_unique<WindowsDisplayWatch>(std::move(changed));
    if (!watch->start()) {
        DebugPrint("DisplayWatch: no window to watch the monitors, error %lu\n", GetLastError());
        return nullptr;
    }
    return watch;
}

} // namespace platform
