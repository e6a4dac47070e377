// Calls queued into the UI thread: a worker hands a call to the thread that
// owns the windows, which runs it from its message loop (PostMessageA to a
// message-only window of that thread).
#pragma once

#include <functional>

namespace win32 {

class UiThread {
public:
    // Made on the UI thread, whose message loop then runs the queued calls.
    UiThread();
    // Calls still queued are dropped unrun.
    ~UiThread();
    UiThread(const UiThread&) = delete;
    UiThread& operator=(const UiThread&) = delete;

    // Queues the call; callable from any thread. A call that cannot be queued
    // (the window is gone, the queue is full) is dropped with one diagnostic
    // line.
    void post(std::function<void()> call);

private:
    void* window_ = nullptr; // HWND
};

} // namespace win32
