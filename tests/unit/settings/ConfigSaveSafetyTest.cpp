// A save must never lose the old Panoview.config: not when the folder cannot
// be written, not when the disk refuses the bytes, not when the process dies
// in the middle.
#include "DebugCapture.h"
#include "TempDir.h"
#include "settings/ConfigFile.h"

#include <csignal>
#include <gtest/gtest.h>
#include <pwd.h>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<ConfigDisplayEntry> manyEntries(char fill, size_t count) {
    std::vector<ConfigDisplayEntry> entries;
    for (size_t i = 0; i < count; ++i)
        entries.push_back({i == 0, std::string(2000, fill) + "%s"});
    return entries;
}

// Runs fn in a child process and returns its exit status (-1 on a signal).
template <typename Fn> int inChild(Fn fn) {
    pid_t pid = fork();
    if (pid == 0)
        _exit(fn());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

size_t entriesIn(const std::filesystem::path& folder) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

} // namespace

TEST(ConfigSaveSafety, UnwritableFolderKeepsOldFileAndReportsFailure) {
    TempDir dir;
    const std::string path = dir.file("Panoview.config");
    const std::string old = "{\"userid\":\"old\"}";
    dir.write("Panoview.config", old);
    chmod(path.c_str(), 0644);
    chmod(dir.path().c_str(), 0555);

    // Root writes through folder permissions, so the save runs as an
    // ordinary user when the tests run as root.
    const passwd* nobody = getpwnam("nobody");
    int status = inChild([&] {
        if (geteuid() == 0 &&
            (!nobody || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0))
            return 3;
        DebugCapture quiet;
        SystemConfig config;
        return saveConfigFile(path, config, "new", "a", "w", manyEntries('x', 2)) ? 1 : 0;
    });
    chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(status, 0) << "the save must report failure";
    EXPECT_EQ(dir.read("Panoview.config"), old);
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(ConfigSaveSafety, RefusedWriteKeepsOldFileAndLeavesNoTemporary) {
    TempDir dir;
    const std::string path = dir.file("Panoview.config");
    const std::string old = "{\"userid\":\"old\"}";
    dir.write("Panoview.config", old);
    int status = inChild([&] {
        // The disk takes no more than 4 KiB per file: the new text is larger.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        DebugCapture quiet;
        SystemConfig config;
        return saveConfigFile(path, config, "new", "a", "w", manyEntries('x', 8)) ? 1 : 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(dir.read("Panoview.config"), old);
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(ConfigSaveSafety, KillDuringSaveNeverLeavesAPartialFile) {
    TempDir dir;
    const std::string path = dir.file("Panoview.config");
    SystemConfig config;
    const auto a = manyEntries('a', 300);
    const auto b = manyEntries('b', 300);
    const std::string textA = configFileText("A", "s", "", "w", a);
    const std::string textB = configFileText("B", "s", "", "w", b);
    {
        DebugCapture quiet;
        ASSERT_TRUE(saveConfigFile(path, config, "A", "s", "w", a));
    }
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> delayMicros(0, 30000);
    int sawA = 0, sawB = 0;
    for (int round = 0; round < 200; ++round) {
        pid_t pid = fork();
        if (pid == 0) {
            DebugCapture quiet;
            for (int i = 0;; ++i)
                saveConfigFile(path, config, i % 2 ? "A" : "B", "s", "w", i % 2 ? a : b);
        }
        usleep(static_cast<useconds_t>(delayMicros(random)));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        const std::string now = dir.read("Panoview.config");
        ASSERT_TRUE(now == textA || now == textB)
            << "round " << round << ": file of " << now.size() << " bytes";
        (now == textA ? sawA : sawB)++;
    }
    EXPECT_EQ(sawA + sawB, 200);
}
