// Brovia accepts exactly "/left L /top T /bottom B /right R /url U" and
// refuses anything else before it opens a window or starts a browser.
#include "BroviaRun.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

int runBrovia(std::vector<std::string> args) {
    return runBroviaWithoutDisplay(std::move(args));
}

TEST(BroviaArguments, RefusesAnyOtherCommandLineWithUsageStatus) {
    const std::vector<std::vector<std::string>> refused = {
        {},
        {"/left", "0", "/top", "0", "/bottom", "10", "/right", "10"},
        {"/top", "0", "/left", "0", "/bottom", "10", "/right", "10", "/url", "u"},
        {"/left", "0", "/top", "0", "/right", "10", "/bottom", "10", "/url", "u"},
        {"/left", "x", "/top", "0", "/bottom", "10", "/right", "10", "/url", "u"},
        {"/left", "0", "/top", "0", "/bottom", "10", "/right", "10px", "/url", "u"},
        {"/left", "10", "/top", "0", "/bottom", "10", "/right", "10", "/url", "u"}, // no width
        {"/left", "0", "/top", "10", "/bottom", "5", "/right", "10", "/url", "u"},  // no height
        {"/left", "0", "/top", "0", "/bottom", "10", "/right", "10", "/url", "u", "extra"},
        {"/LEFT", "0", "/top", "0", "/bottom", "10", "/right", "10", "/url", "u"},
    };
    for (const auto& args : refused) {
        std::string line;
        for (const auto& a : args)
            line += a + " ";
        EXPECT_EQ(runBrovia(args), 2) << line;
    }
    // The accepted form gets past the check (and then fails for want of a
    // display, with another status).
    EXPECT_NE(runBrovia({"/left", "-1280", "/top", "0", "/bottom", "1040", "/right", "0", "/url",
                         "http://h/p?t=a b"}),
              2);
}

} // namespace
