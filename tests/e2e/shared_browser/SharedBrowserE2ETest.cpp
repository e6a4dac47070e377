// The signed-in wall of three monitors with Debian's Chromium: every page in
// one browser owned by brovia-host; a killed Brovia takes exactly its window
// and the wall keeper brings it back; a killed host brings every page back
// through a new one; another user is refused at the socket; the end of the
// program leaves no browser, host or profile behind. Installed without its
// host, every page still lights, each in a Chromium of its own.
#include "LoginDesk.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

using e2e::waitFor;
using namespace std::chrono_literals;

namespace {

const Rect kMonitors[] = {{0, 0, 640, 480}, {640, 0, 1280, 480}, {1280, 0, 1920, 480}};

// The words of a process's command line. Chromium rewrites its own into one
// text with blanks between the words, so both forms are split.
std::vector<std::string> wordsOf(pid_t pid) {
    std::vector<std::string> words;
    for (const std::string& part : commandLine(pid)) {
        std::istringstream in(part);
        for (std::string w; in >> w;)
            words.push_back(w);
    }
    return words;
}

// The first word of a command line, without its folder.
std::string programOf(pid_t pid) {
    const auto words = wordsOf(pid);
    return words.empty() ? "" : words[0].substr(words[0].rfind('/') + 1);
}

std::string profileOf(pid_t browser) {
    for (const std::string& word : wordsOf(browser))
        if (word.rfind("--user-data-dir=", 0) == 0)
            return word.substr(16);
    return "";
}

class SharedBrowser : public ::testing::Test, public LoginDesk {
protected:
    explicit SharedBrowser(const char* wall = "--monitors 640x480,640x480,640x480 --primary 0")
        : LoginDesk(wall, 3, true) {}

    std::string socketPath() { return dir.file("run") + "/brovia-host.socket"; }

    // The host serving this wall (its socket is in this wall's runtime
    // folder), if one runs.
    std::optional<pid_t> host() {
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const pid_t pid = std::atoi(entry.path().filename().c_str());
            const auto words = pid > 0 ? commandLine(pid) : std::vector<std::string>{};
            if (processRunning(pid) && words.size() == 3 && words[0] == "brovia-host" &&
                words[1] == socketPath())
                return pid;
        }
        return std::nullopt;
    }
    // Chromium renderer processes below a process.
    static size_t renderersBelow(pid_t top) {
        size_t count = 0;
        for (pid_t pid : descendantsOf(top)) {
            const auto words = wordsOf(pid);
            count += processRunning(pid) &&
                     std::find(words.begin(), words.end(), "--type=renderer") != words.end();
        }
        return count;
    }
    // Chromium browser processes (no --type=) below a process. A browser
    // forks a copy of itself for a moment while it starts its crash handler
    // (the copy starts the handler and ends, so that the handler is nobody's
    // child); that copy has the browser's command line but is no browser of
    // its own, and is told by its parent being the browser.
    static std::vector<pid_t> browsersBelow(pid_t top) {
        std::vector<pid_t> candidates;
        for (pid_t pid : descendantsOf(top)) {
            const auto words = wordsOf(pid);
            if (!processRunning(pid) || programOf(pid).find("chromium") == std::string::npos)
                continue;
            if (std::none_of(words.begin(), words.end(),
                             [](const std::string& w) { return w.rfind("--type=", 0) == 0; }))
                candidates.push_back(pid);
        }
        std::vector<pid_t> found;
        for (pid_t pid : candidates)
            if (std::find(candidates.begin(), candidates.end(), parentOf(pid)) == candidates.end())
                found.push_back(pid);
        return found;
    }
    // The monitors that a window of the host's browser covers exactly.
    std::set<int> lit() {
        const auto h = host();
        return h ? coveredBy(descendantsOf(*h)) : std::set<int>{};
    }
    // The monitors that a window of one of these processes covers exactly.
    std::set<int> coveredBy(const std::vector<pid_t>& family) {
        std::set<int> covered;
        for (const auto& top : probe.topWindows())
            for (pid_t pid : family)
                if (top.pids.count(uint32_t(pid)))
                    for (int i = 0; i < 3; ++i)
                        if (top.outer == kMonitors[i])
                            covered.insert(i);
        return covered;
    }
    bool allLit() { return lit().size() == 3; }

    // Tries the host's socket as the user `nobody`: "refused" when the
    // connection cannot be made, "dropped" when the host closes it without
    // an answer, "answered" when it relays.
    std::string tryAsNobody() {
        int result[2];
        if (pipe(result) != 0)
            return "no pipe";
        const std::string path = socketPath();
        const pid_t child = fork();
        if (child == 0) {
            close(result[0]);
            auto say = [&](const char* word) {
                (void)!write(result[1], word, std::strlen(word));
                _exit(0);
            };
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                say("no nobody");
            const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
            if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
                say("refused");
            const char ask[] = "{\"id\":1,\"method\":\"Target.getTargets\"}";
            (void)!send(fd, ask, sizeof ask, MSG_NOSIGNAL); // the NUL ends the message
            timeval patience{10, 0};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
            char c;
            const ssize_t n = read(fd, &c, 1);
            // Closed with the request unread, the connection may end in a
            // reset instead of an orderly end.
            say(n == 0 || (n < 0 && errno == ECONNRESET) ? "dropped"
                : n > 0                                  ? "answered"
                                                         : "no end");
        }
        close(result[1]);
        char word[32] = {};
        (void)!read(result[0], word, sizeof word - 1);
        close(result[0]);
        waitpid(child, nullptr, 0);
        return word;
    }
    // Panoview started and signed in through its login dialog; null (with
    // a failure) when its login dialog did not come.
    std::unique_ptr<e2e::Child> signedIn() {
        auto panoview = startPanoview();
        const std::string login = waitForLoginWindow();
        if (login.empty()) {
            ADD_FAILURE() << "no login dialog: " << panoview->stderrText();
            return nullptr;
        }
        typePassword(login, "123456");
        pressEnter();
        return panoview;
    }
};

TEST_F(SharedBrowser, OneBrowserServesTheWallAndEveryEndIsCleanedUp) {
    if (access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "Debian's Chromium is not installed";
    auto panoview = signedIn();
    ASSERT_TRUE(panoview);

    // Three monitors, three Brovias, one host with one browser process,
    // and no browser of a Brovia's own.
    ASSERT_TRUE(waitFor([&] { return browsers(panoview->pid()).size() == 3 && allLit(); }, 120s))
        << panoview->stderrText();
    const pid_t firstHost = *host();
    EXPECT_EQ(browsersBelow(firstHost).size(), 1u);
    for (pid_t brovia : browsers(panoview->pid()))
        EXPECT_TRUE(browsersBelow(brovia).empty()) << brovia;
    ASSERT_FALSE(browsersBelow(firstHost).empty());
    const std::string profile = profileOf(browsersBelow(firstHost)[0]);
    ASSERT_FALSE(profile.empty());
    struct stat st {};
    ASSERT_EQ(stat(socketPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Another user: refused by the socket's mode, and, with the socket and
    // its folders opened to everyone, dropped by the host's peer check.
    EXPECT_EQ(tryAsNobody(), "refused");
    const std::string run = dir.file("run");
    struct stat runMode {
    }, topMode{};
    stat(run.c_str(), &runMode);
    stat(dir.path().c_str(), &topMode);
    chmod(dir.path().c_str(), topMode.st_mode | 0011);
    chmod(run.c_str(), runMode.st_mode | 0011);
    chmod(socketPath().c_str(), 0666);
    EXPECT_EQ(tryAsNobody(), "dropped");
    chmod(socketPath().c_str(), 0600);
    chmod(run.c_str(), runMode.st_mode & 07777);
    chmod(dir.path().c_str(), topMode.st_mode & 07777);
    EXPECT_TRUE(allLit());
    // One renderer per page, and none beside them: no spare renderer, no
    // page of the browser's own beside each window.
    EXPECT_TRUE(waitFor([&] { return renderersBelow(firstHost) == 3; }, 30s));
    EXPECT_EQ(renderersBelow(firstHost), 3u);

    // A killed Brovia takes exactly its own window (a generous guard: the
    // host closes it as soon as the connection drops), and the wall keeper
    // brings a new Brovia back over the same monitor.
    pid_t middle = 0;
    for (pid_t brovia : browsers(panoview->pid()))
        if (commandLine(brovia)[2] == "640")
            middle = brovia;
    ASSERT_NE(middle, 0);
    kill(middle, SIGKILL);
    EXPECT_TRUE(waitFor([&] { return lit() == std::set<int>{0, 2}; }, 5s));
    EXPECT_TRUE(waitFor(
        [&] {
            const auto now = browsers(panoview->pid());
            return now.size() == 3 && std::find(now.begin(), now.end(), middle) == now.end() &&
                   allLit();
        },
        60s))
        << panoview->stderrText();
    EXPECT_EQ(host(), firstHost);

    // The host killed: its browser and windows go, every Brovia ends, and
    // the restarted ones bring every page back through a new host.
    kill(firstHost, SIGKILL);
    EXPECT_TRUE(waitFor(
        [&] {
            const auto h = host();
            return h && *h != firstHost && allLit() && browsersBelow(*h).size() == 1;
        },
        60s))
        << panoview->stderrText();
    EXPECT_TRUE(waitFor([&] { return !std::filesystem::exists(profile); }, 30s)) << profile;
    const pid_t secondHost = host().value_or(0);
    ASSERT_FALSE(browsersBelow(secondHost).empty());
    const std::string secondProfile = profileOf(browsersBelow(secondHost)[0]);
    ASSERT_FALSE(secondProfile.empty());

    // The program ends (as at logout): no Brovia, host, browser or profile
    // stays.
    const std::vector<pid_t> family = [&] {
        auto f = descendantsOf(secondHost);
        f.push_back(secondHost);
        return f;
    }();
    panoview->signal(SIGTERM);
    // Its status is the startup suite's; here it must end by itself.
    EXPECT_NE(panoview->wait(60s), -1) << panoview->howItEnded();
    EXPECT_TRUE(waitFor(
        [&] {
            return std::none_of(family.begin(), family.end(),
                                [](pid_t p) { return processRunning(p); }) &&
                   !host() && !std::filesystem::exists(secondProfile) &&
                   !std::filesystem::exists(socketPath());
        },
        30s));
}

// A panel (the tray's) along the bottom of the first monitor.
class SharedBrowserBesideAPanel : public SharedBrowser {
protected:
    SharedBrowserBesideAPanel()
        : SharedBrowser("--monitors 640x480,640x480,640x480 --primary 0 --panel 0:40") {}
};

// Beside a panel: the pages over whole monitors share the host's browser,
// and the page of the panel's monitor lies exactly over its work area, in a
// Chromium of its own (a window of the shared browser that is not full
// screen shows Chromium's bars); no other browser runs.
TEST_F(SharedBrowserBesideAPanel, WholeMonitorsShareOneBrowserAndThePanelsPageIsExact) {
    if (access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "Debian's Chromium is not installed";
    auto panoview = signedIn();
    ASSERT_TRUE(panoview);
    const Rect work{0, 0, 640, 440};
    const auto panelPageExact = [&] {
        std::vector<pid_t> family;
        for (pid_t brovia : browsers(panoview->pid()))
            for (pid_t pid : descendantsOf(brovia))
                family.push_back(pid);
        const auto tops = probe.topWindows();
        return std::any_of(tops.begin(), tops.end(), [&](const auto& top) {
            return top.outer == work && std::any_of(family.begin(), family.end(), [&](pid_t pid) {
                       return top.pids.count(uint32_t(pid)) != 0;
                   });
        });
    };
    ASSERT_TRUE(waitFor(
        [&] {
            return browsers(panoview->pid()).size() == 3 && lit() == std::set<int>{1, 2} &&
                   panelPageExact();
        },
        120s))
        << panoview->stderrText();
    ASSERT_TRUE(host());
    EXPECT_EQ(browsersBelow(*host()).size(), 1u);
    size_t own = 0;
    for (pid_t brovia : browsers(panoview->pid()))
        own += browsersBelow(brovia).size();
    EXPECT_EQ(own, 1u) << "the panel's monitor alone has a Chromium of its own";
    panoview->signal(SIGTERM);
    EXPECT_NE(panoview->wait(60s), -1) << panoview->howItEnded();
}

// Brovia copied without brovia-host beside it, as an installation by hand
// may leave it: each page says once why, shows itself in a Chromium of its
// own, and the wall lights.
TEST_F(SharedBrowser, WithoutItsHostEveryPageLightsInAChromiumOfItsOwn) {
    if (access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "Debian's Chromium is not installed";
    std::filesystem::remove(dir.file("bin/brovia-host"));
    auto panoview = signedIn();
    ASSERT_TRUE(panoview);

    auto ownBrowsersLit = [&] {
        const auto pages = browsers(panoview->pid());
        std::vector<pid_t> family;
        for (pid_t brovia : pages) {
            if (browsersBelow(brovia).size() != 1)
                return false;
            for (pid_t pid : descendantsOf(brovia))
                family.push_back(pid);
        }
        return pages.size() == 3 && coveredBy(family).size() == 3;
    };
    ASSERT_TRUE(waitFor(ownBrowsersLit, 120s)) << panoview->stderrText();
    EXPECT_FALSE(host());
    // One line in each page's log says why.
    for (const char* page : {"brovia-0,0.log", "brovia-640,0.log", "brovia-1280,0.log"}) {
        const std::string said = dir.read(std::string("state/panoview/") + page);
        EXPECT_NE(said.find("Brovia: no page browsers' host (" + dir.file("bin/brovia-host") +
                            ": No such file or directory)"),
                  std::string::npos)
            << page << ":\n"
            << said;
    }

    std::vector<pid_t> family;
    for (pid_t brovia : browsers(panoview->pid())) {
        family.push_back(brovia);
        for (pid_t pid : descendantsOf(brovia))
            family.push_back(pid);
    }
    panoview->signal(SIGTERM);
    EXPECT_NE(panoview->wait(60s), -1) << panoview->howItEnded();
    EXPECT_TRUE(
        waitFor([&] { return std::none_of(family.begin(), family.end(), processRunning); }, 30s));
}

} // namespace
