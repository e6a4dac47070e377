#include "wall/Launcher.h"

#include "DebugCapture.h"
#include "TempDir.h"
#include "WallTestSupport.h"

#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

TEST(PageAddress, ComposesTheTokenIntoTheTemplate) {
    struct Case {
        const char* urlTemplate;
        const char* token;
        const char* expected;
    };
    const Case cases[] = {
        {"http://site/KnitUI/status.html?token=%s&flag=multiscreen", "T0K",
         "http://site/KnitUI/status.html?token=T0K&flag=multiscreen"},
        // Only the first "%s" takes the token; printf-like sequences that
        // would read arguments are copied as they stand.
        {"a%%b?t=%s&x=%d&y=%n&z=%s", "T", "a%b?t=T&x=%d&y=%n&z=%s"},
        {"%%s then %s", "T", "%s then T"},
        {"percent%20encoded%", "T", "percent%20encoded%"},
        {"no token here", "T", "no token here"},
        {"%s", "", ""},
        // A token that looks like a template is not expanded again.
        {"%s-%%", "%s%%", "%s%%-%"},
        {"", "T", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(composePageAddress(c.urlTemplate, c.token), c.expected) << c.urlTemplate;
}

TEST(PageAddress, BrowserArgumentsPutBottomBeforeRight) {
    EXPECT_EQ(browserArguments({-1280, 10, -2, 1040}, "http://x/a b"),
              (std::vector<std::string>{"/left", "-1280", "/top", "10", "/bottom", "1040", "/right",
                                        "-2", "/url", "http://x/a b"}));
}

const Rect kPrimary{0, 0, 1280, 1040};
const Rect kFirst{1280, 0, 2560, 1080};
const Rect kSecond{-1280, 0, 0, 1080};

LaunchJob jobOf(std::vector<uint8_t> primaryFlags, std::vector<Rect> extended) {
    LaunchJob job;
    job.token = "TOKEN";
    job.primaryWorkArea = kPrimary;
    job.extendedWorkAreas = std::move(extended);
    for (size_t i = 0; i < primaryFlags.size(); ++i)
        job.displays.push_back({primaryFlags[i], "u" + std::to_string(i) + "?t=%s", 0});
    return job;
}

TEST(Launch, PlacesByPrimaryFlagThenExtendedDisplaysInDiscoveryOrder) {
    struct Case {
        const char* name;
        std::vector<uint8_t> flags;
        std::vector<Rect> extended;
        std::vector<Rect> expectedPlaces;   // in the order of starting
        std::vector<uint32_t> expectedPids; // per assignment
    };
    const Case cases[] = {
        {"primary, non-primary", {1, 0}, {kFirst, kSecond}, {kPrimary, kFirst}, {101, 102}},
        {"non-primary, primary", {0, 1}, {kFirst, kSecond}, {kFirst, kPrimary}, {101, 102}},
        {"surplus non-primary starts nothing",
         {0, 0, 0},
         {kFirst, kSecond},
         {kFirst, kSecond},
         {101, 102, 0}},
        {"one non-primary takes the first extended", {0}, {kFirst, kSecond}, {kFirst}, {101}},
        {"two primaries share the primary display", {1, 1}, {}, {kPrimary, kPrimary}, {101, 102}},
        {"no extended display", {0, 1}, {}, {kPrimary}, {0, 101}},
    };
    for (const auto& c : cases) {
        std::vector<Rect> places;
        std::vector<std::string> addresses;
        uint32_t nextPid = 101;
        auto started = runLaunch(jobOf(c.flags, c.extended),
                                 [&](const Rect& r, const std::string& address, uint32_t& pid) {
                                     places.push_back(r);
                                     addresses.push_back(address);
                                     pid = nextPid++;
                                     return true;
                                 });
        EXPECT_EQ(places, c.expectedPlaces) << c.name;
        EXPECT_EQ(started, c.expectedPids) << c.name;
        for (const auto& address : addresses)
            EXPECT_NE(address.find("?t=TOKEN"), std::string::npos) << c.name;
    }
}

TEST(Launch, NoBrowserOverAnEmptyWorkAreaAndOneLineForEach) {
    const Rect none{2560, 0, 2560, 1080}, flat{0, 0, 1280, 0};
    struct Case {
        const char* name;
        LaunchJob job;
        std::vector<uint32_t> expectedPids;
        std::vector<std::string> lines;
    };
    LaunchJob noPrimary = jobOf({0, 1, 0}, {kFirst, kSecond});
    noPrimary.primaryWorkArea = Rect{};
    LaunchJob flatPrimary = jobOf({1, 1}, {});
    flatPrimary.primaryWorkArea = flat;
    const Case cases[] = {
        {"a zero-width extended display",
         jobOf({1, 0, 0}, {none, kFirst}),
         {101, 0, 102},
         {"LaunchThread(): display assignment 1 has an empty work area "
          "(left.2560,top.0,right.2560,bottom.1080); no page browser is started for it\n"}},
        {"no primary display known",
         noPrimary,
         {101, 0, 102},
         {"LaunchThread(): display assignment 1 has an empty work area "
          "(left.0,top.0,right.0,bottom.0); no page browser is started for it\n"}},
        {"a primary of no height, twice",
         flatPrimary,
         {0, 0},
         {"LaunchThread(): display assignment 0 has an empty work area "
          "(left.0,top.0,right.1280,bottom.0); no page browser is started for it\n",
          "LaunchThread(): display assignment 1 has an empty work area "
          "(left.0,top.0,right.1280,bottom.0); no page browser is started for it\n"}},
    };
    for (const auto& c : cases) {
        DebugCapture capture;
        uint32_t nextPid = 101;
        auto started = runLaunch(c.job, [&](const Rect& r, const std::string&, uint32_t& pid) {
            EXPECT_GT(r.width(), 0) << c.name;
            EXPECT_GT(r.height(), 0) << c.name;
            pid = nextPid++;
            return true;
        });
        EXPECT_EQ(started, c.expectedPids) << c.name;
        EXPECT_EQ(capture.writes(), c.lines) << c.name;
    }
}

TEST(Launch, FailedStartLeavesZeroAndGoesOn) {
    int calls = 0;
    auto started =
        runLaunch(jobOf({1, 0}, {kFirst}), [&](const Rect&, const std::string&, uint32_t& pid) {
            if (calls++ == 0)
                return false;
            pid = 7;
            return true;
        });
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(started, (std::vector<uint32_t>{0, 7}));
}

// Runs the launcher against the recording stand-in: its program folder is
// the stand-in's, and the stand-in writes its arguments into `records`.
class LaunchWithRecordingBrovia : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("BROVIA_RECORD_DIR", records.path().c_str(), 1);
        unsetenv("BROVIA_RECORD_STAY");
        config.token = "TOKEN";
        config.primaryMonitor.rcWork = kPrimary;
        config.primaryMonitor.dwFlags = MONITORINFOF_PRIMARY;
        config.extendedMonitors.resize(2);
        config.extendedMonitors[0].rcWork = kSecond; // left of the primary
        config.extendedMonitors[1].rcWork = kFirst;
    }
    void TearDown() override { unsetenv("BROVIA_RECORD_DIR"); }
    std::map<pid_t, std::vector<std::string>> waitForRecords(size_t count) {
        std::map<pid_t, std::vector<std::string>> found;
        eventually([&] { return (found = readRecords(records.path())).size() >= count; });
        return found;
    }

    TempDir records;
    SystemConfig config;
    Launcher launcher{processLauncherServices(RECORDING_BROVIA_DIR)};
};

std::vector<std::string> expectedArgv(const Rect& r, const std::string& address) {
    std::vector<std::string> argv{"Brovia"};
    for (auto& word : browserArguments(r, address))
        argv.push_back(word);
    return argv;
}

TEST_F(LaunchWithRecordingBrovia, StartsOneBrowserPerAssignmentWithItsWordsAndStoresThePids) {
    const std::string longParameter(5000, 'p');
    config.displays = {
        {0, "http://site/KnitUI/a.html?token=%s&flag=multiscreen&q=%%41%d%n", 0},
        {1, "http://site/KnitUI/b.html?token=%s&name=two words \"quoted\"", 0},
        {0, "http://site/KnitUI/c.html?token=%s&long=" + longParameter, 0},
    };
    launcher.LaunchThread(takeLaunchJob(config), config);

    auto found = waitForRecords(3);
    ASSERT_EQ(found.size(), 3u);
    std::map<pid_t, std::vector<std::string>> expected = {
        {static_cast<pid_t>(config.displays[0].processId),
         expectedArgv(kSecond, "http://site/KnitUI/a.html?token=TOKEN&flag=multiscreen&q=%41%d%n")},
        {static_cast<pid_t>(config.displays[1].processId),
         expectedArgv(kPrimary, "http://site/KnitUI/b.html?token=TOKEN&name=two words \"quoted\"")},
        {static_cast<pid_t>(config.displays[2].processId),
         expectedArgv(kFirst, "http://site/KnitUI/c.html?token=TOKEN&long=" + longParameter)},
    };
    EXPECT_EQ(found, expected);
}

TEST_F(LaunchWithRecordingBrovia, NoBrowserAnywhereGivesOneLinePerAssignment) {
    TempDir empty;
    Launcher launcher{processLauncherServices(empty.path().string())};
    std::string savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", empty.path().c_str(), 1);
    config.displays = {{1, "a?t=%s", 41}, {0, "b?t=%s", 42}, {0, "c?t=%s", 43}};

    DebugCapture capture;
    launcher.LaunchThread(takeLaunchJob(config), config);
    setenv("PATH", savedPath.c_str(), 1);

    const std::string line =
        "CPanoviewDlg::StartProcess(): CreateProcessA.Brovia.exe, error code = 2\n";
    EXPECT_EQ(capture.writes(), (std::vector<std::string>{line, line, line}));
    // Assignments without a browser keep their earlier ids.
    EXPECT_EQ(config.displays[0].processId, 41u);
    EXPECT_EQ(config.displays[1].processId, 42u);
    EXPECT_EQ(config.displays[2].processId, 43u);
}

TEST_F(LaunchWithRecordingBrovia, ThreadWorksOnTheTokenOfItsStartAndSignOutCanWaitForIt) {
    config.displays = {{1, "a?t=%s", 0}, {0, "b?t=%s", 0}};
    launcher.startLaunchThread(config);
    // A sign-out clears the token while the launch may still run; the launch
    // keeps the token it was started with.
    config.token.clear();
    launcher.waitForLaunch();
    // After the wait the launch has written every id.
    ASSERT_NE(config.displays[0].processId, 0u);
    ASSERT_NE(config.displays[1].processId, 0u);

    auto found = waitForRecords(2);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[config.displays[0].processId].back(), "a?t=TOKEN");
    EXPECT_EQ(found[config.displays[1].processId].back(), "b?t=TOKEN");
}

TEST_F(LaunchWithRecordingBrovia, StopRightAfterTheStartLeavesNoBrowserOfThatLaunch) {
    setenv("BROVIA_RECORD_STAY", "1", 1);
    config.displays = {{1, "a?t=%s", 0}, {0, "b?t=%s", 0}, {0, "c?t=%s", 0}};
    launcher.startLaunchThread(config);
    // A sign-out confirmed while the launch may still be starting browsers.
    launcher.StopBrowsers();
    unsetenv("BROVIA_RECORD_STAY");
    for (const auto& assignment : config.displays) {
        ASSERT_NE(assignment.processId, 0u);
        const pid_t pid = static_cast<pid_t>(assignment.processId);
        EXPECT_TRUE(eventually([pid] { return !processExists(pid); })) << "survivor " << pid;
    }
}

// Each started browser reports on a pipe of its own: its descriptor 3 is the
// write end (and nothing else of Panoview's is inherited), the launcher hands
// the read end over, and the read end reaches its end once the browser has
// ended.
TEST_F(LaunchWithRecordingBrovia, EachBrowserGetsItsOwnReportPipeAsDescriptorThree) {
    std::mutex m;
    std::map<uint32_t, int> pipes;
    LauncherServices services = processLauncherServices(RECORDING_BROVIA_DIR);
    services.pageReports = [&](uint32_t pid, int fd) {
        std::lock_guard<std::mutex> lock(m);
        pipes[pid] = fd;
    };
    Launcher reporting{std::move(services)};
    config.displays = {{1, "a?t=%s", 0}, {0, "b?t=%s", 0}};
    reporting.LaunchThread(takeLaunchJob(config), config);

    ASSERT_EQ(pipes.size(), 2u);
    for (const auto& [pid, fd] : pipes) {
        SCOPED_TRACE(pid);
        EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0) << "read on the UI thread, never blocking";
        EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "no later child inherits it";
        std::string bytes;
        EXPECT_TRUE(eventually([&] {
            char buffer[256];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0)
                bytes.append(buffer, static_cast<size_t>(n));
            return n == 0; // the browser has ended: end of file
        })) << "the pipe stays open after the browser ended";
        EXPECT_EQ(bytes, "page live 1 0 fd 3\n");
        EXPECT_EQ(TempDir::readFile(records.file(std::to_string(pid) + ".fds")), "0 1 2 3 ");
        close(fd);
    }
    const auto found = waitForRecords(2);
    EXPECT_EQ(found.size(), 2u);
}

} // namespace

namespace {

// A launch whose worker cannot be made must not leave the stop waiting for
// it: whether the thread start reports failure or throws, StopBrowsers still
// returns and still ends the browsers by name.
TEST(LaunchWorker, NoThreadForTheLaunchLeavesNothingToWaitFor) {
    const std::function<bool(std::function<void()>)> refusals[] = {
        [](std::function<void()>) { return false; },
        [](std::function<void()>) -> bool {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        },
    };
    for (const auto& refuse : refusals) {
        std::vector<std::string> ended;
        int spawns = 0;
        LauncherServices services;
        services.spawn = [&](const std::string&, const std::vector<std::string>&,
                             const std::string&, pid_t&, std::function<void(pid_t)>,
                             platform::ChildPipe*, const Rect*) { return ++spawns, 0; };
        services.killByName = [&](const std::string& name) {
            ended.push_back(name);
            return 0;
        };
        services.startThread = refuse;
        auto* launcher = new Launcher(std::move(services)); // left alive if the stop hangs
        SystemConfig config;
        config.token = "T";
        config.displays = {{1, "a?t=%s", 0}};

        DebugCapture capture;
        EXPECT_FALSE(launcher->startLaunchThread(config));
        ASSERT_EQ(capture.writes().size(), 1u);
        EXPECT_NE(capture.writes()[0].find("LaunchThread"), std::string::npos);

        auto stopped = std::make_shared<std::promise<void>>();
        std::thread([launcher, stopped] {
            launcher->StopBrowsers();
            stopped->set_value();
        }).detach();
        ASSERT_EQ(stopped->get_future().wait_for(std::chrono::seconds(20)),
                  std::future_status::ready)
            << "StopBrowsers waits for a launch that never ran";
        EXPECT_EQ(ended, std::vector<std::string>{kBrowserProgram});
        EXPECT_EQ(spawns, 0);
        EXPECT_EQ(config.displays[0].processId, 0u);
        delete launcher;
    }
}

} // namespace
