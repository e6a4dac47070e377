// A save must never lose the old Panoview.config: not when the folder cannot
// be written, not when the disk refuses the bytes, not when the process dies
// in the middle.
#include "DebugCapture.h"
#include "TempDir.h"
#include "platform/Files.h"
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
    // The folder lies in the system's temporary folder, which every user can
    // reach, wherever the sources lie.
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
        // The user reaches the old file: only the folder refuses the save.
        if (TempDir::readFile(path) != old)
            return 4;
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

TEST(ConfigSaveSafety, KillDuringSaveNeverLeavesAPartialFileNorATemporary) {
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
        // A save killed between naming its file and the rename may leave that
        // one file; the next save removes it.
        ASSERT_LE(entriesIn(dir.path()), 2u) << "round " << round;
    }
    EXPECT_EQ(sawA + sawB, 200);
    DebugCapture quiet;
    ASSERT_TRUE(saveConfigFile(path, config, "A", "s", "w", a));
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(ConfigSaveSafety, NextSaveRemovesOnlyTemporariesOfEndedSaves) {
    TempDir dir;
    const std::string prefix = platform::replaceTemporaryPrefix("Panoview.config");
    pid_t ended = fork();
    if (ended == 0)
        _exit(0);
    waitpid(ended, nullptr, 0);
    const std::string ofEndedSave = prefix + std::to_string(ended) + "-0a1b2c3d";
    const std::string ofRunningSave = prefix + std::to_string(getppid()) + "-0a1b2c3d";
    const std::vector<std::string> kept = {ofRunningSave, "Panoview.config.backup",
                                           ".other.config.save-1-x"};
    dir.write(ofEndedSave, "left over");
    for (const std::string& name : kept)
        dir.write(name, "left over");
    DebugCapture quiet;
    SystemConfig config;
    ASSERT_TRUE(saveConfigFile(dir.file("Panoview.config"), config, "u", "a", "w", {}));
    EXPECT_FALSE(std::filesystem::exists(dir.file(ofEndedSave)));
    for (const std::string& name : kept)
        EXPECT_EQ(dir.read(name), "left over") << name;
}

TEST(ConfigSaveSafety, SaveThroughSymbolicLinksReplacesTheFileTheyName) {
    // An installed copy keeps its configuration in a folder of its own,
    // linked from beside the executable.
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links; // link -> target, in order
        std::string file;                                       // the file finally named
        bool fileExistsBefore;
    };
    const Case cases[] = {
        {"relative link",
         {{"bin/Panoview.config", "../etc/Panoview.config"}},
         "etc/Panoview.config",
         true},
        {"absolute link",
         {{"bin/Panoview.config", "@/etc/Panoview.config"}},
         "etc/Panoview.config",
         true},
        {"chain of links",
         {{"bin/Panoview.config", "../etc/current.config"},
          {"etc/current.config", "Panoview.config"}},
         "etc/Panoview.config",
         true},
        {"link to a file not yet written",
         {{"bin/Panoview.config", "../etc/Panoview.config"}},
         "etc/Panoview.config",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::filesystem::create_directory(dir.path() / "bin");
        std::filesystem::create_directory(dir.path() / "etc");
        if (c.fileExistsBefore)
            dir.write(c.file, "{\"userid\":\"old\"}");
        for (const auto& [link, target] : c.links) {
            std::string to = target[0] == '@' ? dir.path().string() + target.substr(1) : target;
            std::filesystem::create_symlink(to, dir.path() / link);
        }
        DebugCapture quiet;
        SystemConfig config;
        ASSERT_TRUE(saveConfigFile(dir.file("bin/Panoview.config"), config, "new", "a", "w", {}));
        for (const auto& [link, target] : c.links)
            EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / link)) << link;
        EXPECT_EQ(dir.read(c.file), configFileText("new", "a", "", "w", {}));
        EXPECT_EQ(entriesIn(dir.path() / "bin"), 1u);
        EXPECT_EQ(entriesIn(dir.path() / "etc"), c.links.size());
    }
}

TEST(ConfigSaveSafety, SaveKeepsModeOwnerAndGroup) {
    TempDir dir;
    const std::string path = dir.file("Panoview.config");
    dir.write("Panoview.config", "{}");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    // As root the file can belong to anybody; an ordinary user checks its
    // own file's mode only.
    const uid_t owner = geteuid() == 0 ? 65534 : geteuid();
    const gid_t group = geteuid() == 0 ? 65534 : getegid();
    ASSERT_EQ(chown(path.c_str(), owner, group), 0);
    DebugCapture quiet;
    SystemConfig config;
    ASSERT_TRUE(saveConfigFile(path, config, "new", "a", "w", {}));
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, owner);
    EXPECT_EQ(after.st_gid, group);
    EXPECT_EQ(dir.read("Panoview.config"), configFileText("new", "a", "", "w", {}));
    if (geteuid() != 0)
        GTEST_SKIP() << "owner and group of another user need root";
}
