// One copy per session, also when the session's runtime folder is unusable.
#include "platform/Instance.h"

#include "DebugCapture.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::InstanceLock;

namespace {

// A copy of the program in a child process: takes the lock with the given
// XDG_RUNTIME_DIR (unset when empty) and keeps it until the object ends.
class Copy {
public:
    Copy(const std::string& name, std::optional<std::string> runtimeDir, uid_t user) {
        int report[2], stay[2];
        if (pipe(report) != 0 || pipe(stay) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = fork();
        if (pid_ == 0) {
            close(report[0]);
            close(stay[1]);
            if (user != geteuid() && (setgid(user) != 0 || setuid(user) != 0))
                _exit(1);
            if (runtimeDir)
                setenv("XDG_RUNTIME_DIR", runtimeDir->c_str(), 1);
            else
                unsetenv("XDG_RUNTIME_DIR");
            DebugCapture quiet;
            char result = static_cast<char>(platform::acquireInstanceLock(name));
            (void)!write(report[1], &result, 1);
            char byte;
            (void)!read(stay[0], &byte, 1); // until the test closes its end
            _exit(0);
        }
        close(report[1]);
        close(stay[0]);
        stay_ = stay[1];
        char result = -1;
        result_ = read(report[0], &result, 1) == 1 ? static_cast<InstanceLock>(result)
                                                   : static_cast<InstanceLock>(-1);
        close(report[0]);
    }
    ~Copy() {
        close(stay_);
        waitpid(pid_, nullptr, 0);
    }
    InstanceLock result() const { return result_; }

private:
    pid_t pid_ = -1;
    int stay_ = -1;
    InstanceLock result_;
};

std::string uniqueName() {
    return "panoview-lock-test-" + std::to_string(getpid()) + "-" +
           std::to_string(testing::UnitTest::GetInstance()->random_seed()) + "-" +
           testing::UnitTest::GetInstance()->current_test_info()->name();
}

std::string tmpLock(const std::string& name, uid_t user) {
    return "/tmp/panoview-" + std::to_string(user) + "/" + name + ".lock";
}

// An ordinary user for the cases that root's rights would hide.
uid_t ordinaryUser() {
    if (geteuid() != 0)
        return geteuid();
    const passwd* nobody = getpwnam("nobody");
    return nobody ? nobody->pw_uid : 65534;
}

} // namespace

TEST(InstanceLock, SecondCopyOfASessionStaysOutWhereverTheLockLies) {
    TempDir dir;
    chmod(dir.path().c_str(), 0755);
    std::filesystem::create_directory(dir.path() / "run");
    std::filesystem::create_directory(dir.path() / "other");
    std::filesystem::create_directory(dir.path() / "readonly");
    chmod((dir.path() / "readonly").c_str(), 0555);
    dir.write("plain", "a file, not a folder");
    const uid_t user = ordinaryUser();
    // The private folder the fallback makes is removed again when the test made it.
    const std::string privateFolder = "/tmp/panoview-" + std::to_string(user);
    struct RemoveAtEnd {
        std::string path;
        ~RemoveAtEnd() {
            if (!path.empty())
                std::filesystem::remove_all(path);
        }
    } removeAtEnd{std::filesystem::exists(privateFolder) ? "" : privateFolder};
    chown((dir.path() / "run").c_str(), user, static_cast<gid_t>(-1));
    chown((dir.path() / "other").c_str(), user, static_cast<gid_t>(-1));

    struct Case {
        const char* name;
        std::optional<std::string> first, second; // XDG_RUNTIME_DIR of each copy
        InstanceLock secondResult;
        bool inTmp; // the lock lies in /tmp
    };
    const Case cases[] = {
        {"runtime folder", dir.file("run"), dir.file("run"), InstanceLock::AlreadyHeld, false},
        {"no runtime folder", std::nullopt, std::nullopt, InstanceLock::AlreadyHeld, true},
        {"empty variable", "", std::nullopt, InstanceLock::AlreadyHeld, true},
        {"missing folder", dir.file("gone"), dir.file("gone"), InstanceLock::AlreadyHeld, true},
        {"missing and unset", dir.file("gone"), std::nullopt, InstanceLock::AlreadyHeld, true},
        {"not a folder", dir.file("plain"), dir.file("plain"), InstanceLock::AlreadyHeld, true},
        {"folder not writable", dir.file("readonly"), dir.file("readonly"),
         InstanceLock::AlreadyHeld, true},
        {"two sessions", dir.file("run"), dir.file("other"), InstanceLock::Acquired, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = uniqueName() + "-" + std::to_string(&c - cases);
        {
            Copy first(name, c.first, user);
            EXPECT_EQ(first.result(), InstanceLock::Acquired);
            Copy second(name, c.second, user);
            EXPECT_EQ(second.result(), c.secondResult);
            EXPECT_EQ(std::filesystem::exists(tmpLock(name, user)), c.inTmp);
        }
        // Once the copies are gone the lock is free again.
        Copy later(name, c.second, user);
        EXPECT_EQ(later.result(), InstanceLock::Acquired);
        std::filesystem::remove(tmpLock(name, user));
    }
}

TEST(InstanceLock, NoLockAnywhereStartsWithOneDiagnosticLine) {
    TempDir dir;
    const std::string name = uniqueName();
    // The fallback lock's name is taken by a folder.
    ASSERT_EQ(platform::privateRuntimeFolder(), "/tmp/panoview-" + std::to_string(getuid()));
    const std::string blocked = tmpLock(name, getuid());
    ASSERT_TRUE(std::filesystem::create_directory(blocked));
    setenv("XDG_RUNTIME_DIR", dir.file("gone").c_str(), 1);
    DebugCapture capture;
    EXPECT_EQ(platform::acquireInstanceLock(name), InstanceLock::Failed);
    unsetenv("XDG_RUNTIME_DIR");
    std::filesystem::remove(blocked);
    const auto writes = capture.writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], "acquireInstanceLock: no instance lock at " + dir.file("gone") + "/" +
                             name + ".lock (error 2), " + blocked + " (error 21), starting " +
                             "without one\n");
}

namespace {

// What privateRuntimeFolder() gives a user whose /tmp name is as the setup
// left it, asked in a child process of that user with its own cache home.
std::string folderOf(uid_t user, const std::string& cacheHome) {
    int report[2];
    if (pipe(report) != 0)
        return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        if (setgid(user) != 0 || setuid(user) != 0)
            _exit(1);
        setenv("XDG_CACHE_HOME", cacheHome.c_str(), 1);
        unsetenv("XDG_RUNTIME_DIR");
        DebugCapture quiet;
        const std::string folder = platform::userRuntimeFolder();
        (void)!write(report[1], folder.data(), folder.size());
        _exit(0);
    }
    close(report[1]);
    std::string folder;
    char buffer[512];
    for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;)
        folder.append(buffer, static_cast<size_t>(n));
    close(report[0]);
    waitpid(pid, nullptr, 0);
    return folder;
}

} // namespace

// Without a runtime folder the lock and the sockets go to a folder of the
// user's own: a name in /tmp that another user took first (a file, a folder
// or a link of theirs) sends them to the user's cache folder instead, and a
// folder of the user's own that others could enter is closed.
TEST(InstanceLock, ANameInTmpTakenByAnotherUserIsNeverUsed) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as two users";
    // A user id no other test uses, so its /tmp name is this test's alone.
    const uid_t user = 64000 + static_cast<uid_t>(getpid() % 1000);
    const std::string taken = "/tmp/panoview-" + std::to_string(user);
    TempDir dir;
    chmod(dir.path().c_str(), 0755);
    std::filesystem::create_directory(dir.path() / "cache");
    chown((dir.path() / "cache").c_str(), user, static_cast<gid_t>(-1));
    const std::string cache = dir.file("cache");
    const std::string ownCache = cache + "/panoview-run";

    std::filesystem::remove_all(taken);
    EXPECT_EQ(folderOf(user, cache), taken) << "nothing there: the /tmp folder is made";
    struct stat st {};
    ASSERT_EQ(lstat(taken.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, user);
    chmod(taken.c_str(), 0777);
    EXPECT_EQ(folderOf(user, cache), taken);
    ASSERT_EQ(lstat(taken.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "a folder others could enter is closed";
    std::filesystem::remove_all(taken);

    struct Plant {
        const char* name;
        std::function<void()> plant; // done by another user (root here)
    };
    const Plant plants[] = {
        {"an empty file", [&] { std::ofstream(taken) << ""; }},
        {"another user's folder", [&] { std::filesystem::create_directory(taken); }},
        {"a link to the user's own folder",
         [&] { std::filesystem::create_directory_symlink(cache, taken); }},
    };
    for (const Plant& p : plants) {
        SCOPED_TRACE(p.name);
        p.plant();
        EXPECT_EQ(folderOf(user, cache), ownCache);
        ASSERT_EQ(lstat(ownCache.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_EQ(st.st_uid, user);
        std::filesystem::remove_all(taken);
    }
}
