// One copy per session, also when the session's runtime folder is unusable.
#include "platform/Instance.h"

#include "DebugCapture.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
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
    return "/tmp/" + name + "-" + std::to_string(user) + ".lock";
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
