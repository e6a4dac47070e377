#include "platform/win32/UiThread.h"

#include "common/DebugPrint.h"

#include <algorithm>
#include <memory>
#include <windows.h>

namespace win32 {

namespace {

constexpr UINT kQueuedCall = WM_APP + 1;
constexpr const char* kWindowClass = "Panoview_UiThread";

using Call = std::function<void()>;

void run(const Call& call) {
    try {
        call();
    } catch (const std::exception& error) {
        DebugPrint("win32::UiThread: a queued call failed: %s\n", error.what());
    } catch (...) {
        DebugPrint("win32::UiThread: a queued call failed\n");
    }
}

LRESULT CALLBACK queueProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_TIMER) {
        KillTimer(window, w);
        auto* thread = reinterpret_cast<UiThread*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (Call call = thread ? thread->takeDue(w) : Call())
            run(call);
        return 0;
    }
    if (message != kQueuedCall)
        return DefWindowProcA(window, message, w, l);
    std::unique_ptr<Call> call(reinterpret_cast<Call*>(l));
    run(*call);
    return 0;
}

} // namespace

UiThread::UiThread() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = queueProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass); // a second UiThread finds the class registered
    window_ = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    if (!window_)
        DebugPrint("win32::UiThread: no window for queued calls, error %lu\n", GetLastError());
    else
        SetWindowLongPtrA(static_cast<HWND>(window_), GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(this));
}

UiThread::~UiThread() {
    if (!window_)
        return;
    HWND window = static_cast<HWND>(window_);
    window_ = nullptr;
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    for (const auto& [id, call] : due_)
        KillTimer(window, id);
    // The calls still queued are taken out and freed unrun.
    MSG message;
    while (PeekMessageA(&message, window, kQueuedCall, kQueuedCall, PM_REMOVE))
        delete reinterpret_cast<Call*>(message.lParam);
    DestroyWindow(window);
}

void UiThread::post(std::function<void()> call) {
    auto* queued = new Call(std::move(call));
    if (!window_ || !PostMessageA(static_cast<HWND>(window_), kQueuedCall, 0,
                                  reinterpret_cast<LPARAM>(queued))) {
        DebugPrint("win32::UiThread: a call could not be queued, error %lu\n", GetLastError());
        delete queued;
    }
}

} // namespace win32

namespace win32 {

void UiThread::after(std::chrono::milliseconds delay, std::function<void()> call) {
    const uintptr_t id = nextTimer_++;
    const auto ms = static_cast<UINT>(std::max<int64_t>(delay.count(), USER_TIMER_MINIMUM));
    if (!window_ || !SetTimer(static_cast<HWND>(window_), id, ms, nullptr)) {
        DebugPrint("win32::UiThread: no timer for a call, error %lu\n", GetLastError());
        return;
    }
    due_[id] = std::move(call);
}

std::function<void()> UiThread::takeDue(uintptr_t id) {
    const auto it = due_.find(id);
    if (it == due_.end())
        return {};
    std::function<void()> call = std::move(it->second);
    due_.erase(it);
    return call;
}

} // namespace win32
