// The page browsers' report pipes on Windows: each read end (a handle value,
// as platform::spawnProcess gives it) is read on a thread of its own.
#pragma once

#include <functional>
#include <string>

namespace platform {

// Reads the pipe until its writers have all ended, on a thread of its own:
// `bytes` for what comes, then `ended` once; both on that thread. The handle
// is closed then. False, with the handle closed, when no thread can be made.
bool readPipeUntilEnd(int readEnd, std::function<void(std::string bytes)> bytes,
                      std::function<void()> ended);

} // namespace platform
