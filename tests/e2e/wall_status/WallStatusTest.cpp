// Signed in on three monitors with Chromium pages, the wall is asked from
// the command line as a fleet's scripts ask it: `panoview --status --json`
// lists the three pages live; a page browser killed with SIGKILL shows as
// such and comes back, counted in the metrics that Debian's node exporter
// serves; `--reload WALL2` starts exactly that page again; `--screenshot`
// writes one picture per monitor; a flood of questions costs the
// keep-alive no tick; another user's question is refused.
#include "LoginDesk.h"

#include "MetricsText.h"
#include <QImage>
#include <algorithm>
#include <arpa/inet.h>

#include <gtest/gtest.h>
#include <json/json.h>
#include <map>
#include <netinet/in.h>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

using e2e::waitFor;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kWall = "--monitors 800x600,800x600,800x600 --primary 0";
const char* kNames[] = {"WALL0", "WALL1", "WALL2"};

struct Answer {
    int status = -1;
    std::string out;
};

class WallStatus : public ::testing::Test, public LoginDesk {
protected:
    WallStatus() : LoginDesk(kWall, 3, true) {
        std::filesystem::create_directory(dir.path() / "metrics");
    }
    std::vector<std::string> env() const {
        auto e = environment();
        e.push_back("PANOVIEW_METRICS=" + dir.file("metrics/panoview.prom"));
        return e;
    }
    // One later start with these words, as a script runs it.
    Answer ask(const std::vector<std::string>& words) {
        std::vector<std::string> argv{dir.file("bin/panoview")};
        argv.insert(argv.end(), words.begin(), words.end());
        e2e::Child child(argv, env(), dir.file("ask"));
        Answer a;
        a.status = child.wait(30s);
        a.out = child.stdoutText() + child.stderrText();
        return a;
    }
    // The same, waited for without polling, for the flood's figures.
    Answer askAtOnce(const std::vector<std::string>& words) {
        std::vector<std::string> argv{dir.file("bin/panoview")};
        argv.insert(argv.end(), words.begin(), words.end());
        std::vector<std::string> vars;
        for (char** e = environ; *e; ++e)
            vars.emplace_back(*e);
        for (const std::string& extra : env()) {
            const std::string key = extra.substr(0, extra.find('=') + 1);
            std::erase_if(vars, [&](const std::string& v) { return v.rfind(key, 0) == 0; });
            vars.push_back(extra);
        }
        std::vector<char*> argp, envp;
        for (auto& a : argv)
            argp.push_back(a.data());
        argp.push_back(nullptr);
        for (auto& v : vars)
            envp.push_back(v.data());
        envp.push_back(nullptr);
        int out[2];
        Answer a;
        if (pipe(out) != 0)
            return a;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        char buffer[16384];
        for (ssize_t n; spawned == 0 && (n = read(out[0], buffer, sizeof buffer)) > 0;)
            a.out.append(buffer, static_cast<size_t>(n));
        close(out[0]);
        int how = 0;
        if (spawned == 0 && waitpid(pid, &how, 0) == pid && WIFEXITED(how))
            a.status = WEXITSTATUS(how);
        return a;
    }
    Json::Value status() {
        const Answer a = ask({"--status", "--json"});
        Json::Value doc;
        Json::CharReaderBuilder reader;
        std::string errors;
        std::istringstream in(a.out);
        if (a.status != 0 || !Json::parseFromStream(reader, in, &doc, &errors))
            return Json::Value();
        return doc;
    }
    // The monitors' states and pids by name, from one status document.
    static std::map<std::string, std::pair<std::string, unsigned>> pages(const Json::Value& doc) {
        std::map<std::string, std::pair<std::string, unsigned>> found;
        for (const Json::Value& m : doc["monitors"])
            found[m["name"].asString()] = {m["state"].asString(), m["pid"].asUInt()};
        return found;
    }
    bool allLive(const Json::Value& doc) {
        const auto p = pages(doc);
        return p.size() == 3 && std::all_of(p.begin(), p.end(), [](const auto& kv) {
                   return kv.second.first == "live" && kv.second.second != 0;
               });
    }
};

// A free loopback port: bound once to port 0 and let go.
int freePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}

// Debian's node exporter on a free loopback port, reading the test's
// textfile folder, for the life of the object.
struct NodeExporter {
    explicit NodeExporter(const TempDir& dir) {
        for (int attempt = 0; attempt < 5 && url.empty(); ++attempt) {
            const std::string port = std::to_string(freePort());
            child = std::make_unique<e2e::Child>(
                std::vector<std::string>{"/usr/bin/prometheus-node-exporter",
                                         "--web.listen-address=127.0.0.1:" + port,
                                         "--collector.disable-defaults", "--collector.textfile",
                                         "--collector.textfile.directory=" + dir.file("metrics")},
                std::vector<std::string>{}, dir.file("node-exporter"));
            const std::string candidate = "http://127.0.0.1:" + port + "/metrics";
            if (waitFor([&] { return !child->running() || !scrape(candidate).empty(); }, 20s) &&
                child->running())
                url = candidate;
        }
    }
    static std::string scrape(const std::string& at) {
        return e2e::capture("curl -sf --max-time 5 '" + at + "'");
    }
    std::string scrape() const { return scrape(url); }
    std::unique_ptr<e2e::Child> child;
    std::string url;
};

// A PNG's size and whether its pixels are all one colour.
struct Picture {
    int width = 0, height = 0;
    bool oneColour = true;
};
Picture pictureAt(const std::string& path) {
    Picture p;
    QImage image(QString::fromStdString(path));
    p.width = image.width();
    p.height = image.height();
    const QRgb first = p.width ? image.pixel(0, 0) : 0;
    for (int y = 0; y < p.height && p.oneColour; y += 3)
        for (int x = 0; x < p.width && p.oneColour; x += 3)
            p.oneColour = image.pixel(x, y) == first;
    return p;
}

TEST_F(WallStatus, TheRunningCopyAnswersScriptsAboutItsWall) {
    if (access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "Debian's Chromium is not installed";
    EXPECT_EQ(ask({"--status"}).status, 1) << "no running copy yet";
    EXPECT_FALSE(std::filesystem::exists(dir.file("run/14ACEF37-B7DE-48e7-B2BB-E3CBCD52E2D5.lock")))
        << "a question starts no copy";

    e2e::Child panoview({dir.file("bin/panoview")}, env(), dir.file("panoview"));
    const std::string login = waitForLoginWindow();
    ASSERT_FALSE(login.empty()) << panoview.stderrText();
    EXPECT_EQ(ask({"--reload"}).status, 2) << "not signed in yet";
    typePassword(login, "123456");
    pressEnter();

    Json::Value doc;
    ASSERT_TRUE(waitFor([&] { return allLive(doc = status()); }, 180s))
        << doc.toStyledString() << panoview.stderrText();
    EXPECT_TRUE(doc["signedIn"].asBool());
    EXPECT_EQ(doc["account"].asString(), "admin");
    for (unsigned i = 0; i < 3; ++i) {
        const Json::Value& m = doc["monitors"][i];
        EXPECT_EQ(m["name"].asString(), kNames[i]);
        EXPECT_EQ(m["rect"]["width"].asInt(), 800);
        EXPECT_EQ(m["rect"]["left"].asInt(), 800 * int(i));
        EXPECT_NE(m["address"].asString().find("token=***&flag=multiscreen"), std::string::npos)
            << m["address"].asString();
    }
    // The session's token appears nowhere.
    const std::string token = sessionToken();
    ASSERT_GE(token.size(), 8u) << service.stderrText();
    for (const std::string& word : commandLine(doc["monitors"][0]["pid"].asInt()))
        EXPECT_EQ(word.find(token), std::string::npos) << "the token on Brovia's command line";
    const std::string plain = ask({"--status"}).out;
    EXPECT_EQ(plain.find(token), std::string::npos) << plain;
    EXPECT_EQ(doc.toStyledString().find(token), std::string::npos);
    std::cout << "status: " << plain << std::endl;

    // The node exporter serves the metrics file.
    NodeExporter exporter(dir);
    ASSERT_FALSE(exporter.url.empty()) << exporter.child->stderrText();
    std::string scrape;
    ASSERT_TRUE(waitFor([&] {
        scrape = exporter.scrape();
        return metricSeries(scrape, "panoview_page_live{monitor=\"WALL2\"}") == "1";
    })) << scrape;
    EXPECT_EQ(scrape.find(token), std::string::npos);
    EXPECT_EQ(metricSeries(scrape, "panoview_signed_in"), "1");
    for (const char* name : kNames) {
        const std::string m = std::string("{monitor=\"") + name + "\"";
        EXPECT_EQ(metricSeries(scrape, "panoview_page_live" + m + "}"), "1") << name;
        EXPECT_EQ(metricSeries(scrape, "panoview_page_state" + m + ",state=\"live\"}"), "1")
            << name;
        EXPECT_EQ(metricSeries(scrape, "panoview_page_restarts_total" + m + "}"), "0") << name;
        EXPECT_NE(metricSeries(scrape, "panoview_page_last_live_timestamp_seconds" + m + "}"),
                  "0.000");
    }
    std::cout << "scrape of " << exporter.url << ":\n";
    for (std::istringstream lines(scrape); std::getline(lines, scrape);)
        if (scrape.rfind("panoview_page_live", 0) == 0 || scrape.rfind("panoview_signed", 0) == 0)
            std::cout << "  " << scrape << "\n";

    // A page browser killed: its monitor says so, comes back live under a
    // new browser, and the restart is counted.
    const auto before = pages(doc);
    kill(static_cast<pid_t>(before.at("WALL1").second), SIGKILL);
    std::set<std::string> seen;
    ASSERT_TRUE(waitFor(
        [&] {
            const auto now = pages(doc = status());
            if (now.count("WALL1"))
                seen.insert(now.at("WALL1").first);
            return allLive(doc) && now.at("WALL1").second != before.at("WALL1").second;
        },
        120s))
        << doc.toStyledString() << panoview.stderrText();
    EXPECT_TRUE(seen.count("restarting") || seen.count("starting") || seen.count("loading"))
        << "the monitor never showed the browser's end";
    EXPECT_EQ(doc["monitors"][1]["restarts"].asUInt(), 1u);
    EXPECT_TRUE(waitFor([&] {
        return metricSeries(exporter.scrape(), "panoview_page_restarts_total{monitor=\"WALL1\"}") ==
               "1";
    })) << exporter.scrape();
    EXPECT_EQ(pages(doc).at("WALL0"), before.at("WALL0"));

    // A reload of one monitor starts exactly that page again.
    const auto live = pages(doc);
    const Answer reload = ask({"--reload", "WALL2"});
    EXPECT_EQ(reload.status, 0) << reload.out;
    EXPECT_NE(reload.out.find("reloaded WALL2"), std::string::npos) << reload.out;
    ASSERT_TRUE(waitFor(
        [&] {
            return allLive(doc = status()) &&
                   pages(doc).at("WALL2").second != live.at("WALL2").second;
        },
        120s))
        << doc.toStyledString();
    EXPECT_EQ(pages(doc).at("WALL0"), live.at("WALL0"));
    EXPECT_EQ(pages(doc).at("WALL1"), live.at("WALL1"));
    EXPECT_EQ(doc["monitors"][2]["reloads"]["command"].asUInt(), 1u);
    EXPECT_EQ(ask({"--reload", "WALL7"}).status, 2);

    // One picture per monitor, of the monitor's size, not all one colour.
    const Answer shots = ask({"--screenshot", dir.file("shots")});
    EXPECT_EQ(shots.status, 0) << shots.out;
    for (const char* name : kNames) {
        const std::string path = dir.file("shots/" + std::string(name) + ".png");
        EXPECT_NE(shots.out.find(path), std::string::npos) << shots.out;
        const Picture p = pictureAt(path);
        EXPECT_EQ(p.width, 800) << path;
        EXPECT_EQ(p.height, 600) << path;
        EXPECT_FALSE(p.oneColour) << path;
    }

    // A flood of questions while signed in: every one answered, and the
    // keep-alive keeps its 30 s ticks (a missed tick would leave a gap of
    // 60 s between two).
    std::vector<double> took;
    std::set<int64_t> ticks;
    const auto floodStart = Clock::now();
    int failed = 0;
    for (int i = 0; i < 1000 || (ticks.size() < 2 && Clock::now() - floodStart < 150s); ++i) {
        const auto t0 = Clock::now();
        const Answer a = askAtOnce({"--status", "--json"});
        took.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        failed += a.status != 0;
        const size_t at = a.out.find("\"atMs\" : ");
        if (at != std::string::npos && std::atoll(a.out.c_str() + at + 9) > 0)
            ticks.insert(std::atoll(a.out.c_str() + at + 9));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - floodStart).count();
    EXPECT_EQ(failed, 0);
    std::vector<int64_t> gaps;
    for (auto it = ticks.begin(); std::next(it) != ticks.end(); ++it)
        gaps.push_back(*std::next(it) - *it);
    ASSERT_GE(ticks.size(), 2u) << "no keep-alive tick during " << seconds << " s";
    for (int64_t gap : gaps)
        EXPECT_LT(gap, 45000) << "a keep-alive tick was missed";
    std::sort(took.begin(), took.end());
    std::cout << "flood: " << took.size() << " --status --json calls in " << seconds
              << " s; per call median " << took[took.size() / 2] << " ms, 99th "
              << took[took.size() * 99 / 100] << " ms, max " << took.back()
              << " ms; keep-alive ticks seen " << ticks.size() << ", gaps (ms):";
    for (int64_t gap : gaps)
        std::cout << " " << gap;
    std::cout << std::endl;

    // Another user (nobody) who reaches the socket is refused.
    const std::string socket = dir.file("run/14ACEF37-B7DE-48e7-B2BB-E3CBCD52E2D5.socket");
    chmod(dir.path().c_str(), 0711);
    chmod(socket.c_str(), 0666);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t other = fork();
    if (other == 0) {
        close(out[0]);
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(3);
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", socket.c_str());
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            _exit(4);
        (void)!send(fd, "status json\n", 12, MSG_NOSIGNAL);
        char buffer[4096];
        for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
            (void)!write(out[1], buffer, static_cast<size_t>(n));
        _exit(0);
    }
    close(out[1]);
    std::string heard;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        heard.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int how = 0;
    waitpid(other, &how, 0);
    chmod(socket.c_str(), 0600);
    chmod(dir.path().c_str(), 0700);
    EXPECT_EQ(WEXITSTATUS(how), 0) << "nobody could not reach the socket";
    EXPECT_EQ(heard.rfind("2 refused", 0), 0u) << heard;
    EXPECT_EQ(heard.find("monitors"), std::string::npos) << heard;
    EXPECT_NE(panoview.stderrText().find("a request of another user refused"), std::string::npos);

    // The --reload words as a script passes them: an empty or blank word is
    // refused, several monitors are reloaded together, an unknown word
    // refuses them all and comes back with its control bytes escaped.
    struct Words {
        std::string words;
        int status;
        std::string answer;
    };
    const Words table[] = {
        {"", 2, "empty or blank"},
        {" \t", 2, "empty or blank"},
        {"WALL0 WALL1", 0, "reloaded WALL0 WALL1"},
        {"WALL0 WALL9", 2, "\"WALL9\""},
        {"\x1b[2J", 2, "\"\\x1b[2J\""},
    };
    for (const Words& w : table) {
        const Answer a = ask({"--reload", w.words});
        EXPECT_EQ(a.status, w.status) << w.words << ": " << a.out;
        EXPECT_NE(a.out.find(w.answer), std::string::npos) << w.words << ": " << a.out;
        EXPECT_EQ(a.out.find('\x1b'), std::string::npos) << "a raw control byte came back";
    }

    // Clients that connect and stay silent hold nothing up: with 200 of them
    // held open, --login is answered (the signed-in dialog shows) and the
    // keep-alive keeps its ticks.
    std::vector<int> silent;
    for (int i = 0; i < 200; ++i) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", socket.c_str());
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
            silent.push_back(fd);
        else
            close(fd);
    }
    EXPECT_GE(silent.size(), 64u);
    const auto loginAsked = Clock::now();
    const Answer shown = askAtOnce({"--login"});
    const double loginMs =
        std::chrono::duration<double, std::milli>(Clock::now() - loginAsked).count();
    EXPECT_EQ(shown.status, 0) << shown.out;
    EXPECT_LT(loginMs, 10000) << "a guard far above the 2 s a request may take";
    const int64_t lastTick = status()["keepAlive"]["atMs"].asInt64();
    int64_t nextTick = lastTick;
    EXPECT_TRUE(waitFor(
        [&] {
            nextTick = status()["keepAlive"]["atMs"].asInt64();
            return nextTick != lastTick;
        },
        60s));
    EXPECT_LT(nextTick - lastTick, 45000) << "a keep-alive tick was missed";
    std::cout << "200 silent connections: --login answered in " << loginMs
              << " ms; keep-alive ticks " << (nextTick - lastTick) << " ms apart" << std::endl;
    for (int fd : silent)
        close(fd);

    // The metrics file itself holds no token either.
    EXPECT_EQ(e2e::readFile(dir.file("metrics/panoview.prom")).find(token), std::string::npos);
    panoview.signal(SIGTERM);
    EXPECT_EQ(panoview.wait(), 0) << panoview.stderrText();
    EXPECT_FALSE(std::filesystem::exists(socket)) << "the command socket goes with the program";
    exporter.child->signal(SIGTERM);
    exporter.child->wait();
}

} // namespace
