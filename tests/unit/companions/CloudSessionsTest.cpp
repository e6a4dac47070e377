// Sessions of the stand-in cloud service: found by token at once, gone after
// an hour nobody used them.
#include "CloudService.h"

#include <gtest/gtest.h>
#include <json/json.h>

using namespace std::chrono_literals;
using cloudsvc::CloudService;

namespace {

class Sessions : public ::testing::Test {
protected:
    Sessions()
        : service(
              cloudsvc::parseAccounts(
                  R"({"accounts":[{"loginName":"a","loginPwd":"p","factories":["F1"]}]})"),
              [this] { return "r" + std::to_string(++counter); }, [this] { return now; }) {}

    // The token of a new sign-in.
    std::string login() {
        const cloudsvc::ServiceReply reply =
            service.handle({"POST", "/Login", {}, R"({"loginName":"a","loginPwd":"p"})", ""});
        Json::Value value, data;
        Json::Reader reader;
        reader.parse(reply.body, value, false);
        reader.parse(value["data"].asString(), data, false);
        return data["Token"].asString();
    }
    bool alive(const std::string& token) {
        const cloudsvc::ServiceReply reply =
            service.handle({"GET", "/heartpacket", {{"Token", token}}, "", ""});
        return reply.body.find("\"data\":1") != std::string::npos;
    }
    bool logout(const std::string& sessionId) {
        const cloudsvc::ServiceReply reply =
            service.handle({"POST", "/Logout", {}, "", "PVSESSION=" + sessionId});
        return reply.body.find("\"rt\":\"1\"") != std::string::npos;
    }

    int counter = 0;
    CloudService::Clock::time_point now{};
    CloudService service;
};

TEST_F(Sessions, ExpireAfterAnHourWithoutUse) {
    const std::string token = login(); // r1, session r2
    now += 59min;
    EXPECT_TRUE(alive(token));
    now += 59min; // two hours after the sign-in, 59 minutes after its last use
    EXPECT_TRUE(alive(token));
    now += 61min;
    EXPECT_FALSE(alive(token));
    EXPECT_FALSE(logout("r2")) << "an expired session cannot be signed out";
    EXPECT_EQ(service.sessionCount(), 0u);
}

TEST_F(Sessions, ExpiredSessionsNobodyAsksForAreSweptAway) {
    for (int i = 0; i < 3; ++i)
        login();
    const std::string kept = login();
    now += 50min;
    EXPECT_TRUE(alive(kept));
    now += 11min;
    const std::string fresh = login();
    EXPECT_EQ(service.sessionCount(), 2u) << "only the sessions used within the hour";
    EXPECT_TRUE(alive(kept));
    EXPECT_TRUE(alive(fresh));
}

TEST_F(Sessions, ManySessionsEachFoundByItsOwnToken) {
    std::vector<std::string> tokens;
    for (int i = 0; i < 1000; ++i)
        tokens.push_back(login());
    EXPECT_EQ(service.sessionCount(), 1000u);
    for (size_t i = 0; i < tokens.size(); i += 97)
        EXPECT_TRUE(alive(tokens[i])) << tokens[i];
    // Signing out one session (cookie r4: the second sign-in) leaves the rest.
    EXPECT_TRUE(logout("r4"));
    EXPECT_FALSE(alive(tokens[1]));
    EXPECT_TRUE(alive(tokens[0]));
    EXPECT_TRUE(alive(tokens[2]));
    EXPECT_EQ(service.sessionCount(), 999u);
}

} // namespace
