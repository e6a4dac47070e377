// The address probe against loopback servers on free ports: whatever
// status a server answers, it is up; only a connection that nothing accepts
// or nothing answers is not.
#include "AddressProbe.h"
#include "ScriptedServer.h"

#include <gtest/gtest.h>

namespace {

using Step = ScriptedServer::Step;

// The probe's answer; libcurl's own deadlines make sure there is one.
AddressAnswer ask(const std::string& url) {
    AddressProbe probe;
    probe.start(url);
    for (;;) {
        if (std::optional<AddressAnswer> answer = probe.perform())
            return *answer;
        curl_multi_poll(probe.multi(), nullptr, 0, 100, nullptr);
    }
}

std::string reply(int status, const std::string& headers = {}) {
    return "HTTP/1.1 " + std::to_string(status) + " Whatever\r\n" + headers +
           "Content-Length: 5\r\nConnection: close\r\n\r\nhello";
}

// Python's http.server answers HEAD with 501 and GET with the page; a
// server that is up is up, whatever it answers: one GET, as the browser's
// load asks, and no redirect followed.
TEST(AddressProbe, AnyStatusIsAnAnswerOfOneGet) {
    for (const int status : {200, 501, 503, 405, 401, 302}) {
        SCOPED_TRACE(status);
        ScriptedServer server([status](const std::string& request, size_t) {
            const bool head = request.rfind("HEAD ", 0) == 0;
            return ScriptedServer::Script{Step::send(
                reply(head ? 501 : status, status == 302 ? "Location: /elsewhere\r\n" : ""))};
        });
        const AddressAnswer answer = ask(server.url("/KnitUI/W.html?token=x"));
        EXPECT_EQ(answer.kind, AddressAnswer::Kind::Status);
        EXPECT_EQ(answer.status, status);
        ASSERT_EQ(server.requests().size(), 1u);
        EXPECT_EQ(server.requests()[0].rfind("GET /KnitUI/W.html?token=x HTTP/1.1\r\n", 0), 0u);
    }
}

TEST(AddressProbe, NoServerNoAnswerAndAnUntrustedHandshakeAreToldApart) {
    ScriptedServer::ReservedPort down;
    EXPECT_EQ(ask(down.url()).kind, AddressAnswer::Kind::Unreachable);

    ScriptedServer silent(
        [](const std::string&, size_t) { return ScriptedServer::Script{Step::close()}; });
    EXPECT_EQ(ask(silent.url()).kind, AddressAnswer::Kind::NoAnswer);

    // An https address whose server does not speak TLS as the probe
    // trusts: a server is there, and the browser's load tells the rest.
    ScriptedServer plain(
        [](const std::string&, size_t) { return ScriptedServer::Script{Step::send(reply(200))}; },
        1);
    const AddressAnswer tls = ask("https://127.0.0.1:" + std::to_string(plain.port()) + "/");
    EXPECT_EQ(tls.kind, AddressAnswer::Kind::Handshake);
}

} // namespace
