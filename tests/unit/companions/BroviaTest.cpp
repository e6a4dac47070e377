// Brovia refuses every rectangle X11 cannot show before it opens a window or
// starts a browser.
#include "BroviaRun.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> rectangle(const std::string& left, const std::string& top,
                                   const std::string& bottom, const std::string& right) {
    return {"/left", left, "/top", top, "/bottom", bottom, "/right", right, "/url", "http://h/p"};
}

TEST(Brovia, CoordinatesBeyondWhatX11ShowsAreRefused) {
    struct Case {
        std::vector<std::string> args;
        bool accepted;
    };
    const Case cases[] = {
        {rectangle("0", "0", "32767", "32767"), true},
        {rectangle("-32768", "-32768", "0", "0"), true},
        {rectangle("0", "0", "1040", "32768"), false},
        {rectangle("0", "0", "32768", "1920"), false},
        {rectangle("-32769", "0", "1040", "0"), false},
        {rectangle("0", "-32769", "0", "1920"), false},
        {rectangle("0", "0", "99999999999", "1920"), false},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& a : c.args)
            line += a + " ";
        SCOPED_TRACE(line);
        const int status = runBroviaWithoutDisplay(c.args);
        if (c.accepted)
            EXPECT_NE(status, 2);
        else
            EXPECT_EQ(status, 2);
    }
}

} // namespace
