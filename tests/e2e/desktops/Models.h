// The two models of the wall's pages on a desktop, and what tells them
// apart: the browsers that run and the hosts that share one.
#pragma once

#include "WallTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// BROVIA_SHARED=0 (a Chromium per page) or not (the shared browser).
enum class Model { Shared, Own };

// Chromium browser processes (no --type=) below the processes, each once.
inline size_t browsersBelow(const std::vector<pid_t>& tops) {
    std::set<pid_t> found;
    for (pid_t top : tops)
        for (pid_t pid : descendantsOf(top)) {
            // Chromium rewrites its command line into one text with blanks
            // between the words.
            std::vector<std::string> words;
            for (const std::string& part : commandLine(pid)) {
                std::istringstream in(part);
                for (std::string w; in >> w;)
                    words.push_back(w);
            }
            if (!words.empty() && words[0].find("chromium") != std::string::npos &&
                std::none_of(words.begin(), words.end(),
                             [](const std::string& w) { return w.rfind("--type=", 0) == 0; }) &&
                // a browser's copy of itself for a moment at its start
                std::find(found.begin(), found.end(), parentOf(pid)) == found.end())
                found.insert(pid);
        }
    return found.size();
}

// The page browsers' hosts of this user.
inline std::vector<pid_t> hosts() {
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const pid_t pid = std::atoi(entry.path().filename().c_str());
        struct stat owner {};
        if (pid <= 0 || stat(entry.path().c_str(), &owner) != 0 || owner.st_uid != getuid())
            continue; // another user's walls run beside this one
        const std::vector<std::string> words = commandLine(pid);
        if (!words.empty() && words[0] == "brovia-host" && processRunning(pid))
            found.push_back(pid);
    }
    return found;
}

// The model for the page browsers this process starts from now on.
inline void useModel(Model model) {
    if (model == Model::Own)
        setenv("BROVIA_SHARED", "0", 1);
    else
        unsetenv("BROVIA_SHARED");
}

// A page's window title: the page's own in an app window of its own
// Chromium, with Chromium's name after it in a window of the shared browser.
inline bool titledBy(const std::string& windowName, const std::string& pageTitle) {
    return windowName == pageTitle || windowName == pageTitle + " - Chromium";
}

inline const char* modelName(Model model) {
    return model == Model::Own ? "own" : "shared";
}
