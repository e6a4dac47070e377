// A small Windows program the service suites start: copied into a test's
// folder as Brovia.exe, or run as it is. What it does is set in its
// environment, which a started program inherits:
//   PANOVIEW_PROBE_OUT=FILE   writes its command line and its start-up
//                             information to FILE (one "name=value" a line)
//   PANOVIEW_PROBE_WAIT=1     then waits (up to 60 s) until it is ended
//   PANOVIEW_PROBE_LOCK=NAME  ends with the instance lock's outcome for NAME
//                             (0 Acquired, 1 AlreadyHeld, 2 Failed)
//   PANOVIEW_PROBE_REPORT=T   writes the line T and a line feed to the pipe
//                             handle BROVIA_REPORT_FD names, as a page
//                             browser reports its page
#include "platform/Instance.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <windows.h>

int main() {
    if (const char* lock = std::getenv("PANOVIEW_PROBE_LOCK"))
        return static_cast<int>(platform::acquireInstanceLock(lock));
    if (const char* out = std::getenv("PANOVIEW_PROBE_OUT")) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        GetStartupInfoA(&startup);
        if (std::FILE* file = std::fopen(out, "wb")) {
            std::fprintf(file, "commandLine=%s\n", GetCommandLineA());
            std::fprintf(file, "title=%s\n", startup.lpTitle ? startup.lpTitle : "(none)");
            std::fprintf(file, "x=%lu\ny=%lu\nwidth=%lu\nheight=%lu\nflags=%lu\nshow=%u\n",
                         startup.dwX, startup.dwY, startup.dwXSize, startup.dwYSize,
                         startup.dwFlags, static_cast<unsigned>(startup.wShowWindow));
            std::fclose(file);
        }
    }
    if (const char* line = std::getenv("PANOVIEW_PROBE_REPORT")) {
        const char* named = std::getenv("BROVIA_REPORT_FD");
        HANDLE pipe = named ? reinterpret_cast<HANDLE>(std::strtoul(named, nullptr, 10)) : nullptr;
        const std::string text = std::string(line) + "\n";
        DWORD written = 0;
        if (!pipe || !WriteFile(pipe, text.data(), DWORD(text.size()), &written, nullptr))
            return 3;
    }
    if (std::getenv("PANOVIEW_PROBE_WAIT"))
        Sleep(60000);
    return 0;
}
