// Process identity: the single-instance lock and the executable's path.
#pragma once

#include <string>

namespace platform {

enum class InstanceLock {
    Acquired,    // this process is the one running copy
    AlreadyHeld, // another copy of this user's session holds it
    Failed,      // the lock could not be taken at all; start-up goes on
};

// The folder that holds this user's lock and sockets: $XDG_RUNTIME_DIR when
// it is set and not empty, else privateRuntimeFolder().
std::string userRuntimeFolder();

// A folder of this user's own for the lock and the sockets where the session
// has no runtime folder: /tmp/panoview-<uid>, or, when that name is taken by
// something that is not a private folder of this user (another user may
// create it first), $XDG_CACHE_HOME/panoview-run (~/.cache/panoview-run).
// Each is created with mode 0700 and used only when lstat shows a folder
// (not a link) owned by this user that no other user can enter or write;
// group or other bits on a folder of this user's are taken away. Empty, with
// one diagnostic line, when neither can be had.
std::string privateRuntimeFolder();

// Takes the per-user lock of the given name and holds it until the process
// ends. The lock file is <name>.lock in $XDG_RUNTIME_DIR, or in the private
// runtime folder when the variable is unset or names a folder that cannot
// hold the lock (missing, not writable). Failed, with one diagnostic line,
// only when neither file can be locked.
InstanceLock acquireInstanceLock(const std::string& name);

// The full path of the running executable; empty when it cannot be read.
std::string executablePath();

} // namespace platform
