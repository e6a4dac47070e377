// The cases of PageCases.h on a signed-in wall with Debian's Chromium, in
// the shared browser and with a Chromium per page: each row must come to
// what the wall needs (the state --status --json reports, its reloads and
// the page's own drawing on the monitor) while the bystander stays live and
// no page browser starts again. The wander and still rules take 6 s here
// (BROVIA_TEST_SHORT_RULES). While the cases run, the session token must be
// nowhere another user can read it, nor in any log or file of the wall's.
// A wall without Chromium shows plain windows reported no-browser.
#include "PageCases.h"

#include <gtest/gtest.h>
#include <iostream>
#include <sys/stat.h>

using namespace std::chrono_literals;
using cases::CaseWall;

namespace {

// The files under the paths that hold the token, found with grep -F -l -r
// (the token read from a file, never on a command line); `as` prefixes the
// command (runuser for another user).
std::vector<std::string> holdingToken(const CaseWall& wall, const std::string& token,
                                      const std::string& paths, const std::string& as = "",
                                      const std::string& options = "") {
    const std::string patterns = wall.dir.file("token");
    wall.dir.write("token", token + "\n");
    chmod(patterns.c_str(), 0600);
    const std::string out = e2e::capture(as + " grep -F -l -s -r " + options + " -f - " + paths +
                                         " < " + patterns + " 2>/dev/null");
    std::vector<std::string> files;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        files.push_back(line);
    return files;
}

std::string joined(const std::vector<std::string>& files) {
    std::string text;
    for (const std::string& f : files)
        text += f + "\n";
    return text;
}

// The token, as the other users of the machine and the wall's own files
// hold it: empty lists when it is where it must be only.
void expectTokenHidden(CaseWall& wall, const std::string& model) {
    const std::string token = wall.sessionToken();
    ASSERT_GE(token.size(), 8u) << wall.service.stderrText();
    const std::string uid = std::to_string(getuid());
    // Another user (nobody): every process's command line and environment,
    // and what it can read of the wall's folders, the user's private folder
    // (the profiles) and the shared memory Chromium uses.
    if (geteuid() == 0 && e2e::capture("runuser -u nobody -- id -u 2>/dev/null") == "65534\n") {
        const auto found = holdingToken(wall, token,
                                        "/proc/[0-9]*/cmdline /proc/[0-9]*/environ /tmp/panoview-* "
                                        "/dev/shm",
                                        "runuser -u nobody --");
        EXPECT_TRUE(found.empty()) << model << ": readable by nobody:\n" << joined(found);
        std::cout << model << ": token grep as nobody over /proc/*/cmdline, /proc/*/environ, "
                  << "/tmp/panoview-*, /dev/shm: " << found.size() << " files\n";
    } else {
        std::cout << model << ": the token grep as nobody is skipped: this suite runs as uid "
                  << geteuid() << " and cannot change user (runuser needs root)\n";
    }
    // The wall's own: every log and file Panoview and Brovia write in the
    // user's state and runtime folders, the private folder beside the
    // profiles (whose browser history is Chromium's own, in a folder only
    // the user reads, gone with the page), the metrics and Panoview's
    // output.
    const auto own =
        holdingToken(wall, token,
                     wall.dir.file("state") + " " + wall.dir.file("run") + " /tmp/panoview-" + uid +
                         " " + wall.dir.file("panoview.prom") + " " +
                         wall.dir.file("panoview.err") + " " + wall.dir.file("panoview.out"),
                     "", "--exclude-dir='brovia-profile-*'");
    EXPECT_TRUE(own.empty()) << model << ": the wall's files hold the token:\n" << joined(own);
}

class PageCasesE2E : public ::testing::TestWithParam<bool> {};

TEST_P(PageCasesE2E, EveryCaseEndsAsTheWallNeedsAndTheOtherPagesRunOn) {
    if (access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "Debian's Chromium is not installed";
    const bool shared = GetParam();
    const std::string model = shared ? "shared browser" : "a Chromium per page";
    CaseWall wall(cases::chromiumCases(), shared, "6");
    auto panoview = wall.start();
    ASSERT_TRUE(wall.signIn()) << panoview->stderrText();

    // Every row holds in one look at the wall (the guard only ends a broken
    // run; rows that are loaded again come back to their state in seconds).
    std::vector<cases::Seen> seen;
    const auto allHold = [&] {
        seen = wall.look();
        for (size_t i = 0; i < wall.rows().size(); ++i)
            if (!(wall.rows()[i].name == "https" && !wall.httpsServed()) &&
                !CaseWall::holds(wall.rows()[i], seen[i]))
                return false;
        return true;
    };
    const auto began = std::chrono::steady_clock::now();
    const bool held = e2e::waitFor(
        [&] {
            std::this_thread::sleep_for(500ms);
            return allHold();
        },
        120s);
    const auto took =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - began);
    std::cout << wall.table(seen, model + ": every row after " + std::to_string(took.count()) +
                                      " s (wander and still rules 6 s)");
    EXPECT_TRUE(held) << panoview->stderrText();
    for (size_t i = 0; i < wall.rows().size(); ++i)
        if (wall.rows()[i].name != "https" || wall.httpsServed()) {
            EXPECT_TRUE(CaseWall::holds(wall.rows()[i], seen[i]))
                << wall.rows()[i].name << ": " << seen[i].state << " " << seen[i].detail << "\n"
                << wall.logOf(seen[i]);
        }
    if (!wall.httpsServed())
        std::cout << "https: no /usr/bin/openssl to serve a self-signed certificate\n";
    EXPECT_TRUE(wall.others().empty()) << *wall.others().begin();

    // A server without HEAD is asked with GET; the download went nowhere.
    const auto asked = wall.asked();
    EXPECT_EQ(asked.count("HEAD /head501") + asked.count("probe HEAD /head501"), 0u);
    EXPECT_GE(asked.count("probe GET /head501"), 1u);
    EXPECT_TRUE(wall.filesInHome().empty()) << joined(wall.filesInHome());
    EXPECT_GE(wall.loadsOf("beforeunload-left"), 1u);

    expectTokenHidden(wall, model);
    EXPECT_TRUE(panoview->running()) << panoview->howItEnded();
}

INSTANTIATE_TEST_SUITE_P(Models, PageCasesE2E, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& model) {
                             return model.param ? "SharedBrowser" : "ChromiumPerPage";
                         });

// Without Chromium every monitor shows a plain window (its own colour over
// the monitor), the page is reported no-browser with what was looked for,
// and no window, log or process holds the token.
TEST(PageCasesE2E, WithoutChromiumEveryPageIsNoBrowserAndTheTokenStaysHidden) {
    const std::vector<cases::PageCase> rows = {
        {"bystander", "any page, Chromium missing", {"no-browser"}, "", 0, 0, 0x1d3557},
        {"alert", "any page, Chromium missing", {"no-browser"}, "", 0, 0, 0x1d3557},
    };
    CaseWall wall(rows, true, "", "/nonexistent/chromium");
    auto panoview = wall.start();
    ASSERT_TRUE(wall.signIn()) << panoview->stderrText();
    std::vector<cases::Seen> seen;
    const auto allHold = [&] {
        seen = wall.look();
        return CaseWall::holds(rows[0], seen[0]) && CaseWall::holds(rows[1], seen[1]);
    };
    EXPECT_TRUE(e2e::waitFor(allHold, 60s)) << panoview->stderrText();
    std::cout << wall.table(seen, "no Chromium (BROVIA_CHROMIUM=/nonexistent/chromium)");
    for (const cases::Seen& s : seen)
        EXPECT_NE(s.detail.find("/nonexistent/chromium"), std::string::npos) << s.detail;
    const std::string log = e2e::readFile(wall.dir.file("state") + "/panoview/brovia-0,0.log");
    EXPECT_NE(log.find("no Chromium at /nonexistent/chromium"), std::string::npos) << log;
    EXPECT_NE(log.find("token=***"), std::string::npos) << log;
    expectTokenHidden(wall, "no Chromium");
}

} // namespace
