// Process identity: the single-instance lock and the executable's path.
#pragma once

#include <string>

namespace platform {

enum class InstanceLock {
    Acquired,    // this process is the one running copy
    AlreadyHeld, // another copy of this user's session holds it
    Failed,      // the lock could not be taken at all; start-up goes on
};

// Takes the per-user lock of the given name and holds it until the process
// ends. The lock file is $XDG_RUNTIME_DIR/<name>.lock, or /tmp/<name>-<uid>.lock
// when the variable is unset or names a folder that cannot hold the lock
// (missing, not writable). Failed, with one diagnostic line, only when
// neither file can be locked.
InstanceLock acquireInstanceLock(const std::string& name);

// The full path of the running executable; empty when it cannot be read.
std::string executablePath();

} // namespace platform
