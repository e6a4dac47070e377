// The heart of brovia-host: one Chromium's DevTools pipe shared by several
// Brovias, each on a connection of its own. Each Brovia speaks the protocol
// as it would with a Chromium of its own; the relay gives every command an
// id of the browser's, hands each reply back under the Brovia's id, and
// keeps each Brovia to what it made:
//
//   targets   a target belongs to the connection whose Target.createTarget
//             made it; Target.getTargets lists a Brovia's own targets only,
//             and commands naming a target, a window or a session of
//             another connection are refused;
//   events    an event of a session, or of a target, goes to its owner
//             only; other browser events go nowhere;
//   the end   a connection that ends has its targets closed at once (its
//             windows go with them);
//   memory    the unfinished message of each connection is held up to a
//             limit of its own, and all of them together up to a limit over
//             every connection: a connection that would go beyond either is
//             to be dropped, and the others go on.
//
// Plain C++: the caller moves the bytes (a connection's as read, the
// browser's as messages without their NUL byte).
#pragma once

#include "DevTools.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

class HostRelay {
public:
    using Client = int;
    struct Port {
        std::function<void(const std::string& message)> toBrowser;
        std::function<void(Client client, const std::string& message)> toClient;
    };

    struct Limits {
        size_t message = 64u << 20;     // one connection's unfinished message
        size_t unfinished = 128u << 20; // all connections' unfinished messages
    };

    explicit HostRelay(Port port);
    HostRelay(Port port, Limits limits);

    // The pipe is open: the browser is asked to tell of its targets.
    void start();
    void connected(Client client);
    void fromClient(Client client, std::string_view message);
    // Bytes read from the connection: each message they end goes on as
    // fromClient's. Why the connection must be dropped when its unfinished
    // message would go beyond its limit, or beyond what is left of the limit
    // of all connections together (its bytes are not taken then).
    std::optional<std::string> fromClientBytes(Client client, std::string_view bytes);
    void fromBrowser(std::string_view message);
    // Closes every target of the connection.
    void disconnected(Client client);

    size_t clients() const { return clients_.size(); }
    size_t targetsOf(Client client) const;
    // The bytes of all connections' unfinished messages.
    size_t unfinishedBytes() const { return unfinished_; }

private:
    static constexpr Client kGone = -1; // a connection that ended
    struct Pending {
        Client client = 0; // 0: the relay's own command, kGone: a gone one's
        Json::Value clientId;
        std::string method;
    };
    struct Owned {
        std::set<std::string> targets, sessions;
        std::set<long long> windows;
        devtools::MessageSplitter splitter;
    };

    void sendToBrowser(Client client, const Json::Value& clientId, const std::string& method,
                       Json::Value message);
    void closeTarget(const std::string& targetId);
    void refuse(Client client, const Json::Value& id, const std::string& why);
    void replied(const Pending& pending, Json::Value message);
    std::optional<Client> ownerOfTarget(const std::string& targetId) const;
    std::optional<Client> ownerOfSession(const std::string& sessionId) const;

    Port port_;
    Limits limits_;
    size_t unfinished_ = 0; // the sum of the clients' splitters' buffered()
    std::map<Client, Owned> clients_;
    std::map<int, Pending> pending_;
    int nextId_ = 1;
};
