// Commands to the running copy over its socket: the round trip, the
// socket's mode, a dead run's socket replaced, what is not a socket of ours
// refused, no copy, a copy that never answers, and the listener that never
// waits for a client: silent, slow and non-reading clients beside a live
// one, the deadline, the cap on connections and the socket's removal.
#include "platform/CommandSocket.h"

#include "DebugCapture.h"
#include "TempDir.h"

#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// How long a test waits for what must come at once before it fails instead
// of hanging; never reached when the listener is right.
constexpr auto kGuard = 20s;

// Drives the listener on a thread of its own as the program's event loop
// does: serves whenever its descriptor is readable or its next deadline has
// come, until the helper ends.
class Server {
public:
    Server(platform::CommandListener& listener, platform::CommandListener::Handler handle) {
        if (::pipe2(stop_, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe2 failed");
        thread_ = std::thread([this, &listener, handle] { run(listener, handle); });
    }
    ~Server() {
        const char stop = 0;
        (void)!::write(stop_[1], &stop, 1);
        thread_.join();
        ::close(stop_[0]);
        ::close(stop_[1]);
    }

private:
    void run(platform::CommandListener& listener,
             const platform::CommandListener::Handler& handle) {
        for (;;) {
            int timeout = -1;
            if (const auto due = listener.nextDeadline())
                timeout = static_cast<int>(
                    std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(
                                             *due - std::chrono::steady_clock::now())
                                             .count()));
            pollfd p[2] = {{listener.descriptor(), POLLIN, 0}, {stop_[0], POLLIN, 0}};
            ::poll(p, 2, timeout);
            if (p[1].revents)
                return;
            listener.serve(handle);
        }
    }

    int stop_[2] = {-1, -1};
    std::thread thread_;
};

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    return address;
}

// A socket bound at the path by hand: a dead run's leftover, or, listening,
// a copy that does what the test says.
int boundSocket(const std::string& path, bool listening) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = addressOf(path);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        (listening && ::listen(fd, 1) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A client that speaks to the socket directly, byte by byte if it likes.
struct RawClient {
    explicit RawClient(const std::string& path) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un address = addressOf(path);
        connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        timeval guard{std::chrono::seconds(kGuard).count(), 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    }
    ~RawClient() { ::close(fd); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool send(const std::string& bytes) const {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // Everything up to the copy's end (or the guard).
    std::string readToEnd() const {
        std::string text;
        char buffer[65536];
        ssize_t n;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
            text.append(buffer, static_cast<size_t>(n));
        return text;
    }
    // Whether the events come within the time (the guard: false only when
    // the copy is wrong).
    bool comes(short events, std::chrono::milliseconds within = kGuard) const {
        pollfd p{fd, events, 0};
        return ::poll(&p, 1, static_cast<int>(within.count())) == 1;
    }
    bool closedByCopy() const { return comes(POLLRDHUP); }
    bool heldOpen() const { return !comes(POLLRDHUP, 0ms); }
    bool answerBegun() const { return comes(POLLIN); }

    int fd = -1;
    bool connected = false;
};

// Echoes what it hears; "big" is answered with more than any socket holds
// before its client reads.
platform::CommandAnswer echo(const std::string& request) {
    if (request == "big")
        return {0, std::string(900000, 'b')};
    return {0, "heard " + request};
}

// A listener at a fresh path, served on its own thread.
struct Served {
    Served(std::chrono::milliseconds deadline,
           size_t connectionsMax = platform::kCommandConnectionsMax,
           platform::CommandListener::Handler handle = echo)
        : path(dir.file("pv.socket")),
          listener(platform::CommandListener::listen(path, deadline, connectionsMax)) {
        if (listener)
            server = std::make_unique<Server>(*listener, std::move(handle));
    }
    TempDir dir;
    const std::string path;
    std::unique_ptr<platform::CommandListener> listener;
    std::unique_ptr<Server> server;
};

TEST(CommandSocket, AWordAndItsAnswerRoundTrip) {
    TempDir dir;
    const std::string path = dir.file("pv.socket");
    auto listener = platform::CommandListener::listen(path);
    ASSERT_TRUE(listener);
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "only this user may connect";

    std::string heard;
    platform::CommandAnswer answer;
    {
        Server server(*listener, [&](const std::string& word) {
            heard = word;
            return platform::CommandAnswer{0, "the login dialog is shown"};
        });
        ASSERT_TRUE(platform::sendCommand(path, "login", answer, 5s));
    }
    EXPECT_EQ(heard, "login");
    EXPECT_EQ(answer.status, 0);
    EXPECT_EQ(answer.text, "the login dialog is shown");
    {
        Server server(*listener, [](const std::string& word) {
            return platform::CommandAnswer{2, "unknown command: " + word};
        });
        ASSERT_TRUE(platform::sendCommand(path, "reboot", answer, 5s));
    }
    EXPECT_EQ(answer.status, 2);
    EXPECT_EQ(answer.text, "unknown command: reboot");
}

// A request carries its argument, an answer may run over many lines, and
// what is too long on either side is not served.
TEST(CommandSocket, ArgumentsLongAnswersAndTheLimits) {
    TempDir dir;
    const std::string path = dir.file("pv.socket");
    auto listener = platform::CommandListener::listen(path);
    ASSERT_TRUE(listener);
    struct Case {
        const char* name;
        std::string request;
        std::string reply; // what the copy answers
        bool served;       // whether the copy saw the request
        int status;
        std::string text;
    };
    const std::string json = "{\n  \"monitors\": [" + std::string(300000, ' ') + "]\n}";
    const Case cases[] = {
        {"an argument", "screenshot /tmp/my shots", "done", true, 0, "done"},
        {"a JSON answer of many lines", "status json", json, true, 0, json},
        {"an answer over the cap", "status", std::string(platform::kCommandAnswerMax, 'x'), true, 2,
         "the answer is too long"},
        {"a request over the cap", "status " + std::string(platform::kCommandRequestMax, 'r'), "",
         false, 2, "the request is too long"},
        // "status " and the line feed take 8 bytes of the cap.
        {"a request at the cap", "status " + std::string(platform::kCommandRequestMax - 8, 'r'),
         "served", true, 0, "served"},
        {"a request with a line feed", "reload WALL1\nstatus", "", false, 2,
         "the request holds a line feed"},
    };
    for (const Case& c : cases) {
        std::string heard;
        platform::CommandAnswer answer;
        {
            Server server(*listener, [&](const std::string& request) {
                heard = request;
                return platform::CommandAnswer{0, c.reply};
            });
            ASSERT_TRUE(platform::sendCommand(path, c.request, answer, 5s)) << c.name;
        }
        EXPECT_EQ(heard, c.served ? c.request : "") << c.name;
        EXPECT_EQ(answer.status, c.status) << c.name;
        EXPECT_EQ(answer.text, c.text) << c.name;
    }

    // A client that sends an overlong line straight to the socket gets no
    // answer, and the copy never sees the request.
    bool handled = false;
    {
        Server server(*listener, [&](const std::string&) {
            handled = true;
            return platform::CommandAnswer{0, "served"};
        });
        RawClient client(path);
        ASSERT_TRUE(client.connected);
        client.send(std::string(platform::kCommandRequestMax + 10, 'f'));
        char byte;
        EXPECT_LE(::recv(client.fd, &byte, 1, 0), 0) << "an overlong request is answered";
    }
    EXPECT_FALSE(handled);
}

TEST(CommandSocket, ADeadRunsSocketIsReplacedAndAnythingElseKept) {
    TempDir dir;
    DebugCapture quiet;
    const std::string path = dir.file("pv.socket");
    // A run that ended without removing its socket (killed).
    const int dead = boundSocket(path, false);
    ASSERT_GE(dead, 0);
    ::close(dead);
    platform::CommandAnswer answer;
    EXPECT_FALSE(platform::sendCommand(path, "login", answer, 1s)) << "nobody listens there";
    auto again = platform::CommandListener::listen(path);
    EXPECT_TRUE(again) << "a socket of this user left by a dead run is replaced";

    dir.write("file.socket", "not a socket");
    EXPECT_FALSE(platform::CommandListener::listen(dir.file("file.socket")));
    EXPECT_EQ(dir.read("file.socket"), "not a socket") << "a file at the path is left alone";
}

TEST(CommandSocket, NoCopyAndACopyThatNeverAnswers) {
    TempDir dir;
    platform::CommandAnswer answer;
    EXPECT_FALSE(platform::sendCommand(dir.file("none.socket"), "login", answer, 1s));

    // A listener that accepts but never answers: the sender gives up at its
    // deadline with status 2 instead of hanging.
    const std::string path = dir.file("mute.socket");
    const int fd = boundSocket(path, true);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(platform::sendCommand(path, "login", answer, 200ms));
    EXPECT_EQ(answer.status, 2);
    ::close(fd);
}

TEST(CommandSocket, TheSocketLiesBesideTheLock) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string keep = saved ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", "/run/user/1000", 1);
    EXPECT_EQ(platform::commandSocketPath("LOCK"), "/run/user/1000/LOCK.socket");
    ::setenv("XDG_RUNTIME_DIR", "", 1);
    EXPECT_EQ(platform::commandSocketPath("LOCK"),
              "/tmp/panoview-" + std::to_string(::getuid()) + "/LOCK.socket");
    if (saved)
        ::setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

// Silent clients cost a live one nothing: its request is answered while they
// are all still connected (their deadline is far beyond the sender's). With
// room for them all the copy holds every one open; with the cap, the newest
// stay and the oldest are dropped.
TEST(CommandSocket, ManySilentClientsHoldNoLiveOneUp) {
    struct Case {
        const char* name;
        size_t connectionsMax;
        size_t dropped; // the oldest silent clients the copy closed
    };
    const Case cases[] = {
        {"room for all", 256, 0},
        // 200 silent, then the live client: 201 - 64.
        {"the cap", platform::kCommandConnectionsMax, 201 - platform::kCommandConnectionsMax},
    };
    for (const Case& c : cases) {
        DebugCapture capture;
        Served copy(120s, c.connectionsMax);
        ASSERT_TRUE(copy.listener) << c.name;
        const std::string& path = copy.path;
        std::vector<std::unique_ptr<RawClient>> silent;
        for (int i = 0; i < 200; ++i) {
            silent.push_back(std::make_unique<RawClient>(path));
            ASSERT_TRUE(silent.back()->connected) << c.name;
            // Some send half a line and stop there.
            if (i % 3 == 0) {
                ASSERT_TRUE(silent.back()->send("stat")) << c.name;
            }
        }

        platform::CommandAnswer answer;
        ASSERT_TRUE(platform::sendCommand(path, "status", answer, kGuard)) << c.name;
        EXPECT_EQ(answer.status, 0) << c.name << ": " << answer.text;
        EXPECT_EQ(answer.text, "heard status") << c.name;
        for (size_t i = c.dropped; i < silent.size(); ++i)
            EXPECT_TRUE(silent[i]->heldOpen()) << c.name << ": silent client " << i;
        for (size_t i = 0; i < c.dropped; ++i) {
            EXPECT_TRUE(silent[i]->closedByCopy()) << c.name << ": silent client " << i;
            EXPECT_EQ(silent[i]->readToEnd(), "") << c.name << ": no answer for " << i;
        }
        // A flood costs one line, not one a connection.
        copy.server.reset();
        EXPECT_EQ(capture.writes().size(), c.dropped ? 1u : 0u) << c.name << ": " << capture.all();
    }
}

// A line that comes a byte at a time is read as it comes, and other clients
// are served between its bytes.
TEST(CommandSocket, ALineSentByteByByteIsAnsweredWhole) {
    Served copy(120s);
    ASSERT_TRUE(copy.listener);
    const std::string& path = copy.path;
    RawClient slow(path);
    ASSERT_TRUE(slow.connected);
    const std::string line = "screenshot /tmp/my shots\n";
    for (char byte : line) {
        ASSERT_TRUE(slow.send(std::string(1, byte)));
        platform::CommandAnswer answer;
        ASSERT_TRUE(platform::sendCommand(path, "status", answer, kGuard));
        EXPECT_EQ(answer.text, "heard status") << "while the slow line is at '" << byte << "'";
    }
    EXPECT_EQ(slow.readToEnd(), "0 heard screenshot /tmp/my shots\n");

    // A client that ends its side instead of sending a line feed is served
    // the line it sent.
    RawClient ended(path);
    ASSERT_TRUE(ended.send("status json"));
    ::shutdown(ended.fd, SHUT_WR);
    EXPECT_EQ(ended.readToEnd(), "0 heard status json\n");
}

// An answer its client does not read holds nobody else up, goes on where it
// stopped once the client reads, and arrives whole.
TEST(CommandSocket, AClientThatDoesNotReadItsAnswerHoldsNobodyUp) {
    Served copy(120s);
    ASSERT_TRUE(copy.listener);
    const std::string& path = copy.path;
    std::vector<std::unique_ptr<RawClient>> readers;
    for (int i = 0; i < 3; ++i) {
        readers.push_back(std::make_unique<RawClient>(path));
        ASSERT_TRUE(readers.back()->send("big\n"));
        ASSERT_TRUE(readers.back()->answerBegun());
    }
    platform::CommandAnswer answer;
    ASSERT_TRUE(platform::sendCommand(path, "status", answer, kGuard));
    EXPECT_EQ(answer.text, "heard status");
    for (const auto& reader : readers)
        EXPECT_EQ(reader->readToEnd(), "0 " + std::string(900000, 'b') + "\n");
}

// What a connection has not done by its deadline it does not do: a silent
// client and a half line are closed unserved, and an answer not taken in
// time is cut off before its final line feed, which the sender takes for no
// answer.
TEST(CommandSocket, TheDeadlineClosesWhatIsNotDone) {
    std::vector<std::string> heard;
    Served copy(50ms, platform::kCommandConnectionsMax, [&](const std::string& request) {
        heard.push_back(request);
        return echo(request);
    });
    ASSERT_TRUE(copy.listener);
    RawClient silent(copy.path), half(copy.path), notReading(copy.path);
    ASSERT_TRUE(half.send("stat"));
    ASSERT_TRUE(notReading.send("big\n"));
    for (const RawClient* client : {&silent, &half, &notReading})
        EXPECT_TRUE(client->closedByCopy());
    EXPECT_EQ(silent.readToEnd(), "");
    EXPECT_EQ(half.readToEnd(), "");
    // Its line may come only after its deadline on a busy machine; then
    // nothing of the answer goes out at all.
    const std::string cut = notReading.readToEnd();
    EXPECT_TRUE(cut.empty() || cut.back() != '\n') << "the whole answer went out";
    EXPECT_TRUE(cut.empty() || cut.rfind("0 bbb", 0) == 0) << cut.substr(0, 10);
    copy.server.reset();
    for (const std::string& request : heard)
        EXPECT_EQ(request, "big") << "only a whole line is served";
}

// A sender sees an answer without its final line feed as none.
TEST(CommandSocket, AnAnswerCutOffIsNone) {
    TempDir dir;
    const std::string path = dir.file("cut.socket");
    const int fd = boundSocket(path, true);
    ASSERT_GE(fd, 0);
    std::thread copy([fd] {
        const int client = ::accept(fd, nullptr, nullptr);
        char line[64];
        (void)!::recv(client, line, sizeof line, 0);
        (void)!::send(client, "0 reloaded WA", 13, MSG_NOSIGNAL);
        ::close(client);
    });
    platform::CommandAnswer answer;
    ASSERT_TRUE(platform::sendCommand(path, "reload", answer, kGuard));
    copy.join();
    EXPECT_EQ(answer.status, 2);
    EXPECT_EQ(answer.text, "the running copy did not answer");
    ::close(fd);
}

// Beyond the cap, a newcomer drops the oldest connection still waiting for
// its line, not an older one that is being answered; when every one is
// being answered, the oldest of them goes.
TEST(CommandSocket, TheCapDropsTheOldestWaitingConnection) {
    DebugCapture quiet;
    Served copy(120s, 3);
    ASSERT_TRUE(copy.listener);
    const std::string& path = copy.path;
    RawClient answered(path);
    ASSERT_TRUE(answered.send("big\n"));
    ASSERT_TRUE(answered.answerBegun());
    RawClient first(path), second(path), third(path);
    EXPECT_TRUE(first.closedByCopy()) << "the oldest waiting one goes";
    EXPECT_TRUE(answered.heldOpen()) << "an answer under way stays";
    EXPECT_TRUE(second.heldOpen());
    EXPECT_TRUE(third.heldOpen());

    platform::CommandAnswer answer;
    ASSERT_TRUE(platform::sendCommand(path, "status", answer, kGuard));
    EXPECT_EQ(answer.text, "heard status") << "a newcomer always gets in";
    EXPECT_TRUE(second.closedByCopy());
    EXPECT_TRUE(third.heldOpen());

    ASSERT_TRUE(third.send("big\n"));
    ASSERT_TRUE(third.answerBegun());
    RawClient fourth(path);
    ASSERT_TRUE(fourth.send("big\n"));
    ASSERT_TRUE(fourth.answerBegun());
    RawClient last(path);
    EXPECT_TRUE(answered.closedByCopy()) << "every one answering: the oldest goes";
    EXPECT_TRUE(third.heldOpen());
    EXPECT_TRUE(fourth.heldOpen());
    EXPECT_TRUE(last.heldOpen());
}

// The socket leaves its path with its listener, but a socket another run
// made there since is left alone.
TEST(CommandSocket, TheSocketGoesWithItsListenerWhenItIsStillOurs) {
    TempDir dir;
    const std::string path = dir.file("pv.socket");
    auto listener = platform::CommandListener::listen(path);
    ASSERT_TRUE(listener);
    listener.reset();
    struct stat st {};
    EXPECT_NE(::lstat(path.c_str(), &st), 0) << "the socket stayed after its listener";

    listener = platform::CommandListener::listen(path);
    ASSERT_TRUE(listener);
    ::unlink(path.c_str());
    auto later = platform::CommandListener::listen(path);
    ASSERT_TRUE(later);
    listener.reset();
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << "another run's socket was removed";
    platform::CommandAnswer answer;
    Server server(*later, echo);
    ASSERT_TRUE(platform::sendCommand(path, "status", answer, kGuard));
    EXPECT_EQ(answer.text, "heard status");
}

} // namespace
