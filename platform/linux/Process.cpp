#include "platform/Process.h"

#include "common/DebugPrint.h"
#include "platform/Threads.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace platform {

namespace {

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// Waits for the child on a thread of its own, so that a browser that ends
// never stays a zombie and nothing else of the process is disturbed (no
// SIGCHLD handler, no waitpid on other children).
// When no thread can be made, the child still runs: the start counts, and the
// child is left to be reaped when Panoview ends.
void reapWhenItEnds(pid_t pid, std::function<void(pid_t)> ended) {
    const bool watched = startDetachedThread([pid, ended = std::move(ended)] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (ended)
            ended(pid);
    });
    if (!watched)
        DebugPrint("spawnProcess: no thread to reap process %d; it is reaped when Panoview ends\n",
                   static_cast<int>(pid));
}

bool isNumber(const char* text) {
    if (!*text)
        return false;
    for (; *text; ++text)
        if (*text < '0' || *text > '9')
            return false;
    return true;
}

// Reads a small file of /proc with plain reads: the process may end while it
// is read, which must give a short text, never an exception.
std::string readProcFile(const std::string& path) {
    std::string text;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return text;
}

// The two ends of a pipe, closed when the scope ends unless handed over.
struct UniquePipe {
    int read = -1;
    int write = -1;
    ~UniquePipe() {
        for (int fd : {read, write})
            if (fd >= 0)
                ::close(fd);
    }
};

// The environment of this process with `variable` set to `value` (an
// inherited value of that name is replaced).
std::vector<std::string> environmentWith(const std::string& variable, const std::string& value) {
    std::vector<std::string> env;
    const std::string prefix = variable + "=";
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, prefix.c_str(), prefix.size()) != 0)
            env.emplace_back(*e);
    env.push_back(prefix + value);
    return env;
}

} // namespace

std::string findProgram(const std::string& name, const std::string& firstDirectory) {
    if (name.empty() || name.find('/') != std::string::npos)
        return {};
    if (!firstDirectory.empty() && isExecutableFile(firstDirectory + "/" + name))
        return firstDirectory + "/" + name;
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        // An empty PATH element means the current folder.
        std::string folder = end > start ? folders.substr(start, end - start) : ".";
        std::string candidate = folder + "/" + name;
        if (isExecutableFile(candidate))
            return candidate;
        start = end + 1;
    }
    return {};
}

int spawnProcess(const std::string& name, const std::vector<std::string>& args,
                 const std::string& firstDirectory, pid_t& pid, std::function<void(pid_t)> ended,
                 ChildPipe* reports, const Rect*) {
    // X11 passes no placement with a start: the page browser places itself
    // from its arguments.
    std::string program = findProgram(name, firstDirectory);
    if (program.empty())
        return kProgramNotFound;

    // The report pipe: both ends close-on-exec here, so that no other child
    // inherits them; the child's copy at descriptor 3 is made by the spawn.
    // A write end that landed on 3 itself is moved first, since a dup2 onto
    // itself would leave it close-on-exec.
    UniquePipe pipe;
    std::vector<std::string> env;
    std::vector<char*> envp;
    if (reports) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return errno;
        pipe.read = ends[0];
        pipe.write = ends[1];
        if (pipe.write == 3) {
            pipe.write = ::fcntl(3, F_DUPFD_CLOEXEC, 4);
            ::close(3);
            if (pipe.write < 0)
                return errno;
        }
        env = environmentWith(reports->variable, "3");
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
    }

    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(name.c_str()));
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // No handle of Panoview is inherited (the instance lock, sockets), but
    // the report pipe's write end.
    if (reports) {
        posix_spawn_file_actions_adddup2(&actions, pipe.write, 3);
        posix_spawn_file_actions_addclosefrom_np(&actions, 4);
    } else {
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    }
    sigset_t noSignals, allSignals;
    sigemptyset(&noSignals);
    sigfillset(&allSignals);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    posix_spawnattr_setsigdefault(&attributes, &allSignals);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

    pid_t child = 0;
    int error = ::posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(),
                              reports ? envp.data() : environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return error;
    pid = child;
    if (reports) {
        ::fcntl(pipe.read, F_SETFL, ::fcntl(pipe.read, F_GETFL) | O_NONBLOCK);
        reports->readEnd = std::exchange(pipe.read, -1);
    }
    reapWhenItEnds(child, std::move(ended));
    return 0;
}

std::string processFileName(pid_t pid) {
    std::string base = "/proc/" + std::to_string(pid);
    char target[PATH_MAX + 1] = {};
    ssize_t n = ::readlink((base + "/exe").c_str(), target, PATH_MAX);
    if (n > 0) {
        std::string path(target, static_cast<size_t>(n));
        // A program replaced on disk while it runs keeps its name.
        static const std::string deleted = " (deleted)";
        if (path.size() > deleted.size() &&
            path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
            path.resize(path.size() - deleted.size());
        return path.substr(path.rfind('/') + 1);
    }
    // No link (a process that has ended but is not reaped yet): the command
    // name between the first '(' and the last ')' of its stat line.
    std::string stat = readProcFile(base + "/stat");
    size_t open = stat.find('(');
    size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return {};
    return stat.substr(open + 1, close - open - 1);
}

int killProcessesByFileName(const std::string& fileName) {
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return 0;
    const uid_t me = ::geteuid();
    const pid_t self = ::getpid();
    int signalled = 0;
    while (dirent* entry = ::readdir(proc)) {
        if (!isNumber(entry->d_name))
            continue;
        pid_t pid = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
        if (pid == self)
            continue;
        struct stat st {};
        if (::stat((std::string("/proc/") + entry->d_name).c_str(), &st) != 0 || st.st_uid != me)
            continue;
        if (processFileName(pid) == fileName && ::kill(pid, SIGKILL) == 0)
            ++signalled;
    }
    ::closedir(proc);
    return signalled;
}

} // namespace platform
