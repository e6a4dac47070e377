// How LSystem reads the service's replies: status rule, per-call "data" and
// "tips" rules, conversions, type errors, diagnostics and notices.
#include "DebugCapture.h"
#include "FakeHttp.h"
#include "NoticeListener.h"
#include "ServiceText.h"
#include "TempDir.h"

#include "cloud/LSystem.h"
#include "platform/NarrowText.h"
#include "platform/ShellClient.h"

#include <gtest/gtest.h>
#include <optional>

namespace {

enum class Call { Login, Logout, Enter, Heart };

constexpr const char* address = "http://cloud.test:8088";
constexpr const char* heartUrl = "http://cloud.test:8088/heartpacket?Token=tok";

struct ReplyCase {
    const char* name;
    Call call;
    std::string reply;
    int32_t result;
    std::vector<std::string> writes; // every diagnostic write, in order
    std::vector<std::string> notices;
    std::string token = "";       // Login outputs (they start empty)
    std::string displayName = ""; //
};

const std::string loginError = "LSystem::Login() error!\n";
const std::string logoutError = "LSystem::Logout() error!\n";
const std::string enterError = "LSystem::EnterFactory() error!\n";
const std::string heartError = "LSystem::heartpacket() error!\n";

// A keep-alive that does not report "alive": its diagnostics show the URL and
// the reply as transcoded; no notice.
ReplyCase heartNotAlive(const char* name, const std::string& reply, int32_t result = 0,
                        std::optional<std::string> shown = std::nullopt) {
    return {name,
            Call::Heart,
            reply,
            result,
            {"LSystem::heartpacket()\n", "Request:", heartUrl, "Response:", shown.value_or(reply)},
            {}};
}

std::vector<ReplyCase> replyCases() {
    const std::string deep10k = std::string(10000, '[') + std::string(10000, ']');
    const std::string invalid = "{\"rt\":\"0\",\"tips\":\"ab\xff\xc3(\"}";
    // Each invalid sequence becomes U+FFFD, which narrow text shows as it
    // can (GBK has no such character: its default character).
    const std::string replacement = platform::narrowFromUtf8(serviceText(u8"\uFFFD"));
    const std::string invalidShown = "ab" + replacement + replacement + "(";
    return {
        // Login: the session object arrives as the text of "data".
        {"LoginSessionText",
         Call::Login,
         serviceText(u8R"({"rt":"1","data":"{\"Token\":\"t-9\",\"uname\":\"张三\"}"})"),
         1,
         {},
         {},
         "t-9",
         "张三"},
        {"LoginUnparsableData", Call::Login, R"({"rt":"1","data":"Token=t-9"})", 1, {}, {}},
        {"LoginDataMissing", Call::Login, R"({"rt":"1"})", 1, {}, {}},
        {"LoginDataNullText", Call::Login, R"({"rt":"1","data":"null"})", 1, {}, {}},
        {"LoginDataAsObject",
         Call::Login,
         R"({"rt":"1","data":{"Token":"t"}})",
         0,
         {loginError},
         {}},
        {"LoginDataArrayText", Call::Login, R"({"rt":"1","data":"[\"t\"]"})", 0, {loginError}, {}},
        {"LoginDataBoolean", Call::Login, R"({"rt":"1","data":true})", 0, {loginError}, {}},
        {"LoginTokenNumber",
         Call::Login,
         R"({"rt":"1","data":"{\"Token\":7,\"uname\":\"u\"}"})",
         0,
         {loginError},
         {}},
        {"LoginUnameBoolean",
         Call::Login,
         R"({"rt":"1","data":"{\"Token\":\"t\",\"uname\":false}"})",
         1,
         {},
         {},
         "t",
         "false"},
        {"LoginRtNumber",
         Call::Login,
         R"({"rt":1,"data":"{\"Token\":\"t\"}"})",
         0,
         {loginError},
         {}},
        {"LoginRtDigitThenLetters",
         Call::Login,
         R"({"rt":"1abc","data":"{\"Token\":\"a\"}"})",
         1,
         {},
         {},
         "a",
         ""},
        {"LoginRtBlanksAndSign",
         Call::Login,
         R"({"rt":" \t+1","data":"{\"uname\":\"u\"}"})",
         1,
         {},
         {},
         "",
         "u"},
        {"LoginRtTrue",
         Call::Login,
         R"({"rt":true,"tips":"x"})",
         0,
         {"LSystem::Login()", "x"},
         {"警告|登录失败,返回:x"}},
        {"LoginRtLetterFirst",
         Call::Login,
         serviceText(u8R"({"rt":"x1","tips":"密码错误"})"),
         0,
         {"LSystem::Login()", "密码错误"},
         {"警告|登录失败,返回:密码错误"}},
        {"LoginRtTooLongToWrap",
         Call::Login,
         R"({"rt":"4294967297","tips":"t"})",
         0,
         {"LSystem::Login()", "t"},
         {"警告|登录失败,返回:t"}},
        {"LoginRefusedWithoutTips",
         Call::Login,
         R"({"rt":"0"})",
         0,
         {"LSystem::Login()", ""},
         {"警告|登录失败,返回:"}},
        {"LoginTipsNumber", Call::Login, R"({"rt":"0","tips":5})", 0, {loginError}, {}},
        {"LoginReplyNull",
         Call::Login,
         "null",
         0,
         {"LSystem::Login()", ""},
         {"警告|登录失败,返回:"}},
        {"LoginReplyArray", Call::Login, R"([{"rt":"1"}])", 0, {loginError}, {}},
        {"LoginReplyNumber", Call::Login, "1", 0, {loginError}, {}},
        {"LoginReplyNotJson", Call::Login, "<html>busy</html>", 0, {}, {}},
        {"LoginEmptyReply", Call::Login, "", 0, {}, {}},
        {"LoginComments",
         Call::Login,
         "/* service */ {\"rt\":\"1\", // ok\n \"data\":\"{\\\"Token\\\":\\\"k\\\"}\"}",
         1,
         {},
         {},
         "k",
         ""},
        {"LoginInvalidUtf8Transcoded",
         Call::Login,
         invalid,
         0,
         {"LSystem::Login()", invalidShown},
         {"警告|登录失败,返回:" + invalidShown}},
        // 嘰 is 87 5C in GBK: its second byte is a backslash, which must
        // not escape the quotation mark after it.
        {"LoginTipsOfBackslashByte",
         Call::Login,
         serviceText(u8R"({"rt":"0","tips":"嘰"})"),
         0,
         {"LSystem::Login()", "嘰"},
         {"警告|登录失败,返回:嘰"}},
        {"LoginEscapedCharacter",
         Call::Login,
         R"({"rt":"0","tips":"\u8d26\u53f7"})",
         0,
         {"LSystem::Login()", "账号"},
         {"警告|登录失败,返回:账号"}},
        {"LoginDeepNesting", Call::Login, deep10k, 0, {loginError}, {}},
        {"LoginDeepNestingInData",
         Call::Login,
         "{\"rt\":\"1\",\"data\":\"" + std::string(10000, '[') + "\"}",
         0,
         {loginError},
         {}},

        // Logout: "data" read as an integer.
        {"LogoutConfirmed", Call::Logout, R"({"rt":"1","data":1})", 1, {}, {}},
        {"LogoutDataMissing", Call::Logout, R"({"rt":"1"})", 0, {}, {}},
        {"LogoutDataString", Call::Logout, R"({"rt":"1","data":"1"})", 0, {logoutError}, {}},
        {"LogoutDataReal", Call::Logout, R"({"rt":"1","data":2.9})", 2, {}, {}},
        {"LogoutDataNegativeReal", Call::Logout, R"({"rt":"1","data":-1.5})", -1, {}, {}},
        {"LogoutDataBoolean", Call::Logout, R"({"rt":"1","data":true})", 1, {}, {}},
        {"LogoutDataOutOfRange",
         Call::Logout,
         R"({"rt":"1","data":3000000000})",
         0,
         {logoutError},
         {}},
        {"LogoutRealOutOfRange", Call::Logout, R"({"rt":"1","data":1e10})", 0, {logoutError}, {}},
        {"LogoutDataObject", Call::Logout, R"({"rt":"1","data":{}})", 0, {logoutError}, {}},
        {"LogoutRefused",
         Call::Logout,
         serviceText(u8R"({"rt":"0","tips":"未登录"})"),
         0,
         {"LSystem::Logout()", "未登录"},
         {"警告|登出失败,返回:未登录"}},
        {"LogoutReplyArray", Call::Logout, "[]", 0, {logoutError}, {}},
        {"LogoutDeepNesting", Call::Logout, deep10k, 0, {logoutError}, {}},

        // EnterFactory: status only.
        {"EnterConfirmed", Call::Enter, R"({"rt":"1"})", 1, {}, {}},
        {"EnterRefused",
         Call::Enter,
         serviceText(u8R"({"rt":"0","tips":"工厂不存在"})"),
         0,
         {"LSystem::EnterFactory()", "工厂不存在"},
         {"警告|进入工厂失败,返回:工厂不存在"}},
        {"EnterRtArray", Call::Enter, R"({"rt":["1"]})", 0, {enterError}, {}},
        {"EnterReplyString", Call::Enter, R"("rt")", 0, {enterError}, {}},
        {"EnterDeepObjects",
         Call::Enter,
         [] {
             std::string s;
             for (int i = 0; i < 10000; ++i)
                 s += "{\"a\":";
             return s + "1" + std::string(10000, '}');
         }(),
         0,
         {enterError},
         {}},

        // heartpacket: "data" must be a JSON integer.
        {"HeartAlive", Call::Heart, R"({"rt":"1","data":1})", 1, {}, {}},
        heartNotAlive("HeartDataString", R"({"rt":"1","data":"1"})"),
        heartNotAlive("HeartDataTwo", R"({"rt":"1","data":2})", 2),
        // A whole number written as a real counts; a fraction does not.
        {"HeartDataRealOne", Call::Heart, R"({"rt":"1","data":1.0})", 1, {}, {}},
        heartNotAlive("HeartDataRealTwo", R"({"rt":"1","data":2.0})", 2),
        heartNotAlive("HeartDataFraction", R"({"rt":"1","data":1.5})"),
        heartNotAlive("HeartDataRealTooLarge", R"({"rt":"1","data":4294967297.0})"),
        heartNotAlive("HeartDataTooLarge", R"({"rt":"1","data":4294967297})"),
        heartNotAlive("HeartRefusedNoNotice", R"({"rt":"0","data":1,"tips":"x"})"),
        heartNotAlive("HeartEmptyReply", ""),
        heartNotAlive("HeartNotJson", "Bad Gateway"),
        heartNotAlive("HeartInvalidUtf8", "\xfe{", 0, replacement + "{"),
        {"HeartRtNumber", Call::Heart, R"({"rt":1,"data":1})", 0, {heartError}, {}},
        {"HeartReplyArray", Call::Heart, "[1]", 0, {heartError}, {}},
        {"HeartDeepNesting", Call::Heart, deep10k, 0, {heartError}, {}},
    };
}

class ReplyRules : public ::testing::TestWithParam<ReplyCase> {
protected:
    NoticeListener listener;
};

TEST_P(ReplyRules, ResultDiagnosticsAndNotice) {
    const ReplyCase& c = GetParam();
    std::string reply = c.reply;
    LSystem client(std::make_unique<FakeHttp>(&reply), shellClientAt(listener.path()));
    std::string token, displayName;
    int32_t result = -99;
    DebugCapture capture;
    switch (c.call) {
    case Call::Login:
        result = LSystem::Login(address, token, client, "admin", "pw", displayName);
        break;
    case Call::Logout:
        result = LSystem::Logout(client, address);
        break;
    case Call::Enter:
        result = LSystem::EnterFactory(address, "F001", client, "tok");
        break;
    case Call::Heart:
        result = LSystem::heartpacket(address, client, "tok");
        break;
    }
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(capture.writes(), c.writes);
    EXPECT_EQ(listener.texts(), c.notices);
    EXPECT_EQ(token, c.token);
    EXPECT_EQ(displayName, c.displayName);
}

INSTANTIATE_TEST_SUITE_P(LSystem, ReplyRules, ::testing::ValuesIn(replyCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A failed call leaves the caller's outputs as they were.
TEST(LSystemLogin, FailureLeavesOutputsAlone) {
    std::string reply = R"({"rt":"1","data":"{\"Token\":\"new\",\"uname\":[]}"})";
    LSystem client(std::make_unique<FakeHttp>(&reply));
    std::string token = "old", displayName = "name";
    DebugCapture capture;
    EXPECT_EQ(LSystem::Login(address, token, client, "a", "p", displayName), 0);
    EXPECT_EQ(token, "old");
    EXPECT_EQ(displayName, "name");
}

// No listener: the notice is dropped and the call's result is unchanged.
TEST(LSystemNotice, RefusalWithoutShellClient) {
    TempDir dir;
    std::string reply = serviceText(u8R"({"rt":"0","tips":"密码错误"})");
    LSystem client(std::make_unique<FakeHttp>(&reply), shellClientAt(dir.file("nobody.sock")));
    std::string token, displayName;
    DebugCapture capture;
    EXPECT_EQ(LSystem::Login(address, token, client, "a", "p", displayName), 0);
    EXPECT_EQ(capture.writes(), (std::vector<std::string>{"LSystem::Login()", "密码错误"}));
    EXPECT_FALSE(client.NotifyShellClient("警告", "x"));
}

} // namespace
