#include "platform/Threads.h"

#include <system_error>
#include <thread>

namespace platform {

bool startDetachedThread(std::function<void()> work) {
    try {
        std::thread(std::move(work)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

} // namespace platform
