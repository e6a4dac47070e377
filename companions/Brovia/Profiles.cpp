#include "BrowserLaunch.h"
#include "ChromiumLaunch.h"

#include "platform/Instance.h"
#include "platform/linux/Fd.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kProfilePrefix[] = "brovia-profile-";

// The owner a profile's name gives: brovia-profile-<pid>-<start>-XXXXXX.
bool ownerInName(const char* name, pid_t& pid, unsigned long long& start) {
    const size_t prefix = sizeof kProfilePrefix - 1;
    if (std::strncmp(name, kProfilePrefix, prefix) != 0)
        return false;
    errno = 0;
    char* end = nullptr;
    const long id = std::strtol(name + prefix, &end, 10);
    if (errno != 0 || end == name + prefix || *end != '-' || id <= 0)
        return false;
    const char* after = end + 1;
    start = std::strtoull(after, &end, 10);
    if (errno != 0 || end == after || *end != '-' || std::strlen(end + 1) != 6)
        return false;
    pid = pid_t(id);
    return true;
}

// Whether the process that made a profile still runs: its id names a live
// process (not a zombie) that started when the name says. A later process
// that took the id has another start time.
bool ownerRuns(pid_t pid, unsigned long long start) {
    const std::optional<ProcessStat> stat = processStat(pid);
    return stat && stat->state != 'Z' && stat->state != 'X' && stat->startTime == start;
}

} // namespace

std::optional<ProcessStat> processStat(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    // The command name in brackets may hold spaces and brackets itself: the
    // fields begin after the last closing bracket.
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    ProcessStat stat;
    int parent = 0;
    // state, parent, 17 fields, then the start time since boot (in ticks).
    if (std::sscanf(text.c_str() + close + 1,
                    " %c %d %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s"
                    " %llu",
                    &stat.state, &parent, &stat.startTime) != 3)
        return std::nullopt;
    stat.parent = pid_t(parent);
    return stat;
}

// The name pattern of this process's profiles: the prefix, the process id,
// its start time in ticks and six letters for mkdtemp. Without /proc no
// owner can be told apart, and none is removed.
static std::string profileName() {
    const std::optional<ProcessStat> self = processStat(getpid());
    return kProfilePrefix + std::to_string(getpid()) + "-" +
           std::to_string(self ? self->startTime : 0) + "-XXXXXX";
}

bool leavesRoomForChromium(const std::string& base) {
    // What Chromium puts below a profile at the deepest: its temporary
    // folder (TMPDIR, inside the profile) with the socket that keeps one
    // browser per profile, "tmp/org.chromium.Chromium.XXXXXX/SingletonSocket";
    // a socket's path has room for 107 bytes, and a longer one ends Chromium
    // at its start. The profile's own name is this process's (profileName).
    constexpr size_t kBelowProfile = sizeof "/tmp/org.chromium.Chromium.XXXXXX/SingletonSocket" - 1;
    return base.size() + 1 + profileName().size() + kBelowProfile <= 107;
}

std::vector<std::string> profileBases() {
    const char* tmp = std::getenv("TMPDIR");
    std::vector<std::string> bases;
    for (const std::string& base :
         {platform::privateRuntimeFolder(), std::string(tmp && tmp[0] == '/' ? tmp : ""),
          std::string("/tmp")})
        if (!base.empty() && std::find(bases.begin(), bases.end(), base) == bases.end())
            bases.push_back(base);
    return bases;
}

std::string profileBase() {
    // The user's private folder where its path leaves Chromium room; with a
    // long process id and start time, or its fallback in a long home folder,
    // it may not. Then a profile gets a name no one can guess in a shorter
    // shared folder (mkdtemp).
    for (const std::string& base : profileBases())
        if (leavesRoomForChromium(base))
            return base;
    return "/tmp";
}

int removeProfilesOfEndedOwners() {
    int removed = 0;
    for (const std::string& base : profileBases())
        removed += removeProfilesOfEndedOwners(base);
    return removed;
}

std::string freshProfileFolder(const std::string& base) {
    std::string pattern = base + "/" + profileName();
    if (!mkdtemp(pattern.data()))
        return {};
    for (const char* folder : kProfileFolders)
        if (mkdir((pattern + "/" + folder).c_str(), 0700) != 0) {
            std::error_code ec;
            std::filesystem::remove_all(pattern, ec);
            return {};
        }
    // A wall shows pages unattended (kWallPreferences).
    const std::string preferences = kWallPreferences;
    const platform::UniqueFd fd(open((pattern + "/Default/Preferences").c_str(),
                                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid() || !platform::writeAll(fd.get(), preferences.data(), preferences.size())) {
        std::error_code ec;
        std::filesystem::remove_all(pattern, ec);
        return {};
    }
    return pattern;
}

int removeProfilesOfEndedOwners(const std::string& base) {
    DIR* folder = processStat(getpid()) ? opendir(base.c_str()) : nullptr;
    if (!folder)
        return 0;
    int removed = 0;
    while (const dirent* entry = readdir(folder)) {
        pid_t pid = 0;
        unsigned long long start = 0;
        struct stat st {};
        if (!ownerInName(entry->d_name, pid, start) ||
            fstatat(dirfd(folder), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISDIR(st.st_mode) || st.st_uid != geteuid() || ownerRuns(pid, start))
            continue;
        // remove_all takes a link inside as a link: nothing outside the
        // profile is touched.
        std::error_code ec;
        if (std::filesystem::remove_all(base + "/" + entry->d_name, ec) > 0)
            ++removed;
    }
    closedir(folder);
    return removed;
}

std::vector<std::string> chromiumEnvironment(const std::string& profile,
                                             const char* const* environment) {
    bool home = false, dumps = false;
    for (const char* const* entry = environment; entry && *entry; ++entry) {
        home = home || (std::strncmp(*entry, "HOME=", 5) == 0 && (*entry)[5] != '\0');
        dumps = dumps ||
                (std::strncmp(*entry, "BREAKPAD_DUMP_LOCATION=", 23) == 0 && (*entry)[23] != '\0');
    }
    std::map<std::string, std::string> own = {{"TMPDIR", profile + "/tmp"}};
    if (!dumps)
        own["BREAKPAD_DUMP_LOCATION"] = profile + "/crash";
    if (!home) {
        own["HOME"] = profile + "/home";
        own["XDG_CONFIG_HOME"] = profile + "/home/.config";
        own["XDG_CACHE_HOME"] = profile + "/home/.cache";
    }
    std::vector<std::string> result;
    for (const char* const* entry = environment; entry && *entry; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (!equals || !own.count(std::string(*entry, size_t(equals - *entry))))
            result.push_back(*entry);
    }
    for (const auto& [name, value] : own)
        result.push_back(name + "=" + value);
    return result;
}
