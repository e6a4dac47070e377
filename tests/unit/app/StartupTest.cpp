#include "DebugCapture.h"
#include "TempDir.h"
#include "app/PanoviewApp.h"
#include "common/Globals.h"
#include "settings/SystemConfig.h"

#include <gtest/gtest.h>
#include <optional>

namespace {

// Records the order in which start-up calls the desktop.
struct Recorder {
    std::vector<std::string> steps;
    std::string exePath = "/opt/pv/bin/panoview";
    platform::InstanceLock lock = platform::InstanceLock::Acquired;
    bool windows = true;
    // The running copy's answer to a command; none listens when empty.
    std::optional<int> answer;

    StartupServices services() {
        StartupServices s;
        s.windowSystemAvailable = [this](std::string& reason) {
            reason = "cannot open X display \":9\"";
            return windows;
        };
        s.takeInstanceLock = [this] {
            steps.push_back("lock");
            return lock;
        };
        s.executablePath = [this] { return exePath; };
        s.startWindowSystem = [this] { steps.push_back("windows"); };
        s.displays = [this](std::vector<DisplayFacts>& out, std::string&) {
            steps.push_back("displays");
            out.push_back({"P", {0, 0, 10, 10}, {0, 0, 10, 9}, true, ""});
            return true;
        };
        s.showMessage = [this](const std::string& caption, const std::string& text) {
            steps.push_back("message:" + caption + ":" + text);
        };
        s.exitProcess = [this](int status) { steps.push_back("exit:" + std::to_string(status)); };
        s.runMainWindow = [this] { steps.push_back("run"); };
        s.sendCommand = [this](const std::string& word, int& status) {
            steps.push_back("send:" + word);
            if (answer)
                status = *answer;
            return answer.has_value();
        };
        return s;
    }
};

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseEnglish = 0;
        moduleDirectory.clear();
        theSystemConfig = nullptr;
    }
    // The program never frees the record; each test frees the one it made.
    void TearDown() override {
        delete theSystemConfig;
        theSystemConfig = nullptr;
    }
    DebugCapture quiet;
};

} // namespace

TEST_F(StartupTest, RunsInOrderAndFillsTheRecordBeforeTheWindow) {
    TempDir dir;
    dir.write("Panoview.config", R"({"userid":"op","srurl":[{"pri":"true","url":"u%s"}]})");
    Recorder r;
    r.exePath = dir.file("panoview");
    CPanoviewApp app(r.services());
    EXPECT_FALSE(app.InitInstance(""));
    EXPECT_EQ(r.steps, (std::vector<std::string>{"lock", "windows", "displays", "run"}));
    EXPECT_EQ(moduleDirectory, dir.path().string());
    ASSERT_NE(theSystemConfig, nullptr);
    EXPECT_EQ(theSystemConfig->userId, "op");
    EXPECT_EQ(theSystemConfig->displays.size(), 1u);
    EXPECT_EQ(theSystemConfig->primaryMonitor.rcWork, (Rect{0, 0, 10, 9}));
}

TEST_F(StartupTest, SecondCopyEndsBeforeAnythingElse) {
    Recorder r;
    r.lock = platform::InstanceLock::AlreadyHeld;
    CPanoviewApp app(r.services());
    EXPECT_FALSE(app.InitInstance("/english"));
    EXPECT_EQ(r.steps, (std::vector<std::string>{"lock"}));
    EXPECT_EQ(UseEnglish, 0);
    EXPECT_EQ(theSystemConfig, nullptr);
}

TEST_F(StartupTest, AFailedLockDoesNotStopStartUp) {
    Recorder r;
    r.lock = platform::InstanceLock::Failed;
    CPanoviewApp app(r.services());
    app.InitInstance("");
    EXPECT_EQ(r.steps.back(), "run");
}

TEST_F(StartupTest, UnreadableConfigurationShowsTheMessageAndEnds) {
    TempDir dir;
    dir.write("Panoview.config", "{broken");
    Recorder r;
    r.exePath = dir.file("panoview");
    CPanoviewApp app(r.services());
    app.InitInstance("/english");
    EXPECT_EQ(r.steps, (std::vector<std::string>{"lock", "windows",
                                                 "message:Panoview:config file error!", "exit:0"}));
}

// Without a display nothing can be shown: start-up ends at once, before the
// instance lock, so that a later start on a working display is not refused.
TEST_F(StartupTest, WithoutADisplayItEndsAtOnceWithOneLine) {
    struct Case {
        const char* config; // nullptr: no file
        int status;
        std::string line;
    };
    const Case cases[] = {
        {"{broken", 0, "config file error!\n"},
        {R"({"userid":"op"})", 1,
         "Panoview needs an X display to show its windows: cannot open X display \":9\"\n"},
        {nullptr, 1,
         "Panoview needs an X display to show its windows: cannot open X display \":9\"\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        if (c.config)
            dir.write("Panoview.config", c.config);
        Recorder r;
        r.windows = false;
        r.exePath = dir.file("panoview");
        DebugCapture capture;
        CPanoviewApp app(r.services());
        EXPECT_FALSE(app.InitInstance(""));
        EXPECT_EQ(r.steps, (std::vector<std::string>{"exit:" + std::to_string(c.status)}))
            << (c.config ? c.config : "no file");
        EXPECT_EQ(capture.writes(), std::vector<std::string>{c.line});
        EXPECT_EQ(theSystemConfig, nullptr);
    }
}

TEST(CommandLine, SwitchesAreCaseSensitiveSubstrings) {
    EXPECT_TRUE(wantsEnglish("/english"));
    EXPECT_TRUE(wantsEnglish("/set /english"));
    EXPECT_TRUE(wantsEnglish("x/englishy"));
    EXPECT_FALSE(wantsEnglish("/English"));
    EXPECT_FALSE(wantsEnglish(""));
    EXPECT_TRUE(wantsSettings("/set"));
    EXPECT_TRUE(wantsSettings("/english /settings"));
    EXPECT_FALSE(wantsSettings("/SET"));
    EXPECT_FALSE(wantsSettings("/english"));
    const char* argv[] = {"panoview", "/set", "/english"};
    EXPECT_EQ(commandLineTail(3, argv), "/set /english");
    EXPECT_EQ(commandLineTail(1, argv), "");
}

TEST(CommandLine, CommandWordsForTheRunningCopy) {
    const std::pair<const char*, const char*> cases[] = {
        {"--login", "login"},
        {"/english --settings", "settings"},
        {"--settings --login", "settings"},
        {"--login=1", ""},
        {"-login", ""},
        {"", ""},
        {"/set", ""},
    };
    for (const auto& [tail, word] : cases)
        EXPECT_EQ(commandWord(tail), word) << tail;
    EXPECT_TRUE(wantsSettings("--settings"));
    EXPECT_FALSE(wantsSettings("--login"));
}

TEST_F(StartupTest, ALaterStartHandsItsCommandToTheRunningCopy) {
    struct Case {
        const char* tail;
        std::optional<int> answer;
        std::vector<std::string> steps;
    };
    const Case cases[] = {
        // A plain second start still ends silently with status 0.
        {"", 0, {"lock"}},
        {"/english", std::nullopt, {"lock"}},
        {"--login", 0, {"lock", "send:login", "exit:0"}},
        {"--settings", 2, {"lock", "send:settings", "exit:2"}},
        // A copy holds the lock but nobody answers: status 1.
        {"--login", std::nullopt, {"lock", "send:login", "exit:1"}},
    };
    for (const Case& c : cases) {
        Recorder r;
        r.lock = platform::InstanceLock::AlreadyHeld;
        r.answer = c.answer;
        CPanoviewApp app(r.services());
        EXPECT_FALSE(app.InitInstance(c.tail));
        EXPECT_EQ(r.steps, c.steps) << c.tail;
        EXPECT_EQ(theSystemConfig, nullptr);
    }
}

// The questions for the running copy are asked before anything else, with or
// without a display or a copy holding the lock, and never start a copy.
TEST_F(StartupTest, QuestionsForTheRunningCopyEndWithItsAnswersStatus) {
    struct Case {
        const char* tail;
        bool windows;
        std::optional<int> answer;
        std::vector<std::string> steps;
    };
    const Case cases[] = {
        {"--status", true, 0, {"send:status", "exit:0"}},
        {"--status --json", false, 0, {"send:status json", "exit:0"}},
        {"--json --status", true, std::nullopt, {"send:status json", "exit:1"}},
        {"--reload", true, 2, {"send:reload", "exit:2"}},
        {"--reload WALL1", true, 0, {"send:reload WALL1", "exit:0"}},
        {"--screenshot shots", true, 0, {"send:screenshot /home/op/shots", "exit:0"}},
        {"--screenshot /tmp/my shots", true, 0, {"send:screenshot /tmp/my shots", "exit:0"}},
        {"--screenshot", true, 0, {"exit:2"}},
        {"--screenshot --json", true, 0, {"exit:2"}},
    };
    for (const Case& c : cases) {
        Recorder r;
        r.windows = c.windows;
        r.answer = c.answer;
        DebugCapture capture;
        StartupServices services = r.services();
        services.workingFolder = [] { return std::string("/home/op"); };
        CPanoviewApp app(services);
        EXPECT_FALSE(app.InitInstance(c.tail));
        EXPECT_EQ(r.steps, c.steps) << c.tail;
        EXPECT_EQ(theSystemConfig, nullptr) << c.tail;
        // No copy answers, or the words are wrong: one line says why (an
        // answer the copy gives is printed by the sender).
        if (!c.answer.has_value() || c.steps.size() == 1) {
            EXPECT_EQ(capture.writes().size(), 1u) << c.tail;
        }
    }
}

// The arguments as given reach the running copy whole: an empty or blank
// one (a script's empty variable) is handed over for the copy to refuse,
// not taken for the word alone, and a quoted monitor list stays one list.
TEST_F(StartupTest, ArgumentsReachTheRunningCopyWhole) {
    struct Case {
        std::vector<std::string> arguments;
        std::vector<std::string> steps;
    };
    const Case cases[] = {
        {{"--reload"}, {"send:reload", "exit:0"}},
        {{"--reload", ""}, {"send:reload ", "exit:0"}},
        {{"--reload", " \t"}, {"send:reload  \t", "exit:0"}},
        {{"--reload", "WALL1 WALL2"}, {"send:reload WALL1 WALL2", "exit:0"}},
        {{"--reload", "WALL1", "2"}, {"send:reload WALL1 2", "exit:0"}},
        {{"--reload", "WALL1", "--json"}, {"send:reload WALL1", "exit:0"}},
        {{"--screenshot", "/tmp/my shots"}, {"send:screenshot /tmp/my shots", "exit:0"}},
        {{"--screenshot", ""}, {"exit:2"}},
    };
    for (const Case& c : cases) {
        Recorder r;
        r.answer = 0;
        DebugCapture capture;
        StartupServices services = r.services();
        services.arguments = [&c] { return c.arguments; };
        CPanoviewApp app(services);
        EXPECT_FALSE(app.InitInstance("ignored: the arguments are whole"));
        EXPECT_EQ(r.steps, c.steps) << c.arguments.size() << " arguments: " << c.arguments.back();
    }
}

TEST(CommandLine, ModuleDirectoryIsTheTextBeforeTheLastSlash) {
    EXPECT_EQ(moduleDirectoryOf("/A/B/panoview"), "/A/B");
    EXPECT_EQ(moduleDirectoryOf("/panoview"), "");
    EXPECT_EQ(moduleDirectoryOf("panoview"), "panoview");
    EXPECT_EQ(moduleDirectoryOf(""), "");
    // A Windows path: the folder before the last backslash, no backslash
    // after it; a Linux path keeps a backslash of a file name.
    EXPECT_EQ(moduleDirectoryOf("C:\\A\\B\\Panoview.exe", "\\/"), "C:\\A\\B");
    EXPECT_EQ(moduleDirectoryOf("Z:\\wall/bin\\Panoview.exe", "\\/"), "Z:\\wall/bin");
    EXPECT_EQ(moduleDirectoryOf("Panoview.exe", "\\/"), "Panoview.exe");
    EXPECT_EQ(moduleDirectoryOf("/opt/a\\b/panoview"), "/opt/a\\b");
}
