#include "PageCommandLine.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace {

struct Read {
    bool ok;
    int left, top, bottom, right;
    std::string url;
};

Read read(std::string_view tail) {
    PagePlacement page;
    const bool ok = parsePageCommandLine(tail, page);
    return {ok, page.left, page.top, page.bottom, page.right, page.url};
}

} // namespace

TEST(PageCommandLine, ReadsWhatTheWallWrites) {
    const std::string address =
        "http://127.0.0.1/KnitUI/A_MachineKnitting.html?token=9f2c&flag=multiscreen&orderid=1";
    // The wall's format: left, top, bottom, right, then the address unquoted.
    char line[320];
    std::snprintf(line, sizeof line, "%s /left %d /top %d /bottom %d /right %d /url %s",
                  "Brovia.exe", -1920, 0, 1040, 0, address.c_str());
    const Read got = read(afterProgramName(line));
    EXPECT_TRUE(got.ok);
    EXPECT_EQ(got.left, -1920);
    EXPECT_EQ(got.top, 0);
    EXPECT_EQ(got.bottom, 1040);
    EXPECT_EQ(got.right, 0);
    EXPECT_EQ(got.url, address);
}

TEST(PageCommandLine, TheAddressIsTheRestOfTheLine) {
    const struct {
        std::string tail;
        std::string url;
    } cases[] = {
        // Blanks typed into a page's parameters stay in the address.
        {"/left 0 /top 0 /bottom 10 /right 10 /url http://h/p.html?token=t&areaname=A B",
         "http://h/p.html?token=t&areaname=A B"},
        // Blanks and tabs between the words; a line end after the address.
        {"/left\t0  /top 0 /bottom 10 /right 10 /url   http://h/x\r\n", "http://h/x"},
        {"/left 0 /top 0 /bottom 10 /right 10 /url %s&%%&/url", "%s&%%&/url"},
        // Quoted by a starter that quotes an argument with blanks.
        {"/left 0 /top 0 /bottom 10 /right 10 /url \"http://h/p?token=t&areaname=A B\"",
         "http://h/p?token=t&areaname=A B"},
        {R"(/left 0 /top 0 /bottom 10 /right 10 /url "http://h/a b\"c\\d\\\"e\\")",
         R"(http://h/a b"c\\d\"e\)"},
    };
    for (const auto& c : cases) {
        const Read got = read(c.tail);
        EXPECT_TRUE(got.ok) << c.tail;
        EXPECT_EQ(got.url, c.url) << c.tail;
    }
}

TEST(PageCommandLine, RefusesWhatItCannotPlace) {
    for (const char* tail : {
             "",
             "/left 0 /top 0 /bottom 10 /right 10",           // no address
             "/left 0 /top 0 /bottom 10 /right 10 /url ",     // an empty one
             "/left 0 /top 0 /bottom 10 /right 10 /url \"\"", // an empty quoted one
             "/top 0 /left 0 /bottom 10 /right 10 /url u",    // out of order
             "/left 0 /top 0 /right 10 /bottom 10 /url u",    // right before bottom
             "/left 0px /top 0 /bottom 10 /right 10 /url u",  // not a number
             "/left 0 /top 0 /bottom 10 /right 40000 /url u", // beyond a coordinate
             "/left 0 /top 0 /bottom 10 /right 0 /url u",     // no width
             "/left 0 /top 10 /bottom 5 /right 10 /url u",    // bottom above top
             "/LEFT 0 /top 0 /bottom 10 /right 10 /url u",    // names as written
         }) {
        EXPECT_FALSE(read(tail).ok) << tail;
    }
}

TEST(PageCommandLine, TheProgramNameIsTheFirstWordOrAQuotedText) {
    const struct {
        const char* line;
        const char* tail;
    } cases[] = {
        {"Brovia.exe /left 1", "/left 1"},
        {"  Brovia.exe   /left 1", "/left 1"},
        {"\"C:\\Program Files\\Panoview\\Brovia.exe\" /left 1", "/left 1"},
        {"Brovia.exe", ""},
        {"\"C:\\Brovia.exe /left 1", ""}, // a quote that never closes
    };
    for (const auto& c : cases)
        EXPECT_EQ(afterProgramName(c.line), c.tail) << c.line;
}
