// Runs the page browser Brovia (BROVIA_PROGRAM) with the given arguments and
// no display, and returns its exit status (-1 when a signal ended it). A
// Brovia that wrongly accepted its words then fails with another status than
// its usage status 2.
#pragma once

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

inline int runBroviaWithoutDisplay(std::vector<std::string> args) {
    std::vector<char*> argv{const_cast<char*>(BROVIA_PROGRAM)};
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        unsetenv("DISPLAY");
        setenv("BROVIA_NO_CHROMIUM", "1", 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
