// Start-up cost of panoview: time from exec to the last display line on
// standard error, and resident memory after two idle seconds; the median of
// N runs. Run it under a wall: scripts/xwall start, then
//   DISPLAY=:N build/bin/startup_bench build/bin/panoview 3 [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

template <typename T> T median(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: startup_bench PANOVIEW DISPLAY_LINES [RUNS]\n");
        return 2;
    }
    const std::string program = argv[1];
    const int lines = std::atoi(argv[2]);
    const int runs = argc > 3 ? std::atoi(argv[3]) : 20;
    char runDir[] = "/tmp/startup-bench-XXXXXX";
    if (!mkdtemp(runDir))
        return 1;
    setenv("XDG_RUNTIME_DIR", runDir, 1);

    std::vector<double> millis;
    std::vector<long> rss;
    for (int run = 0; run < runs; ++run) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            return 1;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        char* args[] = {const_cast<char*>(program.c_str()), nullptr};
        auto start = std::chrono::steady_clock::now();
        pid_t pid;
        if (posix_spawn(&pid, program.c_str(), &actions, nullptr, args, environ) != 0)
            return 1;
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[1]);

        std::string text;
        int seen = 0;
        while (seen < lines) {
            pollfd p{pipeFds[0], POLLIN, 0};
            if (poll(&p, 1, 10000) <= 0)
                break;
            char buffer[4096];
            ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            text.append(buffer, static_cast<size_t>(n));
            seen = 0;
            for (size_t at = 0; (at = text.find("MonitorEnumProc1:", at)) != std::string::npos;
                 ++at)
                ++seen;
        }
        auto end = std::chrono::steady_clock::now();
        if (seen < lines) {
            std::fprintf(stderr, "run %d: saw %d display lines\n", run, seen);
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return 1;
        }
        millis.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        std::this_thread::sleep_for(std::chrono::seconds(2));
        rss.push_back(residentKiB(pid));
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        close(pipeFds[0]);
    }
    std::printf("runs %d: exec to display lines median %.1f ms (min %.1f, max %.1f); "
                "resident after 2 s idle median %.1f MiB\n",
                runs, median(millis), *std::min_element(millis.begin(), millis.end()),
                *std::max_element(millis.begin(), millis.end()), median(rss) / 1024.0);
    rmdir(runDir);
    return 0;
}
