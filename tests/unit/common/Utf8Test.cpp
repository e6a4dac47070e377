#include "common/Utf8.h"

#include <gtest/gtest.h>

TEST(Utf8, SanitizeKeepsValidAndReplacesInvalid) {
    EXPECT_EQ(utf8::sanitize("abc \xE4\xB8\xAD"), "abc \xE4\xB8\xAD");
    // A lone continuation byte, a truncated sequence, an overlong form and an
    // encoded surrogate each become U+FFFD.
    EXPECT_EQ(utf8::sanitize("a\x80z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(utf8::sanitize("a\xE4\xB8"), "a\xEF\xBF\xBD");
    EXPECT_EQ(utf8::sanitize("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(utf8::sanitize("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(utf8::sanitize(std::string("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(utf8::sanitize("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
    EXPECT_NE(utf8::sanitize("\xF5\x80\x80\x80"), "\xF5\x80\x80\x80");
}

TEST(Utf8, WideRoundTrip) {
    std::wstring wide = L"http://\u5DE5\u5382/\U0001F600";
    EXPECT_EQ(utf8::toWide(utf8::fromWide(wide)), wide);
    EXPECT_EQ(utf8::toWide("\xFF"), L"\uFFFD");
}

// Characters beyond U+FFFF are one wchar_t or a surrogate pair, as wide
// text holds them on the platform; a surrogate that is not part of a pair is
// no character.
TEST(Utf8, WideTextBeyondTheBasicPlane) {
    EXPECT_EQ(utf8::fromWide(L"\U0001F600x"), "\xF0\x9F\x98\x80x");
    EXPECT_EQ(utf8::toWide("\xF0\x9F\x98\x80x"), L"\U0001F600x");
    EXPECT_EQ(utf8::fromWide(std::wstring{wchar_t(0xD83D), L'x'}), "\xEF\xBF\xBDx");
    EXPECT_EQ(utf8::fromWide(std::wstring{wchar_t(0xDE00), wchar_t(0xD83D)}),
              "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Utf8, CutNeverSplitsACharacter) {
    std::string text = "ab\xE4\xB8\xAD\xE6\x96\x87"; // "ab" + two 3-byte characters
    EXPECT_EQ(utf8::cutAtCharBoundary(text, 31), text);
    EXPECT_EQ(utf8::cutAtCharBoundary(text, 4), "ab");
    EXPECT_EQ(utf8::cutAtCharBoundary(text, 5), "ab\xE4\xB8\xAD");
    EXPECT_EQ(utf8::cutAtCharBoundary(text, 0), "");
}
