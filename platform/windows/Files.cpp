// Files read whole with CreateFileW and ReadFile, and the durable
// replacement: the new content goes to a temporary file beside the old one,
// is flushed with FlushFileBuffers and takes the old file's place with
// MoveFileExW(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). Error
// numbers are the system's error codes (GetLastError).
//
// Windows has no unnamed files: the temporary has its name from the start,
// and one that a killed process left is removed by the next replacement in
// that folder.
#include "platform/Files.h"

#include "common/Utf8.h"
#include "platform/windows/Wide.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <random>

namespace platform {
namespace {

HANDLE handleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

int lastError() {
    const DWORD error = GetLastError();
    return error != 0 ? static_cast<int>(error) : ERROR_GEN_FAILURE;
}

std::wstring wideTemporaryPrefix(const std::wstring& name) {
    return utf8::toWide(replaceTemporaryPrefix(utf8::fromWide(name)));
}

// Where a path finally leads: a symbolic link (a reparse point) is opened,
// which follows it, and the opened file's final path is the target.
bool finalTarget(const std::wstring& path, std::wstring& target, int& error) {
    target = path;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return true;
    HANDLE file =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = lastError();
        return false;
    }
    std::wstring final(32768, L'\0');
    const DWORD n = GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()),
                                              FILE_NAME_NORMALIZED);
    if (n == 0 || n >= final.size())
        error = lastError();
    CloseHandle(file);
    if (n == 0 || n >= final.size())
        return false;
    final.resize(n);
    target = final;
    return true;
}

bool processIsGone(DWORD pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process)
        return GetLastError() == ERROR_INVALID_PARAMETER;
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

// Removes the temporaries of replacements whose process has ended.
void removeStaleTemporaries(const std::wstring& folder, const std::wstring& name) {
    const std::wstring prefix = wideTemporaryPrefix(name);
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(win::joined(folder, prefix + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring entry = found.cFileName;
        if (entry.compare(0, prefix.size(), prefix) != 0)
            continue;
        wchar_t* end = nullptr;
        const unsigned long pid = std::wcstoul(entry.c_str() + prefix.size(), &end, 10);
        if (pid == 0 || *end != L'-' || pid == GetCurrentProcessId())
            continue;
        if (processIsGone(static_cast<DWORD>(pid)))
            DeleteFileW(win::joined(folder, entry).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::wstring temporaryName(const std::wstring& name) {
    static thread_local std::mt19937 random{std::random_device{}()};
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring suffix;
    for (int i = 0; i < 8; ++i)
        suffix += digits[random() & 15];
    return wideTemporaryPrefix(name) + std::to_wstring(GetCurrentProcessId()) + L"-" + suffix;
}

} // namespace

char folderSeparator() {
    return '\\';
}

std::string_view folderSeparators() {
    return "\\/";
}

FileRead readRegularFile(const std::string& path, size_t maxBytes, std::string& bytes, int& error) {
    error = 0;
    bytes.clear();
    const std::wstring wide = win::wideFromAnsi(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = lastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_INVALID_NAME || error == ERROR_BAD_NETPATH)
            return FileRead::Missing;
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return FileRead::NotRegular;
    }
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = lastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? FileRead::Missing
                   : FileRead::Unreadable;
    }
    struct Closer {
        HANDLE h;
        ~Closer() { CloseHandle(h); }
    } closer{file};
    // A device (CON, NUL, a serial port) or a pipe is never read.
    if (GetFileType(file) != FILE_TYPE_DISK)
        return FileRead::NotRegular;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        error = lastError();
        return FileRead::Unreadable;
    }
    if (static_cast<uint64_t>(size.QuadPart) > maxBytes)
        return FileRead::TooLarge;
    // The size is a hint: a file that grows while it is read is still cut off
    // at the limit.
    bytes.resize(static_cast<size_t>(size.QuadPart) + 1);
    size_t have = 0;
    for (;;) {
        if (have == bytes.size()) {
            if (have > maxBytes) {
                bytes.clear();
                return FileRead::TooLarge;
            }
            bytes.resize(std::min(maxBytes + 1, have * 2 + 4096));
        }
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(bytes.size() - have, 1 << 20));
        DWORD got = 0;
        if (!ReadFile(file, bytes.data() + have, ask, &got, nullptr)) {
            error = lastError();
            bytes.clear();
            return FileRead::Unreadable;
        }
        if (got == 0)
            break;
        have += got;
    }
    if (have > maxBytes) {
        bytes.clear();
        return FileRead::TooLarge;
    }
    bytes.resize(have);
    return FileRead::Read;
}

// name_ holds the replaced file's full path and temporary_ the temporary's,
// both as UTF-8 of their wide form; file_ is the temporary's descriptor.
FileReplacement::~FileReplacement() {
    if (file_ >= 0)
        _close(file_);
    if (!temporary_.empty())
        DeleteFileW(utf8::toWide(temporary_).c_str());
}

bool FileReplacement::open(const std::string& path, int& error, LinkAtPath links) {
    std::wstring target = win::wideFromAnsi(path);
    if (target.empty()) {
        error = ERROR_INVALID_NAME;
        return false;
    }
    if (links == LinkAtPath::Follow && !finalTarget(target, target, error))
        return false;
    const std::wstring folder = win::folderOf(target);
    const std::wstring name = win::nameOf(target);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = attributes == INVALID_FILE_ATTRIBUTES ? lastError() : ERROR_DIRECTORY;
        return false;
    }
    name_ = utf8::fromWide(target);
    removeStaleTemporaries(folder, name);
    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 8 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = win::joined(folder, temporaryName(name));
        file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
            GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        error = lastError();
        return false;
    }
    file_ = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (file_ < 0) {
        error = ERROR_TOO_MANY_OPEN_FILES;
        CloseHandle(file);
        DeleteFileW(temporary.c_str());
        return false;
    }
    temporary_ = utf8::fromWide(temporary);
    return true;
}

bool FileReplacement::write(const void* data, size_t size, int& error) {
    constexpr size_t kPiece = 64 * 1024;
    const char* bytes = static_cast<const char*>(data);
    if (failure_ == 0 && file_ < 0)
        failure_ = ERROR_INVALID_HANDLE;
    while (failure_ == 0 && size > 0) {
        const DWORD piece = static_cast<DWORD>(std::min(size, kPiece));
        DWORD done = 0;
        if (!WriteFile(handleOf(file_), bytes, piece, &done, nullptr) || done == 0) {
            failure_ = lastError();
            break;
        }
        bytes += done;
        size -= done;
        written_ += done;
        if (written_ - handedOver_ >= writeBackStretch)
            writeBack();
    }
    error = failure_;
    return failure_ == 0;
}

// Windows has no write-back without waiting: each stretch is flushed whole
// before the next is written, so that the dirty pages of a large file stay
// bounded and the commit's flush has little left to do.
void FileReplacement::writeBack() {
    if (!writeBack_)
        return;
    if (!FlushFileBuffers(handleOf(file_))) {
        failure_ = lastError();
        return;
    }
    previousStart_ = handedOver_;
    settled_ = handedOver_ = written_;
}

bool FileReplacement::commit(int& error) {
    if (failure_ != 0 || file_ < 0) {
        error = failure_ != 0 ? failure_ : ERROR_INVALID_HANDLE;
        return false;
    }
    if (!FlushFileBuffers(handleOf(file_))) {
        error = failure_ = lastError();
        return false;
    }
    // Closed before the move, which a handle without delete sharing would
    // refuse; the destructor removes the temporary if the move fails.
    _close(file_);
    file_ = -1;
    if (!MoveFileExW(utf8::toWide(temporary_).c_str(), utf8::toWide(name_).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = failure_ = lastError();
        return false;
    }
    temporary_.clear();
    return true;
}

} // namespace platform
