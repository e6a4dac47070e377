// What LSystem hands to its HTTP client for each call.
#include "DebugCapture.h"
#include "FakeHttp.h"

#include "cloud/LSystem.h"

#include <gtest/gtest.h>

namespace {

struct Recorder {
    std::string reply = R"({"rt":"1","data":1})";
    std::vector<RecordedRequest> log;
    LSystem client{std::make_unique<FakeHttp>(&reply, &log)};
};

// Plain concatenation: no separator added or removed, the token unescaped.
TEST(LSystemRequest, UrlsAreConcatenatedAsGiven) {
    Recorder r;
    DebugCapture capture;
    LSystem::heartpacket("http://h", r.client, "a b&c=d/é");
    LSystem::EnterFactory("svc", "F", r.client, "%41");
    ASSERT_EQ(r.log.size(), 2u);
    EXPECT_EQ(r.log[0].url, "http://h/heartpacket?Token=a b&c=d/é");
    EXPECT_EQ(r.log[1].url, "svc/Enter?Token=%41");
}

// Values go out as they are held: non-ASCII bytes (even invalid UTF-8) are not
// rewritten; quotation marks, backslashes and control characters are escaped.
TEST(LSystemRequest, BodyValuesKeepTheirBytes) {
    struct Case {
        std::string value;
        std::string written;
    };
    const std::vector<Case> cases = {
        {"张三", "张三"},
        {"\xb2\xe2\xca\xd4", "\xb2\xe2\xca\xd4"}, // GBK bytes from an old configuration file
        {"a\"b\\c/d", "a\\\"b\\\\c/d"},
        {"t\tn\nr\rx\x01y\x7f", "t\\tn\\nr\\rx\\u0001y\x7f"},
        {"", ""},
    };
    for (const auto& c : cases) {
        Recorder r;
        DebugCapture capture;
        LSystem::EnterFactory("http://h", c.value, r.client, "t");
        ASSERT_EQ(r.log.size(), 1u);
        EXPECT_EQ(r.log[0].body, "{\"fid\":\"" + c.written + "\"}\n") << c.value;
    }
}

TEST(LSystemRequest, LoginNameComesBeforePassword) {
    Recorder r;
    std::string token, name;
    DebugCapture capture;
    LSystem::Login("http://h", token, r.client, "zz-account", "aa-password", name);
    ASSERT_EQ(r.log.size(), 1u);
    EXPECT_EQ(r.log[0].body, R"({"loginName":"zz-account","loginPwd":"aa-password"})"
                             "\n");
}

} // namespace
