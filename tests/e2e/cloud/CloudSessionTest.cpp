// Sign-in, factory entry, keep-alive and sign-out against the stand-in cloud
// service, refusals delivered to the stand-in shell client, and a keep-alive
// that fails once the service stops answering.
#include "DebugCapture.h"
#include "TempDir.h"
#include "XWall.h"

#include "cloud/LSystem.h"
#include "http/WininetHttp.h"
#include "platform/ShellClient.h"

#include <csignal>
#include <gtest/gtest.h>

namespace {

// The stand-in cloud service on a free port, for the life of the object.
class CloudService {
public:
    explicit CloudService(const TempDir& dir)
        : child_({CLOUD_SERVICE, "0", CLOUD_ACCOUNTS}, {}, dir.file("cloud-service")) {
        e2e::waitFor([&] { return child_.stdoutText().find('\n') != std::string::npos; });
        const std::string out = child_.stdoutText();
        address_ = "http://127.0.0.1:" + out.substr(0, out.find('\n'));
    }
    const std::string& address() const { return address_; }
    // Sends a signal and waits until the service says it has acted on it.
    void signalAndWait(int signal, const std::string& confirmation) {
        const size_t before = count(confirmation);
        child_.signal(signal);
        e2e::waitFor([&] { return count(confirmation) > before; });
    }

private:
    size_t count(const std::string& text) const {
        const std::string err = child_.stderrText();
        size_t n = 0;
        for (size_t at = err.find(text); at != std::string::npos; at = err.find(text, at + 1))
            ++n;
        return n;
    }
    e2e::Child child_;
    std::string address_;
};

class CloudSession : public ::testing::Test {
protected:
    // The shared client tells refusals to the shell client of the session,
    // which lives in the runtime folder: here a folder where none listens.
    CloudSession() : service(dir) { ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1); }

    TempDir dir;
    CloudService service;
    DebugCapture capture;
    // The client the sign-in and the keep-alive share, as in the program.
    LSystem shared;
};

// Whether a monitoring page shows its token as live.
bool pageSaysLive(const std::string& address, const std::string& token) {
    CWininetHttp http;
    const std::string page = http.Request(
        (address + "/KnitUI/W_Factory.html?token=" + token + "&flag=multiscreen").c_str(), 1,
        nullptr, nullptr);
    EXPECT_NE(page.find("工厂总览"), std::string::npos);
    return page.find("class=\"token live\"") != std::string::npos;
}

TEST_F(CloudSession, SignInEnterKeepAliveSignOut) {
    const std::string& address = service.address();
    std::string token, name;
    ASSERT_EQ(LSystem::Login(address, token, shared, "admin", "123456", name), 1);
    EXPECT_EQ(token.size(), 32u);
    EXPECT_EQ(name, "王厂长");
    EXPECT_EQ(LSystem::EnterFactory(address, "F001", shared, token), 1);
    EXPECT_EQ(LSystem::heartpacket(address, shared, token), 1);
    EXPECT_TRUE(pageSaysLive(address, token));

    {
        LSystem signOut;
        EXPECT_EQ(LSystem::Logout(signOut, address), 1);
    }
    EXPECT_EQ(LSystem::heartpacket(address, shared, token), 0);
    EXPECT_FALSE(pageSaysLive(address, token));
    // The session is gone: a second sign-out is refused.
    LSystem again;
    EXPECT_EQ(LSystem::Logout(again, address), 0);
}

// The sign-out carries no token: the cookie of the latest sign-in names the
// session, and only that one ends.
TEST_F(CloudSession, CookieIdentifiesTheSignOut) {
    const std::string& address = service.address();
    std::string first, second, name;
    ASSERT_EQ(LSystem::Login(address, first, shared, "admin", "123456", name), 1);
    ASSERT_EQ(LSystem::Login(address, second, shared, "viewer", "view", name), 1);
    ASSERT_NE(first, second);
    LSystem signOut;
    EXPECT_EQ(LSystem::Logout(signOut, address), 1);
    EXPECT_EQ(LSystem::heartpacket(address, shared, second), 0);
    EXPECT_EQ(LSystem::heartpacket(address, shared, first), 1);
}

TEST_F(CloudSession, RefusalsReachTheShellClient) {
    const std::string socket = platform::shellClientSocketPath();
    e2e::Child shellclient({SHELLCLIENT, socket}, {}, dir.file("shellclient"));
    ASSERT_TRUE(e2e::waitFor(
        [&] { return shellclient.stdoutText().find("listening on") != std::string::npos; }));

    const std::string& address = service.address();
    std::string token, name;
    EXPECT_EQ(LSystem::Login(address, token, shared, "admin", "wrong", name), 0);
    EXPECT_TRUE(token.empty());
    ASSERT_EQ(LSystem::Login(address, token, shared, "张三", "织机2024", name), 1);
    EXPECT_EQ(LSystem::EnterFactory(address, "F002", shared, token), 0);

    // Each notice is acknowledged before the call returns, so both lines are
    // already printed.
    const std::string out = shellclient.stdoutText();
    EXPECT_EQ(out.substr(out.find('\n') + 1), "警告|登录失败,返回:账号或密码错误\n"
                                              "警告|进入工厂失败,返回:工厂不存在或无权访问\n");
    shellclient.signal(SIGTERM);
    EXPECT_EQ(shellclient.wait(), 0);
}

TEST_F(CloudSession, KeepAliveFailsWhenTheServiceStopsAnswering) {
    const std::string& address = service.address();
    std::string token, name;
    ASSERT_EQ(LSystem::Login(address, token, shared, "admin", "123456", name), 1);
    ASSERT_EQ(LSystem::heartpacket(address, shared, token), 1);

    service.signalAndWait(SIGUSR1, "not answering");
    capture.clear();
    EXPECT_EQ(LSystem::heartpacket(address, shared, token), 0);
    const auto writes = capture.writes();
    ASSERT_GE(writes.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(writes.end() - 5, writes.end()),
              (std::vector<std::string>{"LSystem::heartpacket()\n", "Request:",
                                        address + "/heartpacket?Token=" + token, "Response:", ""}));

    service.signalAndWait(SIGUSR2, "answering again");
    EXPECT_EQ(LSystem::heartpacket(address, shared, token), 1);
}

} // namespace
