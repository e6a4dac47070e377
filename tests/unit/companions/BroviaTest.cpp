// Brovia refuses every rectangle X11 cannot show before it opens a window or
// starts a browser, keeps Chromium's own diagnostics off its terminal, and
// leaves nothing of Chromium's behind, however it ends.
#include "BroviaRun.h"
#include "TempDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> rectangle(const std::string& left, const std::string& top,
                                   const std::string& bottom, const std::string& right) {
    return {"/left", left, "/top", top, "/bottom", bottom, "/right", right, "/url", "http://h/p"};
}

TEST(Brovia, CoordinatesBeyondWhatX11ShowsAreRefused) {
    struct Case {
        std::vector<std::string> args;
        bool accepted;
    };
    const Case cases[] = {
        {rectangle("0", "0", "32767", "32767"), true},
        {rectangle("-32768", "-32768", "0", "0"), true},
        {rectangle("0", "0", "1040", "32768"), false},
        {rectangle("0", "0", "32768", "1920"), false},
        {rectangle("-32769", "0", "1040", "0"), false},
        {rectangle("0", "-32769", "0", "1920"), false},
        {rectangle("0", "0", "99999999999", "1920"), false},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& a : c.args)
            line += a + " ";
        SCOPED_TRACE(line);
        const int status = runBroviaWithoutDisplay(c.args);
        if (c.accepted)
            EXPECT_NE(status, 2);
        else
            EXPECT_EQ(status, 2);
    }
}

} // namespace

namespace {

// Runs Brovia with a stand-in for Chromium (a script that writes to both its
// outputs and ends with status 3) and no display; Brovia's own standard error
// goes to brovia.err in the folder. Returns Brovia's exit status.
int runWithFakeChromium(const TempDir& dir,
                        const std::vector<std::pair<std::string, std::string>>& env,
                        const std::string& message) {
    dir.write("fake-chromium",
              "#!/bin/sh\necho \"" + message + " $1\" >&2\necho to-stdout\nexit 3\n");
    chmod(dir.file("fake-chromium").c_str(), 0755);
    return runBrovia(rectangle("-1280", "0", "1040", "0"), [&] {
        unsetenv("DISPLAY");
        unsetenv("XDG_STATE_HOME");
        setenv("BROVIA_CHROMIUM", dir.file("fake-chromium").c_str(), 1);
        for (const auto& [name, value] : env)
            setenv(name.c_str(), value.c_str(), 1);
        int err = open(dir.file("brovia.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(err, 2);
    });
}

// The log without Brovia's own lines ("Brovia: ...").
std::string browserLines(const std::string& log) {
    std::string kept;
    for (size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1)
        if (log.compare(at, 8, "Brovia: ") != 0)
            kept += log.substr(at, end + 1 - at);
    return kept;
}

TEST(Brovia, ChromiumDiagnosticsGoToALogPerDisplayPositionStartedAfreshEachLaunch) {
    TempDir dir;
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> env;
        std::string log;
    };
    const Case cases[] = {
        {"state folder",
         {{"XDG_STATE_HOME", dir.file("state")}},
         dir.file("state") + "/panoview/brovia--1280,0.log"},
        {"default under home",
         {{"HOME", dir.file("home")}},
         dir.file("home") + "/.local/state/panoview/brovia--1280,0.log"},
        {"relative state folder ignored",
         {{"HOME", dir.file("home2")}, {"XDG_STATE_HOME", "relative/state"}},
         dir.file("home2") + "/.local/state/panoview/brovia--1280,0.log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(runWithFakeChromium(dir, c.env, "first launch"), 3);
        EXPECT_EQ(browserLines(TempDir::readFile(c.log)), "first launch --app=data:,\nto-stdout\n");
        EXPECT_EQ(runWithFakeChromium(dir, c.env, "second launch"), 3);
        EXPECT_EQ(browserLines(TempDir::readFile(c.log)),
                  "second launch --app=data:,\nto-stdout\n");
        // Brovia's own lines there: the page's state as it changes.
        EXPECT_NE(TempDir::readFile(c.log).find("Brovia: page loading 1 0 starting\n"),
                  std::string::npos);
        // Nothing of the browser's reaches Brovia's own terminal.
        EXPECT_EQ(dir.read("brovia.err").find("launch"), std::string::npos)
            << dir.read("brovia.err");
    }
}

} // namespace

namespace {

// With BROVIA_REPORT_FD naming an inherited descriptor, each change of the
// page's state goes there as one report line; a descriptor that is not open
// is said in the log and the page still runs.
TEST(Brovia, PageStateLinesGoToTheDescriptorTheWallGives) {
    TempDir dir;
    dir.write("fake-chromium", "#!/bin/sh\n"
                               "[ -e /proc/self/fd/7 ] && echo inherited >&2\n"
                               "exit 3\n");
    chmod(dir.file("fake-chromium").c_str(), 0755);
    struct Case {
        const char* name;
        const char* fd;
        bool delivered;
        const char* logSays;
    };
    const Case cases[] = {
        {"given", "7", true, "Brovia: page loading 1 0 starting\n"},
        {"not open", "250", false, "BROVIA_REPORT_FD=250 is not an open descriptor"},
        {"not a number", "7x", false, "BROVIA_REPORT_FD=7x is not an open descriptor"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string reports = dir.file(std::string("reports-") + c.fd);
        const int status = runBrovia(rectangle("0", "0", "10", "10"), [&] {
            unsetenv("DISPLAY");
            setenv("XDG_STATE_HOME", dir.file("state").c_str(), 1);
            setenv("BROVIA_CHROMIUM", dir.file("fake-chromium").c_str(), 1);
            setenv("BROVIA_REPORT_FD", c.fd, 1);
            int fd = open(reports.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 7);
        });
        EXPECT_EQ(status, 3);
        const std::string log = TempDir::readFile(dir.file("state") + "/panoview/brovia-0,0.log");
        EXPECT_NE(log.find(c.logSays), std::string::npos) << log;
        // The browser never holds the wall's descriptor.
        if (c.delivered) {
            EXPECT_EQ(log.find("inherited"), std::string::npos) << log;
        }
        EXPECT_EQ(TempDir::readFile(reports), c.delivered ? "page loading 1 0 starting\n" : "");
    }
}

} // namespace

namespace {

// Chromium starts with its temporary folders and crash dumps in its profile
// and, where the session has no HOME, its home, configuration and caches
// there too; with HOME, the user's stay. All of it goes with the profile
// when Brovia ends.
TEST(Brovia, ChromiumKeepsWhatItWritesForItselfInItsProfile) {
    TempDir dir;
    dir.write("fake-chromium", "#!/bin/sh\n"
                               "for a; do case $a in --user-data-dir=*)"
                               " echo \"PROFILE=${a#--user-data-dir=}\" > \"$0.env\";; esac; done\n"
                               "env >> \"$0.env\"\n"
                               "exit 3\n");
    chmod(dir.file("fake-chromium").c_str(), 0755);
    for (const bool home : {false, true}) {
        SCOPED_TRACE(home ? "with HOME" : "without HOME");
        const int status = runBrovia(rectangle("0", "0", "10", "10"), [&] {
            unsetenv("DISPLAY");
            unsetenv("XDG_CACHE_HOME");
            unsetenv("BREAKPAD_DUMP_LOCATION");
            if (home) {
                setenv("HOME", dir.file("home").c_str(), 1);
                setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
            } else {
                unsetenv("HOME");
                unsetenv("XDG_CONFIG_HOME");
            }
            setenv("XDG_STATE_HOME", dir.file("state").c_str(), 1);
            setenv("BROVIA_CHROMIUM", dir.file("fake-chromium").c_str(), 1);
        });
        EXPECT_EQ(status, 3);
        std::map<std::string, std::string> env;
        const std::string text = dir.read("fake-chromium.env");
        for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            const std::string line = text.substr(at, end - at);
            env.emplace(line.substr(0, line.find('=')), line.substr(line.find('=') + 1));
        }
        const std::string p = env["PROFILE"];
        ASSERT_FALSE(p.empty()) << text;
        EXPECT_EQ(env["TMPDIR"], p + "/tmp");
        EXPECT_EQ(env["BREAKPAD_DUMP_LOCATION"], p + "/crash");
        EXPECT_EQ(env["HOME"], home ? dir.file("home") : p + "/home");
        EXPECT_EQ(env["XDG_CONFIG_HOME"], home ? dir.file("config") : p + "/home/.config");
        EXPECT_EQ(env.count("XDG_CACHE_HOME"), home ? 0u : 1u);
        EXPECT_FALSE(std::filesystem::exists(p)) << p;
    }
}

// SIGTERM, SIGINT and SIGHUP while Chromium starts: Brovia ends the browser,
// removes the profile and the temporary folders Chromium made, and ends with
// the signal.
TEST(Brovia, AnEndingSignalLeavesNoProfileNorTemporaryFolderBehind) {
    using namespace std::chrono_literals;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        TempDir dir;
        // The stand-in notes its profile, makes a temporary folder as
        // Chromium does, and waits to be ended.
        dir.write("fake-chromium", "#!/bin/sh\n"
                                   "for a; do case $a in --user-data-dir=*)"
                                   " echo \"${a#--user-data-dir=}\" > \"$0.profile\";; esac; done\n"
                                   "mktemp -d > \"$0.new\" && mv \"$0.new\" \"$0.tmp\"\n"
                                   "exec sleep 120\n");
        chmod(dir.file("fake-chromium").c_str(), 0755);
        int status = 0;
        // The wall's stop in another suite may end this Brovia with SIGKILL
        // (see runBrovia): such a run is run again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            std::filesystem::remove(dir.file("fake-chromium.tmp"));
            const pid_t brovia = fork();
            if (brovia == 0) {
                unsetenv("DISPLAY");
                setenv("XDG_STATE_HOME", dir.file("state").c_str(), 1);
                setenv("BROVIA_CHROMIUM", dir.file("fake-chromium").c_str(), 1);
                std::vector<std::string> args = rectangle("0", "0", "10", "10");
                std::vector<char*> argv{const_cast<char*>(BROVIA_PROGRAM)};
                for (auto& a : args)
                    argv.push_back(a.data());
                argv.push_back(nullptr);
                execv(argv[0], argv.data());
                _exit(127);
            }
            const auto guard = std::chrono::steady_clock::now() + 60s;
            while (!std::filesystem::exists(dir.file("fake-chromium.tmp")) &&
                   waitpid(brovia, &status, WNOHANG) == 0 &&
                   std::chrono::steady_clock::now() < guard)
                std::this_thread::sleep_for(10ms);
            kill(brovia, signal);
            waitpid(brovia, &status, 0);
            if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL)
                break;
        }
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), signal);
        std::string profile = dir.read("fake-chromium.profile");
        std::string temporary = dir.read("fake-chromium.tmp");
        profile.erase(profile.find_last_not_of('\n') + 1);
        temporary.erase(temporary.find_last_not_of('\n') + 1);
        ASSERT_FALSE(profile.empty());
        EXPECT_EQ(temporary.rfind(profile + "/tmp/", 0), 0u) << temporary;
        // Gone by the time Brovia has ended.
        EXPECT_FALSE(std::filesystem::exists(profile)) << profile;
    }
}

} // namespace

namespace {

constexpr const char* kToken = "6f1c2a9e-77b0-4d2e-9c3f-0a1b2c3d4e5f";

// The words of a command line as /proc/<pid>/cmdline gives them (NUL after
// each).
std::vector<std::string> words(const std::string& cmdline) {
    std::vector<std::string> result;
    for (size_t at = 0, end; (end = cmdline.find('\0', at)) != std::string::npos; at = end + 1)
        result.push_back(cmdline.substr(at, end - at));
    return result;
}

// The session token leaves Brovia only over the DevTools pipe: Chromium's
// command line and environment never hold it, Brovia's own command line
// (read by its Chromium while Brovia waits for it) shows the same words with
// the token's bytes as '*', and neither the log nor the report lines hold it.
TEST(Brovia, TheSessionTokenIsOnNoCommandLineInNoEnvironmentAndInNoLine) {
    const std::string token = kToken;
    const std::string stars(token.size(), '*');
    struct Case {
        std::string url;
        std::string shown; // the address on Brovia's command line afterwards
    };
    const Case cases[] = {
        {"http://h/KnitUI/W_Factory.html?token=" + token + "&flag=multiscreen",
         "http://h/KnitUI/W_Factory.html?token=" + stars + "&flag=multiscreen"},
        {"http://h/p?flag=multiscreen&token=" + token,
         "http://h/p?flag=multiscreen&token=" + stars},
        {"http://h/p?token=" + token + "#top", "http://h/p?token=" + stars + "#top"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        TempDir dir;
        dir.write("fake-chromium", "#!/bin/sh\n"
                                   "printf '%s\\n' \"$@\" > \"$0.args\"\n"
                                   "env > \"$0.env\"\n"
                                   "cat /proc/$PPID/cmdline > \"$0.parent\"\n"
                                   "exit 3\n");
        chmod(dir.file("fake-chromium").c_str(), 0755);
        std::vector<std::string> args = rectangle("0", "0", "10", "10");
        args.back() = c.url;
        const int status = runBrovia(args, [&] {
            unsetenv("DISPLAY");
            setenv("XDG_STATE_HOME", dir.file("state").c_str(), 1);
            setenv("BROVIA_CHROMIUM", dir.file("fake-chromium").c_str(), 1);
            setenv("BROVIA_REPORT_FD", "7", 1);
            const int fd = open(dir.file("reports").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 7);
        });
        EXPECT_EQ(status, 3);
        const std::string chromiumArgs = dir.read("fake-chromium.args");
        EXPECT_NE(chromiumArgs.find("--app=data:,\n"), std::string::npos) << chromiumArgs;
        const std::vector<std::string> brovia = words(dir.read("fake-chromium.parent"));
        std::vector<std::string> expected = {BROVIA_PROGRAM};
        expected.insert(expected.end(), args.begin(), args.end());
        expected.back() = c.shown;
        EXPECT_EQ(brovia, expected);
        const std::string log = TempDir::readFile(dir.file("state") + "/panoview/brovia-0,0.log");
        EXPECT_NE(log.find("Brovia: page loading 1 0 starting\n"), std::string::npos) << log;
        for (const std::string& text :
             {chromiumArgs, dir.read("fake-chromium.env"), log, dir.read("reports")})
            EXPECT_EQ(text.find(token), std::string::npos) << text;
    }
}

// Without Chromium the page shows in a plain window with its token as "***",
// said in the log; a plain window asked for (BROVIA_NO_CHROMIUM=1) is live,
// one that stands in for a missing browser is in the state no-browser, with
// one line that names what was looked for. Either way Brovia's command line
// no longer shows the token while its window is up.
TEST(Brovia, APlainWindowShowsTheAddressWithItsTokenHidden) {
    using namespace std::chrono_literals;
    const std::string token = kToken;
    const std::string url = "http://h/KnitUI/W_Factory.html?token=" + token + "&flag=multiscreen";
    const std::string hidden = "http://h/KnitUI/W_Factory.html?token=***&flag=multiscreen";
    TempDir dir;
    const std::string missing = dir.file("no-such-chromium");
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> env;
        std::string report;
        std::string why; // the log's line before what the window shows; empty: none
    };
    const Case cases[] = {
        {"asked for", {{"BROVIA_NO_CHROMIUM", "1"}}, "page live 1 0 plain window\n", ""},
        {"missing browser",
         {{"BROVIA_CHROMIUM", missing}},
         "page no-browser 1 0 no Chromium at " + missing +
             " (BROVIA_CHROMIUM): No such file or directory\n",
         "Brovia: no Chromium at " + missing +
             " (BROVIA_CHROMIUM): No such file or directory; the page shows in a plain "
             "window\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string state = dir.file(std::string("state-") + c.what);
        int reports[2];
        ASSERT_EQ(pipe(reports), 0);
        std::vector<std::string> args = rectangle("0", "0", "10", "10");
        args.back() = url;
        std::vector<char*> argv{const_cast<char*>(BROVIA_PROGRAM)};
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t brovia = fork();
        if (brovia == 0) {
            unsetenv("DISPLAY");
            unsetenv("BROVIA_NO_CHROMIUM");
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            setenv("XDG_STATE_HOME", state.c_str(), 1);
            setenv("BROVIA_REPORT_FD", "7", 1);
            for (const auto& [name, value] : c.env)
                setenv(name.c_str(), value.c_str(), 1);
            dup2(reports[1], 7);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(reports[1]);
        // The report comes once the window shows; a Brovia that ends first
        // closes the pipe.
        std::string line;
        char ch = 0;
        pollfd ready{reports[0], POLLIN, 0};
        while (poll(&ready, 1, 60000) == 1 && read(reports[0], &ch, 1) == 1 && ch != '\n')
            line += ch;
        close(reports[0]);
        const std::string proc = "/proc/" + std::to_string(brovia);
        const std::vector<std::string> shown = words(TempDir::readFile(proc + "/cmdline"));
        // Qt is the plain page's alone: Brovia has not loaded it, its child
        // brovia-plain draws the window, and its command line hides the
        // token too.
        const std::string broviaMaps = TempDir::readFile(proc + "/maps");
        const pid_t plain = std::atoi(
            TempDir::readFile(proc + "/task/" + std::to_string(brovia) + "/children").c_str());
        const std::string plainProc = "/proc/" + std::to_string(plain);
        const std::vector<std::string> plainShown =
            words(TempDir::readFile(plainProc + "/cmdline"));
        const std::string plainMaps = TempDir::readFile(plainProc + "/maps");
        kill(brovia, SIGTERM);
        int status = 0;
        waitpid(brovia, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
        EXPECT_EQ(broviaMaps.find("libQt6"), std::string::npos);
        ASSERT_GT(plain, 0);
        EXPECT_NE(plainMaps.find("libQt6Widgets"), std::string::npos);
        // Brovia's end takes the plain page with it.
        const auto ended = [&plainProc] {
            const std::string stat = TempDir::readFile(plainProc + "/stat");
            const size_t state = stat.rfind(") ");
            return state == std::string::npos || stat[state + 2] == 'Z';
        };
        for (int i = 0; i < 200 && !ended(); ++i)
            std::this_thread::sleep_for(50ms);
        EXPECT_TRUE(ended());
        ASSERT_EQ(plainShown.size(), args.size() + 1);
        EXPECT_EQ(plainShown[0], "brovia-plain");
        EXPECT_EQ(std::vector<std::string>(plainShown.begin() + 1, plainShown.end()),
                  std::vector<std::string>(shown.begin() + 1, shown.end()));
        EXPECT_EQ(line + "\n", c.report);
        ASSERT_EQ(shown.size(), args.size() + 1);
        EXPECT_EQ(shown.back(), "http://h/KnitUI/W_Factory.html?token=" +
                                    std::string(token.size(), '*') + "&flag=multiscreen");
        const std::string log = TempDir::readFile(state + "/panoview/brovia-0,0.log");
        EXPECT_EQ(log,
                  c.why + "Brovia: the plain window shows " + hidden + "\nBrovia: " + c.report);
        EXPECT_EQ(log.find(token), std::string::npos) << log;
    }
}

} // namespace
