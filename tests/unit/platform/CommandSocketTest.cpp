// Commands to the running copy over its socket: the round trip, the
// socket's mode, a dead run's socket replaced, what is not a socket of ours
// refused, no copy, and a copy that never answers.
#include "platform/CommandSocket.h"

#include "DebugCapture.h"
#include "TempDir.h"

#include <atomic>
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

// Serves one connection of the listener on a thread of its own.
struct Server {
    Server(platform::CommandListener& listener,
           std::function<platform::CommandAnswer(const std::string&)> handle)
        : thread([&listener, handle] {
              pollfd p{listener.descriptor(), POLLIN, 0};
              if (::poll(&p, 1, 20000) == 1)
                  listener.serveOne(handle, 5s);
          }) {}
    ~Server() { thread.join(); }
    std::thread thread;
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
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        timeval guard{20, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
        const std::string flood(platform::kCommandRequestMax + 10, 'f');
        ::send(fd, flood.data(), flood.size(), MSG_NOSIGNAL);
        char byte;
        EXPECT_LE(::recv(fd, &byte, 1, 0), 0) << "an overlong request is answered";
        ::close(fd);
    }
    EXPECT_FALSE(handled);
}

TEST(CommandSocket, ADeadRunsSocketIsReplacedAndAnythingElseKept) {
    TempDir dir;
    DebugCapture quiet;
    const std::string path = dir.file("pv.socket");
    {
        auto dead = platform::CommandListener::listen(path);
        ASSERT_TRUE(dead);
    } // the run ended without removing its socket
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
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
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

} // namespace
