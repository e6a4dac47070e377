// The instance rule with the session's named mutex, the executable's path
// with GetModuleFileNameA, and the user's own folder for what the program
// keeps per user.
#include "platform/Instance.h"

#include "common/DebugPrint.h"

#include <shlobj.h>
#include <windows.h>

namespace platform {

// The user's local application data folder (which only the user and the
// system may enter) with a folder of Panoview's own in it; empty, with one
// diagnostic line, when it cannot be had.
std::string privateRuntimeFolder() {
    char base[MAX_PATH + 1] = {};
    const HRESULT found =
        SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, base);
    if (FAILED(found) || !*base) {
        DebugPrint("privateRuntimeFolder: no local application data folder (0x%08lx)\n",
                   static_cast<unsigned long>(found));
        return {};
    }
    const std::string folder = std::string(base) + "\\Panoview";
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        DebugPrint("privateRuntimeFolder: cannot make %s, GetLastError.%lu\n", folder.c_str(),
                   GetLastError());
        return {};
    }
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        DebugPrint("privateRuntimeFolder: %s is not a folder of the user's own\n", folder.c_str());
        return {};
    }
    return folder;
}

std::string userRuntimeFolder() {
    return privateRuntimeFolder();
}

// CreateMutexA with no security attributes (so no child inherits it),
// owned by this process, under the name as given: without a namespace
// prefix it lies in the session's own namespace. The handle is never
// closed; the system releases the mutex when the process ends, however it
// ends.
InstanceLock acquireInstanceLock(const std::string& name) {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
    const DWORD error = GetLastError();
    if (mutex && error == ERROR_ALREADY_EXISTS) {
        // Another copy holds it; this handle is not the lock.
        CloseHandle(mutex);
        return InstanceLock::AlreadyHeld;
    }
    if (!mutex) {
        DebugPrint("acquireInstanceLock: CreateMutexA(%s), GetLastError.%lu, starting without "
                   "one\n",
                   name.c_str(), error);
        return InstanceLock::Failed;
    }
    return InstanceLock::Acquired;
}

// GetModuleFileNameA into a buffer that grows until the path fits: a path
// cut at the buffer's end would name another folder.
std::string executablePath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return {};
        if (n < path.size() && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            path.resize(n);
            return path;
        }
        if (path.size() >= 32768)
            return {};
        path.resize(path.size() * 2);
    }
}

} // namespace platform
