// Calls queued into the UI thread: a worker hands a call to the thread that
// owns the windows, which runs it from its message loop (PostMessageA to a
// message-only window of that thread).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>

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

    // Runs the call once on the UI thread after the delay (a timer of the
    // queue's window); dropped unrun when the UiThread goes first.
    void after(std::chrono::milliseconds delay, std::function<void()> call);

    // The timer's due call, taken out (the window's procedure runs it).
    std::function<void()> takeDue(uintptr_t id);

private:
    void* window_ = nullptr; // HWND
    uintptr_t nextTimer_ = 1;
    std::map<uintptr_t, std::function<void()>> due_;
};

} // namespace win32
