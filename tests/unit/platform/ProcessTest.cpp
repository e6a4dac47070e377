#include "platform/Process.h"

#include "TempDir.h"
#include "WallTestSupport.h"

#include <future>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

namespace {

void writeExecutable(const TempDir& dir, const std::string& name, mode_t mode) {
    dir.write(name, "#!/bin/sh\n");
    chmod(dir.file(name).c_str(), mode);
}

TEST(FindProgram, ModuleDirectoryFirstThenPath) {
    TempDir module, onPath;
    writeExecutable(module, "Brovia", 0755);
    writeExecutable(onPath, "Brovia", 0755);
    writeExecutable(onPath, "OnlyOnPath", 0755);
    writeExecutable(module, "NotExecutable", 0644);
    std::string savedPath = std::getenv("PATH");
    setenv("PATH", ("/nonexistent::" + onPath.path().string()).c_str(), 1);

    EXPECT_EQ(platform::findProgram("Brovia", module.path().string()), module.file("Brovia"));
    EXPECT_EQ(platform::findProgram("Brovia", ""), onPath.file("Brovia"));
    EXPECT_EQ(platform::findProgram("OnlyOnPath", module.path().string()),
              onPath.file("OnlyOnPath"));
    EXPECT_EQ(platform::findProgram("NotExecutable", module.path().string()), "");
    EXPECT_EQ(platform::findProgram("Missing", module.path().string()), "");
    // A name with a folder in it is not looked up at all.
    EXPECT_EQ(platform::findProgram("../Brovia", module.path().string()), "");
    setenv("PATH", savedPath.c_str(), 1);

    pid_t pid = 0;
    EXPECT_EQ(platform::spawnProcess("Missing", {}, module.path().string(), pid),
              platform::kProgramNotFound);
}

class BrowserProcesses : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("BROVIA_RECORD_DIR", records.path().c_str(), 1);
        unsetenv("BROVIA_RECORD_STAY");
    }
    void TearDown() override {
        unsetenv("BROVIA_RECORD_DIR");
        unsetenv("BROVIA_RECORD_STAY");
    }
    pid_t startBrowser() {
        pid_t pid = 0;
        EXPECT_EQ(platform::spawnProcess("Brovia", {"/url", "x"}, RECORDING_BROVIA_DIR, pid), 0);
        return pid;
    }
    TempDir records;
};

TEST_F(BrowserProcesses, EndedBrowsersAreReapedAndLeaveNoZombie) {
    std::vector<pid_t> pids;
    for (int i = 0; i < 4; ++i)
        pids.push_back(startBrowser());
    EXPECT_TRUE(eventually([&] { return readRecords(records.path()).size() == pids.size(); }));
    for (pid_t pid : pids)
        EXPECT_TRUE(eventually([&] { return !processExists(pid); })) << "zombie " << pid;
}

TEST_F(BrowserProcesses, StopBrowsersEndsEveryBroviaAndNoOtherProgram) {
    setenv("BROVIA_RECORD_STAY", "1", 1);
    pid_t first = startBrowser();
    pid_t second = startBrowser();
    pid_t other = 0;
    ASSERT_EQ(platform::spawnProcess("sleep", {"60"}, "", other), 0);
    // Both browsers are running their own program, not a forked copy of this one.
    ASSERT_TRUE(eventually([&] { return readRecords(records.path()).size() == 2; }));
    EXPECT_EQ(platform::processFileName(first), "Brovia");
    EXPECT_EQ(platform::processFileName(other), "sleep");

    platform::killProcessesByFileName("Brovia"); // what StopBrowsers does
    EXPECT_TRUE(eventually([&] { return !processExists(first) && !processExists(second); }));
    EXPECT_TRUE(processExists(other));
    EXPECT_EQ(platform::processFileName(other), "sleep");
    kill(other, SIGKILL);
    EXPECT_TRUE(eventually([&] { return !processExists(other); }));
}

TEST_F(BrowserProcesses, StopBrowsersEndsABroviaWhoseProgramWasReplacedWhileItRuns) {
    setenv("BROVIA_RECORD_STAY", "1", 1);
    TempDir module;
    std::filesystem::copy_file(std::string(RECORDING_BROVIA_DIR) + "/Brovia",
                               module.file("Brovia"));
    pid_t pid = 0;
    ASSERT_EQ(platform::spawnProcess("Brovia", {}, module.path().string(), pid), 0);
    ASSERT_TRUE(eventually([&] { return readRecords(records.path()).size() == 1; }));
    std::filesystem::remove(module.file("Brovia")); // as a rebuild does
    EXPECT_EQ(platform::processFileName(pid), "Brovia");

    platform::killProcessesByFileName("Brovia"); // what StopBrowsers does
    EXPECT_TRUE(eventually([&] { return !processExists(pid); }));
}

TEST(ProcessFileName, NamesTheExecutableAndIsEmptyForAGoneProcess) {
    EXPECT_EQ(platform::processFileName(getpid()), "integration_platform");
    pid_t pid = 0;
    ASSERT_EQ(platform::spawnProcess("true", {}, "", pid), 0);
    ASSERT_TRUE(eventually([&] { return !processExists(pid); }));
    EXPECT_EQ(platform::processFileName(pid), "");
}

} // namespace

namespace {

// The reaper tells who ended, once the child is reaped (no zombie left).
TEST(ProcessEnd, TheReaperTellsWhenAChildHasEnded) {
    auto told = std::make_shared<std::promise<pid_t>>();
    pid_t pid = 0;
    ASSERT_EQ(platform::spawnProcess("true", {}, "", pid, [told](pid_t p) { told->set_value(p); }),
              0);
    auto future = told->get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(future.get(), pid);
    EXPECT_FALSE(processExists(pid));
}

} // namespace
