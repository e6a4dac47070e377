// Worker threads with the runtime library's _beginthread: detached (the
// runtime closes the thread's handle when it ends), never joined.
#include "platform/Threads.h"

#include <cstdint>
#include <memory>
#include <new>
#include <process.h>

namespace platform {
namespace {

// An exception that escapes the work ends the process, as with std::thread.
void __cdecl runWork(void* argument) noexcept {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(argument));
    (*work)();
}

} // namespace

bool startDetachedThread(std::function<void()> work) {
    auto* owned = new (std::nothrow) std::function<void()>(std::move(work));
    if (!owned)
        return false;
    if (_beginthread(runWork, 0, owned) == static_cast<uintptr_t>(-1)) {
        delete owned;
        return false;
    }
    return true;
}

} // namespace platform
