// Shared pieces of the launcher suites: waiting for child processes and
// reading the recording stand-in's records.
#pragma once

#include "TempDir.h"
#include "platform/Process.h"
#include "platform/Threads.h"
#include "wall/Launcher.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Polls the condition until it holds or the bound has passed; the bound only
// keeps a broken build from hanging.
template <class Condition>
bool eventually(Condition condition, std::chrono::seconds bound = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + bound;
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

// A file of /proc/<pid>, read with plain reads: the process may end while it
// is read (a stream would throw then); empty when it is gone.
inline std::string readProcFile(pid_t pid, const char* name) {
    std::string text;
    int fd = open(("/proc/" + std::to_string(pid) + "/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return text;
}

// The process's state letter from /proc/<pid>/stat ('Z' for a zombie), or 0
// when the process is gone.
inline char processState(pid_t pid) {
    std::string stat = readProcFile(pid, "stat");
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : 0;
}

// True while the process runs: present and not a zombie.
inline bool processRunning(pid_t pid) {
    char state = processState(pid);
    return state != 0 && state != 'Z';
}

inline pid_t parentOf(pid_t pid) {
    std::string stat = readProcFile(pid, "stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 4 >= stat.size())
        return 0;
    return static_cast<pid_t>(std::atol(stat.c_str() + close + 4));
}

// Every process below `ancestor` in the process tree, as it is now.
inline std::vector<pid_t> descendantsOf(pid_t ancestor) {
    std::map<pid_t, pid_t> parents;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") == std::string::npos)
            parents[std::stoi(name)] = parentOf(std::stoi(name));
    }
    std::vector<pid_t> found{ancestor};
    for (size_t i = 0; i < found.size(); ++i)
        for (const auto& [pid, parent] : parents)
            if (parent == found[i])
                found.push_back(pid);
    found.erase(found.begin());
    return found;
}

// Words that each end in a NUL byte, as /proc/<pid>/cmdline and the
// recording stand-in write them.
inline std::vector<std::string> splitAtNul(const std::string& bytes) {
    std::vector<std::string> words;
    size_t start = 0;
    for (size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1)
        words.push_back(bytes.substr(start, end - start));
    return words;
}

// The process's arguments.
inline std::vector<std::string> commandLine(pid_t pid) {
    return splitAtNul(readProcFile(pid, "cmdline"));
}

// Whether a page address on a Brovia's command line is the one it was given:
// Brovia writes '*' over the session token's bytes once it has read them, so
// that no other user reads the token there; before that moment the token
// shows as given.
inline bool sameAddressButForHiddenToken(const std::string& shown, const std::string& given) {
    const size_t at = given.find("token=");
    if (at == std::string::npos || shown.size() != given.size())
        return shown == given;
    const size_t from = at + 6;
    const size_t to = std::min(given.find('&', from), given.size());
    const std::string token = shown.substr(from, to - from);
    return shown.compare(0, from, given, 0, from) == 0 &&
           shown.compare(to, std::string::npos, given, to, std::string::npos) == 0 &&
           (token == given.substr(from, to - from) ||
            token.find_first_not_of('*') == std::string::npos);
}

// The rectangle a Brovia was started with, from its arguments ("Brovia /left
// L /top T /bottom B /right R ..."); none when they are too few (the process
// has ended, or it is no Brovia).
inline std::optional<Rect> broviaRectangle(const std::vector<std::string>& words) {
    if (words.size() < 9)
        return std::nullopt;
    return Rect{std::atoi(words[2].c_str()), std::atoi(words[4].c_str()),
                std::atoi(words[8].c_str()), std::atoi(words[6].c_str())};
}

// The arguments each recording Brovia wrote, by process id.
inline std::map<pid_t, std::vector<std::string>> readRecords(const std::filesystem::path& dir) {
    std::map<pid_t, std::vector<std::string>> records;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".args")
            continue;
        records[static_cast<pid_t>(std::stol(entry.path().stem().string()))] =
            splitAtNul(TempDir::readFile(entry.path().string()));
    }
    return records;
}

// The launcher's real process services, as the program gives them, finding
// the page browser first in `programFolder`; no hooks.
inline LauncherServices processLauncherServices(const std::string& programFolder) {
    LauncherServices services;
    services.programFolder = programFolder;
    services.spawn = platform::spawnProcess;
    services.killByName = platform::killProcessesByFileName;
    services.startThread = platform::startDetachedThread;
    return services;
}
