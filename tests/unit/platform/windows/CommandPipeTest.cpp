// The running copy's named pipe: a later start's request reaches the
// handler on the owner's thread and its answer comes back whole; a pipe
// name already served is not taken over; silent clients hold no one up.
#include "platform/windows/CommandPipe.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <windows.h>

namespace {

// A pipe name of this test run alone.
std::string pipeName(const char* what) {
    static std::atomic<int> next{0};
    return "\\\\.\\pipe\\panoview-test-" + std::to_string(GetCurrentProcessId()) + "-" + what +
           "-" + std::to_string(next++);
}

// The owner's thread of the program is the UI thread; here a thread of its
// own for each call.
void runAside(std::function<void()> work) {
    std::thread(std::move(work)).detach();
}

platform::CommandAnswer ask(const std::string& path, const std::string& request) {
    platform::CommandAnswer answer{-1, "none"};
    EXPECT_TRUE(platform::sendCommand(path, request, answer, std::chrono::seconds(20)));
    return answer;
}

} // namespace

TEST(CommandPipe, RequestsAreAnsweredWhole) {
    const std::string path = pipeName("answers");
    std::atomic<int> handled{0};
    auto server = platform::CommandPipeServer::listen(
        path,
        [&](const std::string& request) -> platform::CommandAnswer {
            ++handled;
            if (request == "status")
                return {0, "signed in\nentry 0 live"};
            if (request == "big")
                return {0, std::string(300 * 1024, 'b')}; // beyond the pipe's buffers
            return {2, "unknown: " + request};
        },
        runAside);
    ASSERT_TRUE(server);
    struct Case {
        std::string request;
        int status;
        std::string text;
    } const cases[] = {
        {"status", 0, "signed in\nentry 0 live"},
        {"big", 0, std::string(300 * 1024, 'b')},
        {"reload WALL9", 2, "unknown: reload WALL9"},
        {"reload \nstatus", 2, "the request holds a line feed"}, // refused before sending
    };
    for (const Case& c : cases) {
        const platform::CommandAnswer answer = ask(path, c.request);
        EXPECT_EQ(answer.status, c.status) << c.request;
        EXPECT_EQ(answer.text.size(), c.text.size()) << c.request;
        EXPECT_TRUE(answer.text == c.text) << c.request;
    }
    EXPECT_EQ(handled, 3);
}

TEST(CommandPipe, NoServerMeansNoRunningCopy) {
    platform::CommandAnswer answer;
    EXPECT_FALSE(
        platform::sendCommand(pipeName("nobody"), "status", answer, std::chrono::seconds(5)));
}

// A second server of the same name (another program's, or a second copy)
// is refused, and the first keeps its clients.
TEST(CommandPipe, ANameAlreadyServedIsNotTakenOver) {
    const std::string path = pipeName("taken");
    auto first = platform::CommandPipeServer::listen(
        path,
        [](const std::string&) -> platform::CommandAnswer {
            return {0, "first"};
        },
        runAside);
    ASSERT_TRUE(first);
    EXPECT_EQ(ask(path, "status").text, "first");
    auto second = platform::CommandPipeServer::listen(
        path,
        [](const std::string&) -> platform::CommandAnswer {
            return {0, "second"};
        },
        runAside);
    EXPECT_FALSE(second);
    EXPECT_EQ(ask(path, "status").text, "first");
}

// Clients that connect and send nothing are dropped at their deadline, or
// sooner when the connections are full, and a client that asks is answered
// all the same.
TEST(CommandPipe, SilentClientsHoldNoOneUp) {
    const std::string path = pipeName("silent");
    auto server = platform::CommandPipeServer::listen(
        path,
        [](const std::string&) -> platform::CommandAnswer {
            return {0, "here"};
        },
        runAside, std::chrono::seconds(30), 2);
    ASSERT_TRUE(server);
    std::vector<HANDLE> silent;
    for (int i = 0; i < 4; ++i) {
        HANDLE pipe = INVALID_HANDLE_VALUE;
        for (int tries = 0; tries < 100 && pipe == INVALID_HANDLE_VALUE; ++tries) {
            pipe = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
            if (pipe == INVALID_HANDLE_VALUE)
                WaitNamedPipeA(path.c_str(), 5000);
        }
        ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
        silent.push_back(pipe);
    }
    const platform::CommandAnswer answer = ask(path, "status");
    EXPECT_EQ(answer.status, 0);
    EXPECT_EQ(answer.text, "here");
    for (HANDLE pipe : silent)
        CloseHandle(pipe);
}
