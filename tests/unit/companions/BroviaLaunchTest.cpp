// Brovia's start against stand-ins, without Chromium or a display: the
// profiles and what an ended page browser leaves of them, finding the page
// browsers' host, and a Chromium of the page's own where no host answers.
#include "ChromiumLaunch.h"
#include "TempDir.h"
#include "common/HiddenToken.h"

#include "platform/CommandSocket.h"

#include <gtest/gtest.h>
#include <json/json.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::string script(const TempDir& dir, const std::string& name, const std::string& body) {
    dir.write(name, "#!/bin/sh\n" + body);
    chmod(dir.file(name).c_str(), 0755);
    return dir.file(name);
}

// A line from the descriptor, without its line feed.
std::string readLine(int fd) {
    std::string line;
    char ch = 0;
    while (read(fd, &ch, 1) == 1 && ch != '\n')
        line += ch;
    return line;
}

// Waits for the child, killing it after a guard that only a hang reaches;
// its wait status.
int reap(pid_t pid) {
    int status = 0;
    const auto guard = std::chrono::steady_clock::now() + 120s;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > guard) {
            ADD_FAILURE() << "child " << pid << " hung";
            kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(10ms);
    }
    return status;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

namespace {

// A fresh profile is a private folder with a name no one can guess, named
// after its owner, and holds what Chromium is given.
void expectFreshProfileOfThisProcess(const std::string& base, const std::string& profile) {
    const std::string owner = "brovia-profile-" + std::to_string(getpid()) + "-" +
                              std::to_string(processStat(getpid())->startTime) + "-";
    EXPECT_EQ(profile.rfind(base + "/" + owner, 0), 0u) << profile;
    EXPECT_EQ(profile.size(), base.size() + 1 + owner.size() + 6) << profile; // mkdtemp's
    struct stat st {};
    EXPECT_EQ(lstat(profile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u) << profile;
    for (const char* folder : kProfileFolders)
        EXPECT_TRUE(isDirectory(profile + "/" + folder)) << folder;
    EXPECT_NE(TempDir::readFile(profile + "/Default/Preferences").find(R"("exit_type":"Normal")"),
              std::string::npos);
}

// How the child that made a profile ends.
enum class Ending { Exits, Killed, ExitsNotReaped };

// Forks a child that makes a profile in base and ends as told; the profile.
// The child is reaped, except one that is to stay a zombie.
std::string profileOfAnEndedChild(const std::string& base, Ending ending, pid_t& zombie) {
    int said[2];
    if (pipe(said) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        close(said[0]);
        const std::string profile = freshProfileFolder(base) + "\n";
        (void)!write(said[1], profile.data(), profile.size());
        if (ending == Ending::Killed)
            pause();
        _exit(0);
    }
    close(said[1]);
    const std::string profile = readLine(said[0]);
    close(said[0]);
    if (ending == Ending::Killed)
        kill(child, SIGKILL);
    if (ending == Ending::ExitsNotReaped) {
        siginfo_t info{};
        waitid(P_PID, id_t(child), &info, WEXITED | WNOWAIT);
        zombie = child;
    } else {
        reap(child);
    }
    return profile;
}

// The next start removes what page browsers that ended left (however they
// ended, reaped or not), and nothing else: not a running owner's profiles,
// not a folder of another name, not what a link with a profile's name
// points at.
TEST(BroviaProfiles, TheProfilesOfEndedOwnersGoAtTheNextStartAndNothingElse) {
    TempDir base, outside;
    pid_t zombie = -1;
    const std::vector<std::string> ended = {
        profileOfAnEndedChild(base.path(), Ending::Exits, zombie),
        profileOfAnEndedChild(base.path(), Ending::Killed, zombie),
        profileOfAnEndedChild(base.path(), Ending::ExitsNotReaped, zombie),
        // This process's id with another start time: a process that had the
        // id before.
        base.file("brovia-profile-" + std::to_string(getpid()) + "-1-abcdef"),
    };
    fs::create_directory(ended.back());
    for (const std::string& profile : ended)
        ASSERT_TRUE(isDirectory(profile)) << profile;

    const std::string running = freshProfileFolder(base.path());
    const std::string alsoRunning = freshProfileFolder(base.path());
    expectFreshProfileOfThisProcess(base.path(), running);
    EXPECT_NE(running, alsoRunning);
    const std::string other = base.file("brovia-profile-notes");
    fs::create_directory(other);
    outside.write("kept", "x");
    const std::string link = base.file("brovia-profile-999999999-1-ghijkl");
    fs::create_directory_symlink(outside.path(), link);

    EXPECT_EQ(removeProfilesOfEndedOwners(base.path()), 4);
    for (const std::string& profile : ended)
        EXPECT_FALSE(fs::exists(fs::symlink_status(profile))) << profile;
    EXPECT_TRUE(isDirectory(running));
    EXPECT_TRUE(isDirectory(alsoRunning));
    EXPECT_TRUE(isDirectory(other));
    EXPECT_EQ(outside.read("kept"), "x");
    if (zombie > 0)
        reap(zombie);
}

} // namespace

namespace {

// A host program that cannot run, ends at once or refuses is known without
// the wait, with what it said.
TEST(BroviaHost, NoHostAnswersWhenItsProgramCannotRunEndsOrRefuses) {
    TempDir dir;
    const std::string socket = dir.file("host.socket");
    dir.write("plain", "#!/bin/sh\n");
    chmod(dir.file("plain").c_str(), 0644);
    const std::string foreign = script(dir, "foreign", "");
    dir.write("foreign", "#!/nowhere/sh\n");
    const std::string ends = script(dir, "ends", "exit 1\n");
    const std::string refuses =
        script(dir, "refuses", "echo \"cannot listen at $1\" >&3\nexit 1\n");
    struct Case {
        const char* what;
        std::string program;
        std::string whyNot;
    };
    const Case cases[] = {
        {"missing", dir.file("none"), dir.file("none") + ": No such file or directory"},
        {"a folder", dir.path(), dir.path().string() + ": not a file"},
        {"not executable", dir.file("plain"), dir.file("plain") + ": Permission denied"},
        {"cannot be run", foreign, foreign + ": cannot run it: No such file or directory"},
        {"ends at once", ends, ends + " ended before it listened"},
        {"refuses", refuses, refuses + ": cannot listen at " + socket},
    };
    for (const Case& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const HostConnection host = connectToHost(c.program, socket, "/usr/bin/chromium", 60s);
        EXPECT_EQ(host.fd, -1) << c.what;
        EXPECT_EQ(host.whyNot, c.whyNot) << c.what;
        // Known at once: far within the wait (a guard, not a measure).
        EXPECT_LT(std::chrono::steady_clock::now() - start, 30s) << c.what;
    }
}

// A host that listens is used (its program is not needed then); one that
// says another host runs is started again until that one listens; one that
// says nothing is waited for as long as the wait.
TEST(BroviaHost, AHostIsUsedOnceItListensAndWaitedForOnlyAsLongAsTheWait) {
    TempDir dir;
    const std::string socket = dir.file("host.socket");
    {
        const int listener = platform::listenPrivateSocket(socket, "test host");
        ASSERT_GE(listener, 0);
        const HostConnection host = connectToHost(dir.file("none"), socket, "c", 60s);
        EXPECT_GE(host.fd, 0) << host.whyNot;
        close(host.fd);
        close(listener);
        unlink(socket.c_str());
    }
    {
        const std::string program =
            script(dir, "elsewhere",
                   "echo \"$# $2 $BROVIA_HOST_SAYS_FD\" >> " + dir.file("starts") + "\n" +
                       "echo 'another host runs' >&3\n");
        int listener = -1;
        // The other host listens once the first start has been told it runs.
        std::thread other([&] {
            while (!fs::exists(dir.file("starts")))
                std::this_thread::sleep_for(10ms);
            listener = platform::listenPrivateSocket(socket, "test host");
        });
        const HostConnection host = connectToHost(program, socket, "/usr/bin/chromium", 120s);
        other.join();
        EXPECT_GE(host.fd, 0) << host.whyNot;
        // Started as brovia-host SOCKET CHROMIUM, as the wall's suites find
        // it, and told where to say it.
        EXPECT_EQ(dir.read("starts").substr(0, 22), "2 /usr/bin/chromium 3\n");
        close(host.fd);
        close(listener);
    }
    {
        const std::string program =
            script(dir, "silent", "echo $$ > " + dir.file("silent.pid") + "\nexec sleep 120\n");
        const HostConnection host = connectToHost(program, dir.file("other.socket"), "c", 1s);
        EXPECT_EQ(host.fd, -1);
        EXPECT_EQ(host.whyNot, program + " did not answer within 1 s");
        const pid_t silent = std::atoi(dir.read("silent.pid").c_str());
        if (silent > 0)
            kill(silent, SIGKILL);
    }
}

// Starts brovia-host as a Brovia does and returns what it says on the
// descriptor it was given.
std::string hostSays(const std::string& socket, const std::string& chromium, pid_t& host) {
    int said[2];
    if (pipe(said) != 0)
        return {};
    host = fork();
    if (host == 0) {
        dup2(said[1], 3);
        setenv("BROVIA_HOST_SAYS_FD", "3", 1);
        execl(BROVIA_HOST_PROGRAM, "brovia-host", socket.c_str(), chromium.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(said[1]);
    const std::string line = readLine(said[0]);
    close(said[0]);
    return line;
}

// brovia-host says whether it listens, another host does, and ends once its
// last page has gone.
TEST(BroviaHost, TheHostSaysWhetherItListensAndEndsWithItsLastPage) {
    TempDir dir;
    setenv("XDG_STATE_HOME", dir.file("state").c_str(), 1); // the host's log
    const std::string socket = dir.file("host.socket");
    const std::string chromium = script(dir, "chromium", "exec sleep 60\n");
    pid_t first = -1, second = -1;
    EXPECT_EQ(hostSays(socket, chromium, first), kHostListening);
    EXPECT_EQ(hostSays(socket, chromium, second), kHostElsewhere);
    reap(second);
    const int page = platform::connectPrivateSocket(socket);
    EXPECT_GE(page, 0);
    close(page);
    const int status = reap(first);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(fs::exists(socket));
}

// The page browser of a whole monitor without a host: its page shows in a
// Chromium of its own (a stand-in that says how it was started), and its log
// says why in exactly one line besides the page's state.
TEST(BroviaHost, WithoutAHostThePageGetsAChromiumOfItsOwnAndOneLineSaysWhy) {
    struct Case {
        const char* what;
        std::string host; // the program's body; empty: none
        bool listens;     // a host listens, takes the page and drops it
        std::string why;  // empty: the host had worked, and Brovia ends for the wall to restart
        std::string says = {}; // what the host says before it drops the page
    };
    const Case cases[] = {
        {"missing", "", false, ": No such file or directory)"},
        {"ends at once", "exit 1\n", false, " ended before it listened)"},
        {"refuses", "echo 'no profile folder or pipe' >&3\n", false,
         ": no profile folder or pipe)"},
        {"drops the page unanswered", "", true, "(the host's browser ended before it answered)"},
        // A host that answered has worked: its end is a crash the wall
        // answers by a new start (and a new host), not a Chromium of its own.
        {"answers, then drops the page", "", true, "",
         std::string(R"({"method":"Target.targetCreated","params":{}})") + '\0'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        fs::create_directory(dir.file("run"));
        const std::string chromium =
            script(dir, "chromium", "echo \"own chromium $1\" >&2\nexit 3\n");
        const std::string host = c.host.empty() ? dir.file("none") : script(dir, "host", c.host);
        int listener = -1;
        if (c.listens)
            listener = platform::listenPrivateSocket(dir.file("run/brovia-host.socket"), "host");
        const pid_t child = fork();
        if (child == 0) {
            setenv("XDG_RUNTIME_DIR", dir.file("run").c_str(), 1);
            setenv("XDG_STATE_HOME", dir.file("state").c_str(), 1);
            setenv("BROVIA_HOST", host.c_str(), 1);
            unsetenv("BROVIA_REPORT_FD");
            unsetenv("DISPLAY");
            const int err = open(dir.file("err").c_str(), O_WRONLY | O_CREAT, 0600);
            dup2(err, STDERR_FILENO);
            _exit(showThroughHost(chromium, PagePlacement{0, 0, 10, 10, "http://h/p"}));
        }
        if (c.listens) {
            pollfd waiting{listener, POLLIN, 0};
            poll(&waiting, 1, 120000);
            const int page = accept(listener, nullptr, nullptr);
            (void)!write(page, c.says.data(), c.says.size());
            close(page);
            close(listener);
        }
        const int status = reap(child);
        ASSERT_TRUE(WIFEXITED(status));
        if (c.why.empty()) {
            EXPECT_EQ(WEXITSTATUS(status), 1) << "ended for the wall to start it again";
            const std::string log = TempDir::readFile(dir.file("state/panoview/brovia-0,0.log"));
            EXPECT_EQ(log.find("own chromium"), std::string::npos) << log;
            EXPECT_NE(log.find("Brovia: the page browsers' host has gone; ending"),
                      std::string::npos)
                << log;
            continue;
        }
        EXPECT_EQ(WEXITSTATUS(status), 3); // the stand-in's
        const std::string log = TempDir::readFile(dir.file("state/panoview/brovia-0,0.log"));
        EXPECT_NE(log.find("own chromium --app=data:,\n"), std::string::npos) << log;
        std::vector<std::string> said;
        for (size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1)
            if (log.compare(at, 8, "Brovia: ") == 0 && log.compare(at, 13, "Brovia: page ") != 0)
                said.push_back(log.substr(at, end - at));
        ASSERT_EQ(said.size(), 1u) << log;
        EXPECT_EQ(said[0].rfind("Brovia: no page browsers' host (", 0), 0u) << said[0];
        EXPECT_NE(said[0].find(c.why + ": the page gets a Chromium of its own"), std::string::npos)
            << said[0];
    }
}

} // namespace

namespace {

// The token of an address, hidden as "***" in texts and as '*' over its
// own bytes in a command line.
TEST(HiddenToken, TheTokenOfAnAddressIsFoundAndHidden) {
    struct Case {
        std::string address;
        std::string token;
        std::string hidden;
        std::string starred;
    };
    const Case cases[] = {
        {"http://site/KnitUI/W_Factory.html?token=AbC-12&flag=multiscreen", "AbC-12",
         "http://site/KnitUI/W_Factory.html?token=***&flag=multiscreen",
         "http://site/KnitUI/W_Factory.html?token=******&flag=multiscreen"},
        {"http://site/p?flag=multiscreen&token=AbC-12", "AbC-12",
         "http://site/p?flag=multiscreen&token=***", "http://site/p?flag=multiscreen&token=******"},
        {"http://site/p?token=AbC-12#token=x", "AbC-12", "http://site/p?token=***#token=x",
         "http://site/p?token=******#token=x"},
        // Each token parameter goes; an empty one stays empty.
        {"http://site/p?token=&token=Zz9", "Zz9", "http://site/p?token=&token=***",
         "http://site/p?token=&token=***"},
        // Only a parameter named token: not one whose name ends so, not the
        // path.
        {"http://site/token=abc/p?mytoken=abc&xtoken=abc", "",
         "http://site/token=abc/p?mytoken=abc&xtoken=abc",
         "http://site/token=abc/p?mytoken=abc&xtoken=abc"},
        {"http://site/p", "", "http://site/p", "http://site/p"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(tokenOfAddress(c.address), c.token);
        EXPECT_EQ(addressWithTokenHidden(c.address), c.hidden);
        std::string starred = c.address;
        starTokenInPlace(starred.data());
        EXPECT_EQ(starred, c.starred);
    }
    EXPECT_EQ(
        hideTokenIn("the page answered 401 at http://s/p?token=AbC-12 (AbC-12AbC-12)", "AbC-12"),
        "the page answered 401 at http://s/p?token=*** (******)");
    EXPECT_EQ(hideTokenIn("nothing to hide", ""), "nothing to hide");
}

// What Brovia writes of its page, the page's state on the wall's
// descriptor and every line of its log, quotes the page's address with its
// token as "***" (a 401, a login page of another origin).
TEST(HiddenToken, NoLineOfBroviasHoldsTheToken) {
    const std::string url = "http://h/p?token=AbC-12&flag=multiscreen";
    TempDir dir;
    const int log = open(dir.file("log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int reported = open(dir.file("reports").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    setenv("BROVIA_REPORT_FD", std::to_string(reported).c_str(), 1);
    StateReports reports;
    unsetenv("BROVIA_REPORT_FD");
    reports.hideToken(tokenOfAddress(url));
    reports.setLog(log);
    reports.report({PageCondition::NeedsSignIn, 1, 0, "the page answered 401 at " + url});
    reports.line("Brovia: landed on http://sso/login?back=" + url + "\n");
    close(log);
    close(reported);
    const std::string hidden = "http://h/p?token=***&flag=multiscreen";
    EXPECT_EQ(dir.read("reports"), "page sign-in 1 0 the page answered 401 at " + hidden + "\n");
    EXPECT_EQ(dir.read("log"), "Brovia: page sign-in 1 0 the page answered 401 at " + hidden +
                                   "\nBrovia: landed on http://sso/login?back=" + hidden + "\n");
}

// A scripted Chromium on the other ends of a page's pipe: each command it
// reads goes to `answer`, which writes what Chromium would; it runs until
// Brovia closes its end.
class ScriptedChromium {
public:
    using Answer = std::function<void(ScriptedChromium&, const Json::Value& command)>;
    explicit ScriptedChromium(Answer answer) : answer_(std::move(answer)) {
        int toBrowser[2], fromBrowser[2];
        if (pipe2(toBrowser, O_CLOEXEC) != 0 || pipe2(fromBrowser, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        ends.commands = toBrowser[1];
        ends.messages = fromBrowser[0];
        commands_ = toBrowser[0];
        messages_ = fromBrowser[1];
        thread_ = std::thread([this] { run(); });
    }
    ~ScriptedChromium() { finish(); }
    // Brovia's end closed; the commands Chromium read, in order.
    const std::vector<Json::Value>& finish() {
        if (ends.commands >= 0)
            close(ends.commands);
        ends.commands = -1;
        if (thread_.joinable())
            thread_.join();
        if (ends.messages >= 0)
            close(ends.messages);
        ends.messages = -1;
        return seen_;
    }
    void say(Json::Value message) {
        if (messages_ < 0)
            return;
        Json::StreamWriterBuilder writer;
        writer["indentation"] = "";
        const std::string text = Json::writeString(writer, message) + '\0';
        (void)!write(messages_, text.data(), text.size());
    }
    void reply(const Json::Value& command, Json::Value result) {
        Json::Value message(Json::objectValue);
        message["id"] = command["id"];
        message["result"] = std::move(result);
        if (command.isMember("sessionId"))
            message["sessionId"] = command["sessionId"];
        say(message);
    }
    void refuse(const Json::Value& command, const std::string& why) {
        Json::Value message(Json::objectValue);
        message["id"] = command["id"];
        message["error"]["message"] = why;
        say(message);
    }
    void end() {
        if (messages_ >= 0)
            close(messages_);
        messages_ = -1;
    }

    PipeEnds ends;

private:
    void run() {
        devtools::MessageSplitter splitter;
        char buffer[4096];
        ssize_t n;
        while ((n = read(commands_, buffer, sizeof buffer)) > 0)
            for (const std::string& text : splitter.feed({buffer, size_t(n)})) {
                Json::Value command;
                std::istringstream(text) >> command;
                seen_.push_back(command);
                answer_(*this, command);
            }
        close(commands_);
        end();
    }

    Answer answer_;
    int commands_ = -1;
    int messages_ = -1;
    std::vector<Json::Value> seen_;
    std::thread thread_;
};

Json::Value targetCreated(const std::string& id, const std::string& type) {
    Json::Value event(Json::objectValue);
    event["method"] = "Target.targetCreated";
    event["params"]["targetInfo"]["targetId"] = id;
    event["params"]["targetInfo"]["type"] = type;
    return event;
}

// A Chromium that shows its app window's page as it should.
void showsItsPage(ScriptedChromium& chromium, const Json::Value& command) {
    const std::string method = command["method"].asString();
    if (method == "Target.setDiscoverTargets") {
        chromium.reply(command, Json::Value(Json::objectValue));
        chromium.say(targetCreated("B1", "browser"));
        chromium.say(targetCreated("W1", "service_worker"));
        chromium.say(targetCreated("P1", "page"));
    } else if (method == "Target.attachToTarget") {
        Json::Value result(Json::objectValue);
        result["sessionId"] = "S-" + command["params"]["targetId"].asString();
        chromium.reply(command, result);
    } else {
        chromium.reply(command, Json::Value(Json::objectValue));
    }
}

// A page's own Chromium is told its address over the pipe, on the app
// window's page, after that page was made empty for the watch; a browser
// that ends, refuses or stays silent meanwhile is told apart.
TEST(BroviaAddress, TheAppWindowsPageIsBlankedOverThePipeAndTheAddressGoesNowhereElse) {
    const std::string url = "http://h/KnitUI/W_Factory.html?token=AbC-12&flag=multiscreen";
    {
        SCOPED_TRACE("shows its page");
        ScriptedChromium chromium(showsItsPage);
        EXPECT_FALSE(blankTheAppWindow(chromium.ends, 120s).has_value());
        const std::vector<Json::Value>& seen = chromium.finish();
        std::vector<std::string> told;
        for (const Json::Value& command : seen)
            told.push_back(command["method"].asString() + " " +
                           command.get("sessionId", "-").asString() + " " +
                           command["params"].get("targetId", "").asString() +
                           command["params"].get("url", "").asString() +
                           command["params"].get("sessionId", "").asString());
        const std::vector<std::string> expected = {
            "Target.setDiscoverTargets - ", "Target.attachToTarget - P1",
            "Page.navigate S-P1 about:blank", "Target.detachFromTarget - S-P1"};
        EXPECT_EQ(told, expected);
        EXPECT_TRUE(seen[1]["params"]["flatten"].asBool());
    }
    struct Case {
        const char* what;
        ScriptedChromium::Answer answer;
        std::chrono::milliseconds wait;
        WatchEnd end;
        std::string why;
    };
    const Case cases[] = {
        {"ends before its page", [](ScriptedChromium& c, const Json::Value&) { c.end(); }, 120s,
         WatchEnd::BrowserEnded, ""},
        {"refuses the attach",
         [](ScriptedChromium& c, const Json::Value& command) {
             if (command["method"] == "Target.attachToTarget")
                 c.refuse(command, "No target with given id found");
             else
                 showsItsPage(c, command);
         },
         120s, WatchEnd::BrowserHung,
         "Target.attachToTarget refused: No target with given id found"},
        {"makes no page",
         [](ScriptedChromium& c, const Json::Value& command) {
             c.reply(command, Json::Value(Json::objectValue));
         },
         50ms, WatchEnd::BrowserHung, "the app window's page unanswered"},
        {"answers no navigation",
         [](ScriptedChromium& c, const Json::Value& command) {
             if (command["method"] != "Page.navigate")
                 showsItsPage(c, command);
         },
         50ms, WatchEnd::BrowserHung, "Page.navigate unanswered"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedChromium chromium(c.answer);
        const std::optional<WatchOutcome> ended = blankTheAppWindow(chromium.ends, c.wait);
        ASSERT_TRUE(ended.has_value());
        EXPECT_EQ(ended->end, c.end);
        EXPECT_EQ(ended->why, c.why);
        // The address went nowhere.
        for (const Json::Value& command : chromium.finish())
            EXPECT_NE(command["params"].get("url", "").asString(), url);
    }
}

// Chromium ends at its start when the socket in its temporary folder (inside
// the profile) has no room in a socket address: a private folder in a long
// home folder is passed over for a shorter one.
TEST(BroviaProfiles, AProfileLeavesChromiumRoomForItsSocket) {
    EXPECT_TRUE(leavesRoomForChromium("/tmp"));
    EXPECT_FALSE(leavesRoomForChromium("/home/operator-of-the-knitting-hall/.cache/panoview-run"));
    TempDir base;
    const std::string profile = freshProfileFolder(base.path());
    ASSERT_FALSE(profile.empty());
    const std::string deepest = profile + "/tmp/org.chromium.Chromium.XXXXXX/SingletonSocket";
    EXPECT_EQ(deepest.size() <= 107, leavesRoomForChromium(base.path())) << deepest;

    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string keep = saved ? saved : "";
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_TRUE(leavesRoomForChromium(profileBase())) << profileBase();
    if (saved)
        setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
}

} // namespace
