// Worker threads: short-lived, detached, never joined.
#pragma once

#include <functional>

namespace platform {

// Runs the work on a new detached thread. False when the system cannot
// create a thread; the work is then not run.
bool startDetachedThread(std::function<void()> work);

} // namespace platform
