// Narrow text in the ANSI code page: the suites run in code page 936, as on
// the target systems (the Wine environment of tests/support).
#include "platform/NarrowText.h"

#include <gtest/gtest.h>
#include <windows.h>

TEST(WindowsNarrowText, TheSuitesRunInCodePage936) {
    EXPECT_EQ(GetACP(), 936u);
}

// "警告|登录失败" in UTF-8 and in GBK.
TEST(WindowsNarrowText, RepliesInUtf8BecomeGbk) {
    const std::string utf8 =
        "\xE8\xAD\xA6\xE5\x91\x8A|\xE7\x99\xBB\xE5\xBD\x95\xE5\xA4\xB1\xE8\xB4\xA5";
    const std::string gbk = "\xBE\xAF\xB8\xE6|\xB5\xC7\xC2\xBC\xCA\xA7\xB0\xDC";
    EXPECT_EQ(platform::narrowFromUtf8(utf8), gbk);
    EXPECT_EQ(platform::utf8FromNarrow(gbk), utf8);
    EXPECT_EQ(platform::narrowFromUtf8("{\"rt\":\"1\"}"), "{\"rt\":\"1\"}");
    EXPECT_EQ(platform::narrowFromUtf8(""), "");
    EXPECT_EQ(platform::narrowFromUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

// A character GBK lacks becomes the code page's default character (one for
// each UTF-16 unit: a character beyond the first plane gives two), and an
// invalid UTF-8 sequence becomes one too (through U+FFFD).
TEST(WindowsNarrowText, WhatGbkLacksBecomesItsDefaultCharacter) {
    EXPECT_EQ(platform::narrowFromUtf8("a\xE2\x82\xAC\xE2\x98\x83z"), "a\x80?z");
    EXPECT_EQ(platform::narrowFromUtf8("a\xF0\x9F\x98\x80z"), "a??z");
    EXPECT_EQ(platform::narrowFromUtf8("a\xFFz"), "a?z");
}
