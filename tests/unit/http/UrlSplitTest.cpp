#include "http/UrlSplit.h"
#include "common/Numbers.h"

#include <gtest/gtest.h>

namespace {

struct SplitCase {
    const char* url;
    const char* host;
    int32_t port;
    const char* path;
};

const SplitCase kSplitCases[] = {
    {"http://server:8088/Login", "server", 8088, "/Login"},
    {"server/x", "server", 80, "/x"},
    {"http://server", "server", 80, ""},
    {"http://server:8088/Enter?Token=t1", "server", 8088, "/Enter?Token=t1"},
    {"http://server:x1/a", "server", 0, "/a"},
    {"HTTP://server/a", "HTTP", 0, "//server/a"},
    {"https://server/a", "https", 0, "//server/a"},
    {"see http://server/a", "server", 80, "/a"},
    {"http://server: 81/a", "server", 81, "/a"},
    {"http://server:70000/a", "server", 70000, "/a"}, // refused when connecting
    {"http://server:-1/a", "server", -1, "/a"},
    {"http://a/b:9/c", "a", 80, "/b:9/c"},
    {"http://user@host:9/p#f", "user@host", 9, "/p#f"},
    {"", "", 80, ""},
};

TEST(UrlSplit, NarrowAndWideFormsCutAlike) {
    for (const auto& c : kSplitCases) {
        SCOPED_TRACE(c.url);
        UrlParts parts = splitUrl(std::string_view(c.url));
        EXPECT_EQ(parts.host, c.host);
        EXPECT_EQ(parts.port, c.port);
        EXPECT_EQ(parts.path, c.path);

        std::string url = c.url;
        UrlPartsW wide = splitUrl(std::wstring_view(std::wstring(url.begin(), url.end())));
        EXPECT_EQ(wide.host, std::wstring(parts.host.begin(), parts.host.end()));
        EXPECT_EQ(wide.port, c.port);
        EXPECT_EQ(wide.path, std::wstring(parts.path.begin(), parts.path.end()));
    }
}

TEST(UrlSplit, NumberReadersStopAtTheFirstNonDigit) {
    EXPECT_EQ(parseDecimalInt(std::string_view(" \t42abc")), 42);
    EXPECT_EQ(parseDecimalInt(std::string_view("-17")), -17);
    EXPECT_EQ(parseDecimalInt(std::string_view("+8")), 8);
    EXPECT_EQ(parseDecimalInt(std::string_view("x1")), 0);
    EXPECT_EQ(parseDecimalInt(std::string_view("99999999999")), 2147483647);
    EXPECT_EQ(parseDecimalInt(std::string_view("-99999999999")), -2147483647 - 1);
    EXPECT_EQ(parseDecimalInt(std::wstring_view(L" 1048577")), 1048577);

    EXPECT_EQ(parseDecimalDouble(" 1048576"), 1048576.0);
    EXPECT_EQ(parseDecimalDouble("12.5e1x"), 125.0);
    EXPECT_EQ(parseDecimalDouble("inf"), 0.0);
    EXPECT_EQ(parseDecimalDouble("nan"), 0.0);
    EXPECT_EQ(parseDecimalDouble("0x10"), 0.0);
    EXPECT_EQ(parseDecimalDouble(""), 0.0);
}

} // namespace
