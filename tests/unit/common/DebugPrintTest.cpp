#include "common/DebugPrint.h"
#include "DebugCapture.h"

#include <gtest/gtest.h>

TEST(DebugPrint, FormatsOneWritePerCall) {
    DebugCapture capture;
    DebugPrint("MonitorEnumProc1: szDevice.%s,dwFlags.0x%08d\n", "DP-1", 1);
    OutputDebugText("Request:");
    OutputDebugTextW(L"\u8B66\u544A");
    auto writes = capture.writes();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0], "MonitorEnumProc1: szDevice.DP-1,dwFlags.0x00000001\n");
    EXPECT_EQ(writes[1], "Request:");
    EXPECT_EQ(writes[2], "\xE8\xAD\xA6\xE5\x91\x8A");
}

TEST(DebugPrint, LongLineIsCutAt1023Characters) {
    DebugCapture capture;
    std::string longText(5000, 'x');
    DebugPrint("%s", longText.c_str());
    ASSERT_EQ(capture.writes().size(), 1u);
    EXPECT_EQ(capture.writes()[0], std::string(1023, 'x'));
}
