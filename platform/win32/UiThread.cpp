#include "platform/win32/UiThread.h"

#include "common/DebugPrint.h"

#include <memory>
#include <windows.h>

namespace win32 {

namespace {

constexpr UINT kQueuedCall = WM_APP + 1;
constexpr const char* kWindowClass = "Panoview_UiThread";

using Call = std::function<void()>;

LRESULT CALLBACK queueProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message != kQueuedCall)
        return DefWindowProcA(window, message, w, l);
    std::unique_ptr<Call> call(reinterpret_cast<Call*>(l));
    try {
        (*call)();
    } catch (const std::exception& error) {
        DebugPrint("win32::UiThread: a queued call failed: %s\n", error.what());
    } catch (...) {
        DebugPrint("win32::UiThread: a queued call failed\n");
    }
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
}

UiThread::~UiThread() {
    if (!window_)
        return;
    HWND window = static_cast<HWND>(window_);
    window_ = nullptr;
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
