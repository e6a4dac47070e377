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
//             windows go with them).
//
// Plain C++: the caller moves the bytes (messages without their NUL byte).
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

    explicit HostRelay(Port port);

    // The pipe is open: the browser is asked to tell of its targets.
    void start();
    void connected(Client client);
    void fromClient(Client client, std::string_view message);
    void fromBrowser(std::string_view message);
    // Closes every target of the connection.
    void disconnected(Client client);

    size_t clients() const { return clients_.size(); }
    size_t targetsOf(Client client) const;

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
    };

    void sendToBrowser(Client client, const Json::Value& clientId, const std::string& method,
                       Json::Value message);
    void closeTarget(const std::string& targetId);
    void refuse(Client client, const Json::Value& id, const std::string& why);
    void replied(const Pending& pending, Json::Value message);
    std::optional<Client> ownerOfTarget(const std::string& targetId) const;
    std::optional<Client> ownerOfSession(const std::string& sessionId) const;

    Port port_;
    std::map<Client, Owned> clients_;
    std::map<int, Pending> pending_;
    int nextId_ = 1;
};
