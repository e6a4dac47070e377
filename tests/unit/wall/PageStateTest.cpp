// The page-state line Brovia writes and the wall keeper reads, and the
// keeper's store of each monitor's last state.
#include "wall/PageState.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

TEST(PageReport, LinesRoundTripAndAnythingElseIsRefused) {
    const PageReport reports[] = {
        {PageCondition::Loading, 1, 0, "starting"},
        {PageCondition::Live, 3, 0, ""},
        {PageCondition::Retrying, 12, 1796757469440, "net::ERR_CONNECTION_REFUSED"},
        {PageCondition::Crashed, 4294967295u, 0, "the renderer crashed (crashed)"},
        {PageCondition::Hung, 2, 0, "no answer to 2 probes"},
        {PageCondition::NeedsSignIn, 1, 0, "landed on https://sso.example.org/login?a b"},
        {PageCondition::Closed, 1, 0, "the page closed its window"},
        {PageCondition::Still, 2, 0, "one colour"},
        {PageCondition::Wandered, 1, 1796757469440, "the page went to https://x.example/"},
        {PageCondition::Retrying, 3, 1796757469440, "net::ERR_CERT_DATE_INVALID", "certificate"},
        {PageCondition::NeedsSignIn, 1, 5, "a box", "auth"},
        {PageCondition::Loading, 7, 0, "", "dialog"},
    };
    for (const PageReport& r : reports) {
        const std::string line = formatPageReport(r);
        SCOPED_TRACE(line);
        EXPECT_EQ(line.back(), '\n');
        EXPECT_EQ(parsePageReport(line), r);
    }
    EXPECT_EQ(formatPageReport({PageCondition::Retrying, 2, 77, "x"}), "page retrying 2 77 x\n");
    const char* refused[] = {
        "",
        "page",
        "page live",
        "page live 1",
        "page alive 1 0",
        "page live 0 0",
        "page live -1 0",
        "page live 1 -5",
        "page live 1x 0",
        "page live 99999999999 0",
        "Page live 1 0",
        "[123:456:ERROR:chrome] page live 1 0",
        "page  live 1 0",
        "page live 1 0 tab\there",
        "page live: 1 0",
        "page :dialog 1 0",
        "page live:nap 1 0",
        "page live:dialog:print 1 0",
    };
    for (const char* line : refused)
        EXPECT_FALSE(parsePageReport(line).has_value()) << line;
    EXPECT_FALSE(parsePageReport("page live 1 0 " + std::string(600, 'x')).has_value());
}

// What each line counts among the reloads of the metrics: the states that
// stand for a load and the reasons that do, never an answered dialog.
TEST(PageReport, EachLoadOfThePageHasOneReloadReason) {
    const struct {
        const char* line;
        const char* reason;
    } cases[] = {
        {"page live 1 0", ""},
        {"page loading 2 0 trying again", ""},
        {"page sign-in 1 0 landed on https://sso/login", ""},
        {"page crashed 1 0", "crashed"},
        {"page hung 1 0", "hung"},
        {"page retrying 1 5 refused", "retrying"},
        {"page closed 1 0", "closed"},
        {"page still 1 0", "still"},
        {"page wandered 1 5", "wandered"},
        {"page retrying:certificate 1 5", "certificate"},
        {"page retrying:download 1 5", "download"},
        {"page sign-in:auth 1 5", "auth"},
        {"page live:dialog 4 0", ""},
        {"page live:print 1 0", ""},
        {"page no-browser 1 0 no Chromium at /usr/bin/chromium", ""},
    };
    for (const auto& c : cases) {
        const auto report = parsePageReport(c.line);
        ASSERT_TRUE(report.has_value()) << c.line;
        EXPECT_EQ(pageReloadReason(*report), c.reason) << c.line;
        EXPECT_EQ(formatPageReport(*report), std::string(c.line) + "\n");
    }
    // Every name the metrics list is one a line can carry.
    for (std::string_view state : kPageStateNames)
        EXPECT_TRUE(parsePageReport("page " + std::string(state) + " 1 0").has_value()) << state;
}

TEST(PageReport, DetailIsKeptOnOneLineWithinTheLimit) {
    const std::string line =
        formatPageReport({PageCondition::Hung, 1, 0, "two\nlines\r" + std::string(900, 'y')});
    EXPECT_LE(line.size(), kPageReportLineMax);
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
    auto parsed = parsePageReport(line);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->detail.substr(0, 10), "two lines ");
}

TEST(PageStates, KeepsEachMonitorsLastStateCountAndSinceWhen) {
    PageStates states;
    const auto t0 = PageStates::Clock::time_point() + 1000h;
    // Bytes as they come off two pipes: cut anywhere, a foreign line among
    // them, an overlong line dropped whole.
    EXPECT_EQ(states.feed(0, "page load", t0), 0u);
    EXPECT_EQ(states.feed(0, "ing 1 0 starting\npage live 1 0\nnoise\npa", t0 + 1s), 2u);
    EXPECT_EQ(states.feed(1, "page retrying 1 5000 refused\n", t0 + 2s), 1u);
    EXPECT_EQ(states.feed(1, std::string(2000, 'z'), t0 + 3s), 0u);
    EXPECT_EQ(states.feed(1, "page live 9 0\npage crashed 2 0\n", t0 + 4s), 1u);
    EXPECT_EQ(states.feed(0, "ge hung 1 0 no answer\n", t0 + 5s), 1u);

    auto zero = states.of(0);
    ASSERT_TRUE(zero.has_value());
    EXPECT_EQ(zero->last.condition, PageCondition::Hung);
    EXPECT_EQ(zero->last.detail, "no answer");
    EXPECT_EQ(zero->since, t0 + 5s);
    auto one = states.of(1);
    ASSERT_TRUE(one.has_value());
    EXPECT_EQ(one->last.condition, PageCondition::Crashed); // the overlong line took "live 9"
    EXPECT_EQ(one->last.count, 2u);
    EXPECT_EQ(one->since, t0 + 4s);
    EXPECT_FALSE(states.of(2).has_value());
    EXPECT_FALSE(states.record(2, "not a report", t0));

    // A browser that ended leaves nothing behind, half a line included.
    states.forget(0);
    EXPECT_FALSE(states.of(0).has_value());
    EXPECT_EQ(states.feed(0, "page live 1 0\n", t0 + 6s), 1u);
    EXPECT_EQ(states.all().size(), 2u);
    states.clear();
    EXPECT_TRUE(states.all().empty());
}

} // namespace
