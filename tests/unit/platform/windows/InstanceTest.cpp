// The instance rule with CreateMutexA and the executable's path.
#include "platform/Instance.h"

#include <gtest/gtest.h>
#include <string>
#include <windows.h>

#include "WindowsProbe.h"

namespace {

std::string uniqueName(const char* what) {
    return std::string("panoview-test-") + what + "-" + std::to_string(GetCurrentProcessId());
}

} // namespace

// The first take holds the named mutex; a second take while it is held
// finds it held, from this process and from another one.
TEST(WindowsInstance, SecondCopyFindsTheMutexHeld) {
    const std::string name = uniqueName("lock");
    EXPECT_EQ(platform::acquireInstanceLock(name), platform::InstanceLock::Acquired);
    EXPECT_EQ(platform::acquireInstanceLock(name), platform::InstanceLock::AlreadyHeld);

    ProbeEnvironment env("PANOVIEW_PROBE_LOCK", name);
    EXPECT_EQ(runProbe(probePath()), 1) << "another process sees the lock held";
}

// Another name is another lock; the lock of a process that ended is free
// again.
TEST(WindowsInstance, LockOfAnEndedProcessIsFree) {
    const std::string name = uniqueName("ended");
    {
        ProbeEnvironment env("PANOVIEW_PROBE_LOCK", name);
        EXPECT_EQ(runProbe(probePath()), 0);
        EXPECT_EQ(runProbe(probePath()), 0) << "the first probe's lock ended with it";
    }
    EXPECT_EQ(platform::acquireInstanceLock(name), platform::InstanceLock::Acquired);
}

// The lock is a named mutex of the session, which
// OpenMutexA finds once the lock is held.
TEST(WindowsInstance, TheLockIsTheNamedMutex) {
    const std::string name = uniqueName("named");
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
    ASSERT_EQ(platform::acquireInstanceLock(name), platform::InstanceLock::Acquired);
    HANDLE found = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
    EXPECT_NE(found, nullptr);
    CloseHandle(found);
}

TEST(WindowsInstance, ExecutablePathNamesThisProgram) {
    const std::string path = platform::executablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_NE(path.find('\\'), std::string::npos) << path;
    EXPECT_EQ(path.substr(path.size() - 4), ".exe") << path;
    EXPECT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << path;
}

TEST(WindowsInstance, PrivateFolderIsAFolderOfTheUser) {
    const std::string folder = platform::privateRuntimeFolder();
    ASSERT_FALSE(folder.empty());
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(platform::userRuntimeFolder(), folder);
}
