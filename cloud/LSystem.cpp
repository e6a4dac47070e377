#include "cloud/LSystem.h"

#include "common/DebugPrint.h"
#include "common/Numbers.h"
#include "http/WininetHttp.h"
#include "platform/NarrowText.h"
#include "platform/ShellClient.h"

#include <cctype>
#include <climits>
#include <json/json.h>
#include <string_view>

namespace {

// Every request carries these two header lines, separated by a bare line feed.
constexpr const char* requestHeaders = "Content-type:application/json\nAccept:application/json";
constexpr int32_t methodGet = 1;
constexpr int32_t methodPost = 0;

constexpr const char* noticeCaption = "警告";

// A reply member of a type its reading does not allow, or a reply whose top
// level is not an object. Ends the call with its error line.
struct ReplyTypeError {};

// Compact JSON text of a request object: no white space, members in ascending
// byte order of their names, quotation marks, backslashes and control
// characters escaped, every other byte written as it is held, and one line
// feed after the closing brace.
std::string compactJson(const Json::Value& object) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, object) + "\n";
}

// Parses a reply text; comments are allowed and dropped. False when the text
// is not JSON. Throws (as jsoncpp does on very deep nesting) are left to the
// call boundary.
bool parseJson(const std::string& text, Json::Value& root) {
    Json::Reader reader;
    return reader.parse(text, root, false);
}

// Only an object (or null, which has no members) is read member by member.
void requireObjectOrNull(const Json::Value& value) {
    if (!value.isObject() && !value.isNull())
        throw ReplyTypeError{};
}

// A member "as text": a string gives its text, null or missing gives empty
// text, a boolean gives "true" or "false"; every other type is a type error.
std::string asText(const Json::Value& value) {
    switch (value.type()) {
    case Json::nullValue:
        return {};
    case Json::stringValue:
        return value.asString();
    case Json::booleanValue:
        return value.asBool() ? "true" : "false";
    default:
        throw ReplyTypeError{};
    }
}

// A JSON integer that fits the call's 32-bit result (not a real number, even
// an integral one).
bool isInteger32(const Json::Value& value) {
    if (value.type() == Json::intValue)
        return value.asLargestInt() >= INT32_MIN && value.asLargestInt() <= INT32_MAX;
    if (value.type() == Json::uintValue)
        return value.asLargestUInt() <= static_cast<Json::LargestUInt>(INT32_MAX);
    return false;
}

// A member "as integer": null or missing gives 0, an integer its value, a real
// number within the signed 32-bit range its value truncated toward zero, a
// boolean 0 or 1; strings, arrays, objects and out-of-range numbers are type
// errors.
int32_t asInteger(const Json::Value& value) {
    switch (value.type()) {
    case Json::nullValue:
        return 0;
    case Json::intValue:
    case Json::uintValue:
        if (isInteger32(value))
            return value.asInt();
        throw ReplyTypeError{};
    case Json::realValue: {
        const double real = value.asDouble();
        if (real >= static_cast<double>(INT32_MIN) && real <= static_cast<double>(INT32_MAX))
            return static_cast<int32_t>(real);
        throw ReplyTypeError{};
    }
    case Json::booleanValue:
        return value.asBool() ? 1 : 0;
    default:
        throw ReplyTypeError{};
    }
}

// One exchange. Returns the reply as the service sent it (UTF-8), empty when
// the exchange failed. It is parsed as it came, and each text taken out of
// it is turned into the program's narrow text then (narrowText): narrowed
// before parsing, a GBK character whose second byte is a backslash (0x5C)
// would escape the byte after it, and a "\u" escape would come out as UTF-8
// among GBK.
std::string exchange(IHttp* http, const std::string& url, int32_t method, const std::string* body) {
    if (!http)
        return {};
    return http->Request(url.c_str(), method, body ? body->c_str() : nullptr, requestHeaders);
}

// A text of the reply in the program's narrow text (GBK on a Chinese Windows
// system; invalid sequences become U+FFFD, and on Windows what the code page
// lacks its default character).
std::string narrowText(const Json::Value& value) {
    return platform::narrowFromUtf8(asText(value));
}

// One exchange whose reply is read as JSON. False when the exchange failed or
// the reply is not JSON.
bool fetchJson(IHttp* http, const std::string& url, int32_t method, const std::string* body,
               Json::Value& root) {
    const std::string reply = exchange(http, url, method, body);
    return !reply.empty() && parseJson(reply, root);
}

// The status of a reply that parsed: its top level must be an object or null.
int32_t replyStatus(const Json::Value& root) {
    requireObjectOrNull(root);
    return parseDecimalInt(asText(root["rt"]));
}

// A refusal by the service: its explanation goes to the debugger output and to
// the shell client. The call's result is 0.
int32_t forwardRefusal(LSystem& client, const Json::Value& root, const char* callName,
                       const char* messagePrefix) {
    const std::string tips = narrowText(root["tips"]);
    OutputDebugText(callName);
    OutputDebugText(tips);
    client.NotifyShellClient(noticeCaption, messagePrefix + tips);
    return 0;
}

} // namespace

LSystem::ShellNotice LSystem::desktopShellClient() {
    return [](const std::string& text) {
        return platform::sendShellClientNotice(platform::shellClientSocketPath(), 1, text);
    };
}

LSystem::LSystem() : LSystem(std::make_unique<CWininetHttp>()) {}

LSystem::LSystem(std::unique_ptr<IHttp> http, ShellNotice notice)
    : http_(std::move(http)), notice_(std::move(notice)) {}

LSystem::~LSystem() = default;

int32_t LSystem::Login(const std::string& serviceAddress, std::string& token, LSystem& client,
                       const std::string& account, const std::string& password,
                       std::string& displayName) {
    try {
        const std::string url = serviceAddress + "/Login";
        Json::Value request(Json::objectValue);
        request["loginName"] = account;
        request["loginPwd"] = password;
        const std::string body = compactJson(request);

        Json::Value root;
        if (!fetchJson(client.http_.get(), url, methodPost, &body, root))
            return 0;
        if (replyStatus(root) != 1)
            return forwardRefusal(client, root, "LSystem::Login()", "登录失败,返回:");

        // "data" holds the text of the session object, not the object itself.
        Json::Value session;
        if (!parseJson(asText(root["data"]), session))
            return 1;
        requireObjectOrNull(session);
        std::string newToken = narrowText(session["Token"]);
        std::string newName = narrowText(session["uname"]);
        token = std::move(newToken);
        displayName = std::move(newName);
        return 1;
    } catch (...) {
        OutputDebugText("LSystem::Login() error!\n");
        return 0;
    }
}

int32_t LSystem::Logout(LSystem& client, const std::string& serviceAddress) {
    try {
        const std::string url = serviceAddress + "/Logout";
        Json::Value root;
        if (!fetchJson(client.http_.get(), url, methodPost, nullptr, root))
            return 0;
        if (replyStatus(root) != 1)
            return forwardRefusal(client, root, "LSystem::Logout()", "登出失败,返回:");
        return asInteger(root["data"]);
    } catch (...) {
        OutputDebugText("LSystem::Logout() error!\n");
        return 0;
    }
}

int32_t LSystem::EnterFactory(const std::string& serviceAddress, const std::string& factoryId,
                              LSystem& client, const std::string& token) {
    try {
        const std::string url = serviceAddress + "/Enter" + "?Token=" + token;
        Json::Value request(Json::objectValue);
        request["fid"] = factoryId;
        const std::string body = compactJson(request);

        Json::Value root;
        if (!fetchJson(client.http_.get(), url, methodPost, &body, root))
            return 0;
        if (replyStatus(root) != 1)
            return forwardRefusal(client, root, "LSystem::EnterFactory()", "进入工厂失败,返回:");
        return 1;
    } catch (...) {
        OutputDebugText("LSystem::EnterFactory() error!\n");
        return 0;
    }
}

int32_t LSystem::heartpacket(const std::string& serviceAddress, LSystem& client,
                             const std::string& token) {
    try {
        const std::string url = serviceAddress + "/heartpacket" + "?Token=" + token;
        const std::string reply = exchange(client.http_.get(), url, methodGet, nullptr);

        int32_t result = 0;
        Json::Value root;
        if (!reply.empty() && parseJson(reply, root)) {
            const int32_t status = replyStatus(root);
            const Json::Value& data = root["data"];
            // A whole number in range counts, also when the service writes it
            // as a real (1.0); 1.5, texts and out-of-range values do not.
            if (status == 1 && data.isInt())
                result = data.asInt();
        }
        if (result != 1) {
            OutputDebugText("LSystem::heartpacket()\n");
            OutputDebugText("Request:");
            OutputDebugText(url);
            OutputDebugText("Response:");
            OutputDebugText(platform::narrowFromUtf8(reply));
        }
        return result;
    } catch (...) {
        OutputDebugText("LSystem::heartpacket() error!\n");
        return 0;
    }
}

bool LSystem::NotifyShellClient(const std::string& caption, const std::string& message) {
    return notice_ && notice_(caption + "|" + message);
}
