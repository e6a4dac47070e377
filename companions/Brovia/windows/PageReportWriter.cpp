#include "PageReportWriter.h"

#include <charconv>
#include <cstring>
#include <string>
#include <windows.h>

namespace {
// The variable Panoview names the report pipe with on both platforms
// (kPageReportVariable): a descriptor number on Linux, a handle value here.
constexpr const char* kReportVariable = "BROVIA_REPORT_FD";
} // namespace

uintptr_t reportHandleNamed(const char* value) {
    if (!value || !*value)
        return 0;
    uintptr_t handle = 0;
    const char* end = value + std::strlen(value);
    const auto [at, error] = std::from_chars(value, end, handle);
    if (error != std::errc() || at != end)
        return 0;
    return handle;
}

PageReportWriter PageReportWriter::fromEnvironment() {
    char value[32] = {};
    const DWORD n = GetEnvironmentVariableA(kReportVariable, value, sizeof value);
    uintptr_t handle = n > 0 && n < sizeof value ? reportHandleNamed(value) : 0;
    SetEnvironmentVariableA(kReportVariable, nullptr);
    // Only a pipe is written to: a stale number must not write into a file
    // or console of this process.
    if (n > 0 && (!handle || GetFileType(reinterpret_cast<HANDLE>(handle)) != FILE_TYPE_PIPE)) {
        const std::string line =
            std::string("Brovia: ") + kReportVariable + "=" + value + " names no pipe\n";
        OutputDebugStringA(line.c_str());
        handle = 0;
    }
    if (handle)
        SetHandleInformation(reinterpret_cast<HANDLE>(handle), HANDLE_FLAG_INHERIT, 0);
    return PageReportWriter(handle);
}

bool PageReportWriter::reportLine(const std::string& line) {
    if (!handle_)
        return false;
    DWORD written = 0;
    return WriteFile(reinterpret_cast<HANDLE>(handle_), line.data(), DWORD(line.size()), &written,
                     nullptr) &&
           written == line.size();
}
