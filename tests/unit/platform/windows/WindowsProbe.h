// The probe program (Probe.cpp) of the Windows service suites: where it is,
// how to run it and wait, and its environment for a test.
#pragma once

#include <string>
#include <windows.h>

// The probe beside the test program.
inline std::string probePath() {
    char self[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self);
    return path.substr(0, path.rfind('\\') + 1) + "platform_probe.exe";
}

// Runs the program with no arguments and returns its exit code (-1 when it
// could not start or did not end within 30 s).
inline int runProbe(const std::string& program) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    std::string line = "\"" + program + "\"";
    if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started))
        return -1;
    CloseHandle(started.hThread);
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(started.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(started.hProcess, &code);
    CloseHandle(started.hProcess);
    return static_cast<int>(code);
}

// Sets the variable for the life of the object (started programs inherit
// it), and removes it at its end.
class ProbeEnvironment {
public:
    ProbeEnvironment(std::string name, const std::string& value) : name_(std::move(name)) {
        SetEnvironmentVariableA(name_.c_str(), value.c_str());
    }
    ~ProbeEnvironment() { SetEnvironmentVariableA(name_.c_str(), nullptr); }
    ProbeEnvironment(const ProbeEnvironment&) = delete;
    ProbeEnvironment& operator=(const ProbeEnvironment&) = delete;

private:
    std::string name_;
};
