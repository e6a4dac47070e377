// What LSystem hands to its HTTP client for each call.
#include "DebugCapture.h"
#include "FakeHttp.h"

#include "cloud/LSystem.h"

#include <gtest/gtest.h>

namespace {

const std::string headers = "Content-type:application/json\nAccept:application/json";

struct Recorder {
    std::string reply = R"({"rt":"1","data":1})";
    std::vector<RecordedRequest> log;
    LSystem client{std::make_unique<FakeHttp>(&reply, &log)};
};

TEST(LSystemRequest, EachCallsUrlMethodBodyAndHeaders) {
    Recorder r;
    std::string token, name;
    DebugCapture capture;
    LSystem::Login("http://h:1", token, r.client, "admin", "secret", name);
    LSystem::EnterFactory("http://h:1", "F001", r.client, "abc");
    LSystem::heartpacket("http://h:1", r.client, "abc");
    LSystem::Logout(r.client, "http://h:1");
    ASSERT_EQ(r.log.size(), 4u);

    EXPECT_EQ(r.log[0].url, "http://h:1/Login");
    EXPECT_EQ(r.log[0].method, 0);
    EXPECT_EQ(r.log[0].body, R"({"loginName":"admin","loginPwd":"secret"})"
                             "\n");
    EXPECT_EQ(r.log[1].url, "http://h:1/Enter?Token=abc");
    EXPECT_EQ(r.log[1].method, 0);
    EXPECT_EQ(r.log[1].body, "{\"fid\":\"F001\"}\n");
    EXPECT_EQ(r.log[2].url, "http://h:1/heartpacket?Token=abc");
    EXPECT_EQ(r.log[2].method, 1);
    EXPECT_EQ(r.log[2].body, std::nullopt);
    EXPECT_EQ(r.log[3].url, "http://h:1/Logout");
    EXPECT_EQ(r.log[3].method, 0);
    EXPECT_EQ(r.log[3].body, std::nullopt);
    for (const auto& request : r.log)
        EXPECT_EQ(request.headers, headers);
}

// Plain concatenation: no separator added or removed, the token unescaped,
// "?Token=" also for an empty token.
TEST(LSystemRequest, UrlsAreConcatenatedAsGiven) {
    Recorder r;
    DebugCapture capture;
    LSystem::EnterFactory("http://h/", "F", r.client, "");
    LSystem::heartpacket("http://h/", r.client, "");
    LSystem::heartpacket("http://h", r.client, "a b&c=d/é");
    std::string token, name;
    LSystem::Login("http://h/", token, r.client, "u", "p", name);
    ASSERT_EQ(r.log.size(), 4u);
    EXPECT_EQ(r.log[0].url, "http://h//Enter?Token=");
    EXPECT_EQ(r.log[1].url, "http://h//heartpacket?Token=");
    EXPECT_EQ(r.log[2].url, "http://h/heartpacket?Token=a b&c=d/é");
    EXPECT_EQ(r.log[3].url, "http://h//Login");
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
