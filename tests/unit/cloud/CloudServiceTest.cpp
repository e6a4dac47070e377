// The stand-in cloud service's replies, without a socket.
#include "CloudService.h"

#include <gtest/gtest.h>
#include <json/json.h>

namespace {

using cloudsvc::ServiceReply;
using cloudsvc::ServiceRequest;

Json::Value json(const std::string& text) {
    Json::Value v;
    Json::Reader reader;
    EXPECT_TRUE(reader.parse(text, v, false)) << text;
    return v;
}

class CloudServiceTest : public ::testing::Test {
protected:
    CloudServiceTest()
        : service(cloudsvc::parseAccounts(R"({"accounts":[
              {"loginName":"admin","loginPwd":"123456","uname":"王厂长","factories":["F001"]},
              {"loginName":"张三","loginPwd":"密码","factories":[]}]})"),
                  [this] { return "r" + std::to_string(++counter); }) {}

    ServiceReply call(std::string method, std::string path, std::string body = "",
                      std::vector<std::pair<std::string, std::string>> query = {},
                      std::string cookie = "") {
        return service.handle({method, path, query, body, cookie});
    }
    ServiceReply login(const std::string& name, const std::string& password) {
        return call("POST", "/Login",
                    R"({"loginName":")" + name + R"(","loginPwd":")" + password + "\"}\n");
    }

    int counter = 0;
    cloudsvc::CloudService service;
};

TEST_F(CloudServiceTest, LoginAnswersSessionTextAndCookie) {
    const ServiceReply reply = login("admin", "123456");
    EXPECT_EQ(reply.status, 200);
    const Json::Value v = json(reply.body);
    EXPECT_EQ(v["rt"], "1");
    ASSERT_TRUE(v["data"].isString());
    const Json::Value session = json(v["data"].asString());
    EXPECT_EQ(session["Token"], "r1");
    EXPECT_EQ(session["uname"], "王厂长");
    EXPECT_EQ(reply.setCookie, "PVSESSION=r2; Path=/; HttpOnly");
    // The Chinese name travels as UTF-8, not as escapes.
    EXPECT_NE(reply.body.find("王厂长"), std::string::npos);
}

TEST_F(CloudServiceTest, LoginRefusals) {
    for (const ServiceReply& reply :
         {login("admin", "wrong"), login("nobody", "123456"), login("张三", ""),
          call("POST", "/Login", "not json"), call("POST", "/Login", "[1]")}) {
        const Json::Value v = json(reply.body);
        EXPECT_EQ(v["rt"], "0") << reply.body;
        EXPECT_FALSE(v["tips"].asString().empty());
        EXPECT_TRUE(reply.setCookie.empty());
    }
    EXPECT_EQ(json(login("张三", "密码").body)["rt"], "1");
}

TEST_F(CloudServiceTest, EnterChecksTokenAndFactory) {
    login("admin", "123456"); // token r1
    EXPECT_EQ(json(call("POST", "/Enter", "{\"fid\":\"F001\"}\n", {{"Token", "r1"}}).body),
              json(R"({"rt":"1","data":1})"));
    EXPECT_EQ(json(call("POST", "/Enter", "{\"fid\":\"F999\"}", {{"Token", "r1"}}).body)["rt"],
              "0");
    EXPECT_EQ(json(call("POST", "/Enter", "{\"fid\":\"F001\"}", {{"Token", "r9"}}).body)["rt"],
              "0");
    EXPECT_EQ(json(call("POST", "/Enter", "{\"fid\":\"F001\"}", {{"Token", ""}}).body)["rt"], "0");
}

TEST_F(CloudServiceTest, LogoutByCookieEndsTheToken) {
    login("admin", "123456"); // token r1, session r2
    login("admin", "123456"); // token r3, session r4
    auto alive = [this](const std::string& token) {
        return json(call("GET", "/heartpacket", "", {{"Token", token}}).body)["data"].asInt();
    };
    EXPECT_EQ(alive("r1"), 1);
    EXPECT_EQ(alive("r3"), 1);

    // Without the session's cookie nothing is signed out.
    for (const char* cookie : {"", "PVSESSION=r1", "XPVSESSION=r2", "PVSESSION=r2x"})
        EXPECT_EQ(json(call("POST", "/Logout", "", {}, cookie).body)["rt"], "0") << cookie;
    EXPECT_EQ(alive("r1"), 1);

    const Json::Value v = json(call("POST", "/Logout", "", {}, "a=b; PVSESSION=r2; c=d").body);
    EXPECT_EQ(v, json(R"({"rt":"1","data":1})"));
    EXPECT_EQ(alive("r1"), 0);
    EXPECT_EQ(alive("r3"), 1);
    EXPECT_EQ(json(call("POST", "/Logout", "", {}, "PVSESSION=r2").body)["rt"], "0");
}

TEST_F(CloudServiceTest, MethodsAndUnknownPaths) {
    EXPECT_EQ(call("GET", "/Login").status, 405);
    EXPECT_EQ(call("POST", "/heartpacket").status, 405);
    EXPECT_EQ(call("GET", "/Logout").status, 405);
    EXPECT_EQ(call("GET", "/login").status, 404);
    EXPECT_EQ(call("GET", "/KnitUI/Unknown.html").status, 404);
    EXPECT_EQ(call("GET", "/OtherUI/W_Factory.html").status, 404);
    EXPECT_EQ(call("GET", "/KnitUI/W_Factory.htm").status, 404);
    EXPECT_EQ(call("GET", "/W_Factory.html").status, 404);
}

TEST_F(CloudServiceTest, EveryMonitoringPageNamesItself) {
    const std::pair<const char*, const char*> sites[] = {
        {"KnitUI", "横机"}, {"HosieryUI", "袜机"}, {"EmbrUI", "刺绣机"}, {"GloveUI", "手套机"}};
    const std::pair<const char*, const char*> pages[] = {{"A_MachineMonitor", "机器状态监控"},
                                                         {"A_MachineKnitting", "实时编织记录"},
                                                         {"D_OrderSchedule", "订单进度监控"},
                                                         {"D_MachineUtilization", "车间效率分析"},
                                                         {"W_Factory", "工厂总览"}};
    for (const auto& [folder, type] : sites)
        for (const auto& [name, title] : pages) {
            const ServiceReply reply =
                call("GET", std::string("/") + folder + "/" + name + ".html");
            ASSERT_EQ(reply.status, 200) << folder << "/" << name;
            EXPECT_EQ(reply.contentType, "text/html; charset=utf-8");
            EXPECT_NE(reply.body.find(std::string(type) + " · " + title), std::string::npos);
            EXPECT_NE(reply.body.find(std::string(folder) + "/" + name + ".html"),
                      std::string::npos);
            EXPECT_NE(reply.body.find("setInterval(tick, 1000)"), std::string::npos);
        }
}

TEST_F(CloudServiceTest, PageShowsParametersInOrderAndTokenState) {
    login("admin", "123456");
    const ServiceReply live =
        call("GET", "/HosieryUI/A_MachineMonitor.html", "",
             {{"token", "r1"}, {"flag", "multiscreen"}, {"areaname", "<b>&"}});
    const size_t token = live.body.find("<th>token</th><td>r1</td>");
    const size_t flag = live.body.find("<th>flag</th><td>multiscreen</td>");
    const size_t area = live.body.find("<th>areaname</th><td>&lt;b&gt;&amp;</td>");
    ASSERT_NE(token, std::string::npos);
    ASSERT_NE(flag, std::string::npos);
    ASSERT_NE(area, std::string::npos);
    EXPECT_LT(token, flag);
    EXPECT_LT(flag, area);
    EXPECT_NE(live.body.find("class=\"token live\""), std::string::npos);
    EXPECT_EQ(live.body.find("<b>"), std::string::npos);

    const ServiceReply dead =
        call("GET", "/HosieryUI/A_MachineMonitor.html", "", {{"token", "r2"}});
    EXPECT_NE(dead.body.find("class=\"token dead\""), std::string::npos);
}

TEST(CloudServiceAccounts, RejectsMalformedFiles) {
    for (const char* text : {"", "[]", R"({"accounts":{}})", R"({"accounts":[{"loginName":1}]})",
                             R"({"accounts":[{"loginName":"a"}]})"})
        EXPECT_THROW(cloudsvc::parseAccounts(text), std::runtime_error) << text;
    EXPECT_EQ(cloudsvc::parseAccounts(R"({"accounts":[]})").size(), 0u);
}

} // namespace
