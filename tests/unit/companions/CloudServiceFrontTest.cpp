// The stand-in cloud service's HTTP side under slow, idle and greedy clients.
#include "CloudService.h"
#include "HttpFront.h"
#include "LoopbackClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

const char kAccounts[] =
    R"({"accounts":[{"loginName":"admin","loginPwd":"123456","factories":["F001"]}]})";

struct Service {
    explicit Service(cloudsvc::FrontOptions options)
        : logic(cloudsvc::parseAccounts(kAccounts)), front(logic, withoutLog(options)) {
        std::string error;
        if (!front.start(0, error))
            throw std::runtime_error(error);
    }
    static cloudsvc::FrontOptions withoutLog(cloudsvc::FrontOptions options) {
        options.logRequests = false;
        return options;
    }
    cloudsvc::CloudService logic;
    cloudsvc::HttpFront front;
};

const std::string kHeartpacket = "GET /heartpacket?Token=none HTTP/1.1\r\nHost: x\r\n\r\n";

std::string statusLine(const std::string& reply) {
    return reply.substr(0, reply.find("\r\n"));
}

TEST(CloudServiceFront, AnswersWhileSlowAndIdleClientsHoldTheirConnections) {
    // Held connections would keep their workers for the whole deadline:
    // with a deadline longer than the test, only enough workers can answer.
    cloudsvc::FrontOptions options;
    options.requestDeadline = 10min;
    Service service(options);
    const int port = service.front.port();

    std::vector<std::unique_ptr<LoopbackClient>> idle, slow;
    for (int i = 0; i < 64; ++i)
        idle.push_back(std::make_unique<LoopbackClient>(port));
    for (int i = 0; i < 10; ++i)
        slow.push_back(std::make_unique<LoopbackClient>(port));
    std::atomic<bool> release{false};
    std::thread trickle([&] {
        // One byte of a request a second on each slow connection.
        for (size_t at = 0; !release; at = (at + 1) % kHeartpacket.size()) {
            for (auto& client : slow)
                client->send(kHeartpacket.substr(at, 1));
            for (int i = 0; i < 10 && !release; ++i)
                std::this_thread::sleep_for(100ms);
        }
    });

    LoopbackClient normal(port);
    normal.send(kHeartpacket);
    const std::string reply = normal.readUntilClosed();
    EXPECT_FALSE(normal.timedOut()) << "no answer while the connections were held";
    EXPECT_EQ(statusLine(reply), "HTTP/1.1 200 OK");
    EXPECT_NE(reply.find("\"rt\":\"0\""), std::string::npos);
    // The answer came while every held connection was still open.
    for (const auto& client : idle)
        EXPECT_FALSE(client->closedByPeer());
    for (const auto& client : slow)
        EXPECT_FALSE(client->closedByPeer());
    release = true;
    trickle.join();
}

TEST(CloudServiceFront, ARequestThatDoesNotArriveInTimeIsClosedUnanswered) {
    cloudsvc::FrontOptions options;
    options.requestDeadline = 1s;
    Service service(options);
    struct Case {
        const char* name;
        std::string sent;
        std::string reply; // the parser's refusal of a request it could not read
    };
    const std::string badRequest =
        "HTTP/1.1 400 Bad Request\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
    const Case cases[] = {
        {"nothing sent", "", ""},
        {"half a head", "GET /heartpacket?Token=none HTTP/1.1\r\nHost", badRequest},
        {"head without its body", "POST /Login HTTP/1.1\r\nContent-Length: 10\r\n\r\n{\"a\"",
         badRequest},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackClient client(service.front.port());
        client.send(c.sent);
        EXPECT_EQ(client.readUntilClosed(), c.reply);
        EXPECT_FALSE(client.timedOut()) << "the connection was never closed";
    }
    // A request that comes whole in time is answered as ever.
    EXPECT_EQ(statusLine(exchange(service.front.port(), kHeartpacket)), "HTTP/1.1 200 OK");
}

TEST(CloudServiceFront, BodiesAboveOneMebibyteAreRefused) {
    Service service({});
    auto login = [&](size_t bodySize) {
        const std::string body(bodySize, ' ');
        return statusLine(
            exchange(service.front.port(), "POST /Login HTTP/1.1\r\nContent-Length: " +
                                               std::to_string(bodySize) + "\r\n\r\n" + body));
    };
    // A body of only blanks is no sign-in: the service's refusal, status 200.
    EXPECT_EQ(login(1024 * 1024), "HTTP/1.1 200 OK");
    EXPECT_EQ(login(1024 * 1024 + 1), "HTTP/1.1 413 Payload Too Large");
}

TEST(CloudServiceFront, SilenceClosesConnectionsWithoutAByteAndEndsAtOnce) {
    Service service({});
    for (int round = 0; round < 100; ++round) {
        SCOPED_TRACE(round);
        service.front.setAnswering(false);
        EXPECT_EQ(exchange(service.front.port(), kHeartpacket), "");
        service.front.setAnswering(true);
        EXPECT_EQ(statusLine(exchange(service.front.port(), kHeartpacket)), "HTTP/1.1 200 OK");
    }
}

} // namespace
