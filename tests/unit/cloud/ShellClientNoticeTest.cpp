// The shell-client notice on the wire, through a real listening socket.
#include "DebugCapture.h"
#include "FakeHttp.h"
#include "NoticeListener.h"

#include "cloud/LSystem.h"
#include "platform/ShellClient.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

std::string header(uint32_t id, uint32_t length) {
    std::string bytes(8, '\0');
    std::memcpy(bytes.data(), &id, 4);
    std::memcpy(bytes.data() + 4, &length, 4);
    return bytes;
}

// A refused sign-in: data identifier 1, the length, then caption, "|", the
// message prefix and the tips, without a terminator.
TEST(ShellClientNotice, BytesOfARefusedLogin) {
    NoticeListener listener;
    std::string reply = R"({"rt":"0","tips":"账号不存在"})";
    LSystem client(std::make_unique<FakeHttp>(&reply), shellClientAt(listener.path()));
    std::string token, name;
    DebugCapture capture;
    EXPECT_EQ(LSystem::Login("http://h", token, client, "a", "p", name), 0);
    const std::string text = "警告|登录失败,返回:账号不存在";
    ASSERT_EQ(listener.raw().size(), 1u);
    EXPECT_EQ(listener.raw()[0], header(1, static_cast<uint32_t>(text.size())) + text);
}

TEST(ShellClientNotice, EmptyMessageAndLargeMessage) {
    NoticeListener listener;
    std::string reply;
    LSystem client(std::make_unique<FakeHttp>(&reply), shellClientAt(listener.path()));
    const std::string large(300000, 'x');
    ASSERT_TRUE(client.NotifyShellClient("警告", ""));
    ASSERT_TRUE(client.NotifyShellClient("c", large));
    EXPECT_EQ(listener.texts(), (std::vector<std::string>{"警告|", "c|" + large}));
}

TEST(ShellClientNotice, NobodyListening) {
    TempDir dir;
    // A socket file left behind by a shell client that has ended.
    const std::string stale = dir.file("stale.sock");
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, stale.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);

    for (const std::string& path : {dir.file("missing.sock"), stale, std::string(200, 'p')}) {
        EXPECT_FALSE(platform::sendShellClientNotice(path, 1, "警告|x")) << path;
    }
}

TEST(ShellClientNotice, DefaultPathFollowsRuntimeDirectory) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string previous = saved ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(platform::shellClientSocketPath(), "/run/user/4242/Tolvan_shellclient_Main");
    ::setenv("XDG_RUNTIME_DIR", "", 1);
    EXPECT_EQ(platform::shellClientSocketPath(),
              "/tmp/panoview-" + std::to_string(::getuid()) + "/Tolvan_shellclient_Main");
    if (saved)
        ::setenv("XDG_RUNTIME_DIR", previous.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

} // namespace
