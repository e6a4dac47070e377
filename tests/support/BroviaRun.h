// Runs the page browser Brovia (BROVIA_PROGRAM) as a child and returns its
// exit status (-1 when a signal ended it).
#pragma once

#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// prepare() runs in the child before Brovia starts (environment, standard
// descriptors). The wall's stop in another suite on this machine ends every
// Brovia of the user with SIGKILL; a run ended so is run again, at most three
// times.
template <typename Prepare> int runBrovia(std::vector<std::string> args, Prepare prepare) {
    std::vector<char*> argv{const_cast<char*>(BROVIA_PROGRAM)};
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int status = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        pid_t pid = fork();
        if (pid == 0) {
            prepare();
            execv(argv[0], argv.data());
            _exit(127);
        }
        waitpid(pid, &status, 0);
        if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL)
            break;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Brovia without a display: one that wrongly accepted its words then fails
// with another status than its usage status 2.
inline int runBroviaWithoutDisplay(std::vector<std::string> args) {
    return runBrovia(std::move(args), [] {
        unsetenv("DISPLAY");
        setenv("BROVIA_NO_CHROMIUM", "1", 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    });
}
