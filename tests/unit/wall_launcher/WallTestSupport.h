// Shared pieces of the launcher suites: waiting for child processes and
// reading the recording stand-in's records.
#pragma once

#include "TempDir.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <sys/types.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Polls the condition until it holds or ten seconds have passed; the bound
// only keeps a broken build from hanging.
template <class Condition> bool eventually(Condition condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// True while /proc holds the process, zombie or not: a process that has ended
// and was reaped is gone.
inline bool processExists(pid_t pid) {
    return std::filesystem::exists("/proc/" + std::to_string(pid));
}

// The arguments each recording Brovia wrote, by process id.
inline std::map<pid_t, std::vector<std::string>> readRecords(const std::filesystem::path& dir) {
    std::map<pid_t, std::vector<std::string>> records;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".args")
            continue;
        std::string bytes = TempDir::readFile(entry.path().string());
        std::vector<std::string> argv;
        size_t start = 0;
        for (size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1)
            argv.push_back(bytes.substr(start, end - start));
        records[static_cast<pid_t>(std::stol(entry.path().stem().string()))] = argv;
    }
    return records;
}
