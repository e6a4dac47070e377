// The shell-client notice: FindWindowA for the window class, then
// WM_COPYDATA sent and waited for.
#include "platform/ShellClient.h"

#include "ShellClientWindow.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <windows.h>

TEST(WindowsShellClient, TheShellClientIsFoundByItsWindowClass) {
    EXPECT_EQ(platform::shellClientSocketPath(), "Tolvan_shellclient_Main");
}

// The notice's bytes arrive as sent (GBK, no terminator) with identifier 1,
// and the call returns once the window has handled them.
TEST(WindowsShellClient, NoticeArrivesThroughWmCopyData) {
    const std::string windowClass =
        "Panoview_test_shellclient_" + std::to_string(GetCurrentProcessId());
    const std::string notice =
        "\xBE\xAF\xB8\xE6|\xB5\xC7\xC2\xBC\xCA\xA7\xB0\xDC,\xB7\xB5\xBB\xD8:no";
    ShellClientWindow client(windowClass);
    ASSERT_TRUE(platform::sendShellClientNotice(windowClass, 1, notice));
    auto notices = client.notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].first, 1u);
    EXPECT_EQ(notices[0].second, notice);
}

TEST(WindowsShellClient, NoWindowMeansNotSent) {
    EXPECT_FALSE(platform::sendShellClientNotice("Panoview_test_nobody_listens", 1, "x"));
}
