// The Chromium renderer processes below a process (a Brovia, its Chromium,
// the zygotes), read from /proc: what a test or benchmark kills to crash
// one page and no other.
#pragma once

#include "XWall.h"

#include <cstdlib>
#include <dirent.h>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace e2e {

inline std::vector<pid_t> renderersBelow(pid_t top) {
    std::vector<std::pair<pid_t, pid_t>> parents; // (pid, parent)
    DIR* proc = opendir("/proc");
    while (dirent* e = proc ? readdir(proc) : nullptr) {
        const pid_t pid = std::atoi(e->d_name);
        const std::string stat =
            pid > 0 ? readFile("/proc/" + std::string(e->d_name) + "/stat") : "";
        const size_t close = stat.rfind(')');
        if (close != std::string::npos)
            parents.emplace_back(pid, std::atoi(stat.c_str() + close + 4));
    }
    if (proc)
        closedir(proc);
    std::vector<pid_t> below = {top}, renderers;
    for (size_t i = 0; i < below.size(); ++i)
        for (auto [pid, parent] : parents)
            if (parent == below[i]) {
                below.push_back(pid);
                if (readFile("/proc/" + std::to_string(pid) + "/cmdline").find("--type=renderer") !=
                    std::string::npos)
                    renderers.push_back(pid);
            }
    return renderers;
}

} // namespace e2e
