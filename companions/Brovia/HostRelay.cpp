#include "HostRelay.h"

#include <json/reader.h>

#include <memory>

namespace {

bool parse(std::string_view text, Json::Value& value) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(text.data(), text.data() + text.size(), &value, &errors) &&
           value.isObject();
}

// Browser commands a page's Brovia needs, and which of their parameters
// must name something of its own.
enum class Names { Nothing, Target, Window };
std::optional<Names> relayed(const std::string& method) {
    static const std::map<std::string, Names> methods = {
        {"Target.getTargets", Names::Nothing},         {"Target.createTarget", Names::Nothing},
        {"Target.attachToTarget", Names::Target},      {"Target.closeTarget", Names::Target},
        {"Target.activateTarget", Names::Target},      {"Target.getTargetInfo", Names::Target},
        {"Browser.getWindowForTarget", Names::Target}, {"Browser.setWindowBounds", Names::Window},
        {"Browser.getWindowBounds", Names::Window},    {"Browser.getVersion", Names::Nothing},
    };
    auto it = methods.find(method);
    if (it == methods.end())
        return std::nullopt;
    return it->second;
}

} // namespace

HostRelay::HostRelay(Port port) : HostRelay(std::move(port), Limits()) {}

HostRelay::HostRelay(Port port, Limits limits) : port_(std::move(port)), limits_(limits) {}

void HostRelay::start() {
    Json::Value message(Json::objectValue);
    message["method"] = "Target.setDiscoverTargets";
    message["params"]["discover"] = true;
    sendToBrowser(0, Json::Value(), message["method"].asString(), message);
}

void HostRelay::connected(Client client) {
    clients_.try_emplace(client).first->second.splitter =
        devtools::MessageSplitter(limits_.message);
}

std::optional<std::string> HostRelay::fromClientBytes(Client client, std::string_view bytes) {
    auto me = clients_.find(client);
    if (me == clients_.end())
        return std::nullopt;
    devtools::MessageSplitter& splitter = me->second.splitter;
    const size_t before = splitter.buffered();
    const size_t after = splitter.bufferedAfter(bytes);
    if (after > limits_.message)
        return "a message beyond " + std::to_string(limits_.message) + " bytes";
    // Only a connection whose unfinished message grows can go beyond the
    // limit of all.
    if (after > before && unfinished_ - before + after > limits_.unfinished)
        return "its unfinished message would take the unfinished messages of all pages beyond " +
               std::to_string(limits_.unfinished) + " bytes";
    const std::vector<std::string> messages = splitter.feed(bytes);
    unfinished_ = unfinished_ - before + splitter.buffered();
    // A whole message beyond the limit among the bytes stops the splitter.
    const bool overflowed = splitter.overflowed();
    for (const std::string& message : messages)
        fromClient(client, message);
    if (overflowed)
        return "a message beyond " + std::to_string(limits_.message) + " bytes";
    return std::nullopt;
}

size_t HostRelay::targetsOf(Client client) const {
    auto it = clients_.find(client);
    return it == clients_.end() ? 0 : it->second.targets.size();
}

void HostRelay::sendToBrowser(Client client, const Json::Value& clientId, const std::string& method,
                              Json::Value message) {
    const int id = nextId_++;
    pending_[id] = Pending{client, clientId, method};
    message["id"] = id;
    port_.toBrowser(devtools::compact(message));
}

void HostRelay::refuse(Client client, const Json::Value& id, const std::string& why) {
    Json::Value reply(Json::objectValue);
    reply["id"] = id;
    reply["error"]["code"] = -32000;
    reply["error"]["message"] = why;
    port_.toClient(client, devtools::compact(reply));
}

void HostRelay::fromClient(Client client, std::string_view text) {
    auto me = clients_.find(client);
    Json::Value message;
    if (me == clients_.end() || !parse(text, message) || !message["id"].isIntegral() ||
        !message["method"].isString())
        return;
    Owned& own = me->second;
    const Json::Value& read = message;
    const Json::Value id = read["id"];
    const std::string method = message["method"].asString();
    if (message.isMember("sessionId")) {
        if (!message["sessionId"].isString() ||
            !own.sessions.count(message["sessionId"].asString()))
            return refuse(client, id, "not a session of this connection");
        sendToBrowser(client, id, method, message);
        return;
    }
    if (method == "Target.setDiscoverTargets") {
        // The relay keeps discovery on for everyone.
        Json::Value reply(Json::objectValue);
        reply["id"] = id;
        reply["result"] = Json::Value(Json::objectValue);
        port_.toClient(client, devtools::compact(reply));
        return;
    }
    const auto names = relayed(method);
    if (!names)
        return refuse(client, id, method + " is not for a page's browser");
    const Json::Value& params = read["params"];
    if (*names == Names::Target &&
        !(params["targetId"].isString() && own.targets.count(params["targetId"].asString())))
        return refuse(client, id, "not a target of this connection");
    if (*names == Names::Window &&
        !(params["windowId"].isIntegral() && own.windows.count(params["windowId"].asInt64())))
        return refuse(client, id, "not a window of this connection");
    if (method == "Target.attachToTarget")
        message["params"]["flatten"] = true; // sessions are told apart by their id
    sendToBrowser(client, id, method, message);
}

void HostRelay::replied(const Pending& pending, Json::Value message) {
    auto me = clients_.find(pending.client);
    if (me == clients_.end()) {
        // A window made for a connection that ended meanwhile goes too.
        if (pending.client == kGone && pending.method == "Target.createTarget" &&
            message["result"]["targetId"].isString())
            closeTarget(message["result"]["targetId"].asString());
        return; // the relay's own, or a connection that has gone
    }
    Owned& own = me->second;
    message["id"] = pending.clientId;
    if (!message.isMember("result")) {
        port_.toClient(pending.client, devtools::compact(message));
        return;
    }
    Json::Value& result = message["result"];
    if (pending.method == "Target.createTarget" && result["targetId"].isString()) {
        own.targets.insert(result["targetId"].asString());
    } else if (pending.method == "Target.attachToTarget" && result["sessionId"].isString()) {
        own.sessions.insert(result["sessionId"].asString());
    } else if (pending.method == "Browser.getWindowForTarget" && result["windowId"].isIntegral()) {
        own.windows.insert(result["windowId"].asInt64());
    } else if (pending.method == "Target.getTargets" && result["targetInfos"].isArray()) {
        Json::Value mine(Json::arrayValue);
        for (const Json::Value& info : result["targetInfos"])
            if (own.targets.count(info["targetId"].asString()))
                mine.append(info);
        result["targetInfos"] = mine;
    }
    message["id"] = pending.clientId;
    port_.toClient(pending.client, devtools::compact(message));
}

std::optional<HostRelay::Client> HostRelay::ownerOfTarget(const std::string& targetId) const {
    for (const auto& [client, own] : clients_)
        if (own.targets.count(targetId))
            return client;
    return std::nullopt;
}

std::optional<HostRelay::Client> HostRelay::ownerOfSession(const std::string& sessionId) const {
    for (const auto& [client, own] : clients_)
        if (own.sessions.count(sessionId))
            return client;
    return std::nullopt;
}

void HostRelay::fromBrowser(std::string_view text) {
    Json::Value message;
    if (!parse(text, message))
        return;
    const Json::Value& read = message; // reading adds no members
    if (read["id"].isIntegral()) {
        auto it = read["id"].isInt() ? pending_.find(read["id"].asInt()) : pending_.end();
        if (it == pending_.end())
            return;
        const Pending pending = std::move(it->second);
        pending_.erase(it);
        replied(pending, std::move(message));
        return;
    }
    std::optional<Client> owner;
    const Json::Value& params = read["params"];
    const std::string method = read["method"].asString();
    if (read["sessionId"].isString()) {
        owner = ownerOfSession(read["sessionId"].asString());
    } else if (method == "Target.detachedFromTarget") {
        owner = ownerOfSession(params["sessionId"].asString());
        if (owner)
            clients_[*owner].sessions.erase(params["sessionId"].asString());
    } else if (method == "Target.attachedToTarget") {
        owner = ownerOfTarget(params["targetInfo"]["targetId"].asString());
        if (owner && params["sessionId"].isString())
            clients_[*owner].sessions.insert(params["sessionId"].asString());
    } else if (params["targetInfo"]["targetId"].isString()) {
        owner = ownerOfTarget(params["targetInfo"]["targetId"].asString());
    } else if (params["targetId"].isString()) {
        owner = ownerOfTarget(params["targetId"].asString());
        if (owner && method == "Target.targetDestroyed")
            clients_[*owner].targets.erase(params["targetId"].asString());
    }
    if (owner)
        port_.toClient(*owner, devtools::compact(message));
}

void HostRelay::disconnected(Client client) {
    auto me = clients_.find(client);
    if (me == clients_.end())
        return;
    const std::set<std::string> targets = std::move(me->second.targets);
    unfinished_ -= me->second.splitter.buffered();
    clients_.erase(me);
    for (auto it = pending_.begin(); it != pending_.end(); ++it)
        if (it->second.client == client)
            it->second.client = kGone; // its replies go nowhere
    for (const std::string& target : targets)
        closeTarget(target);
}

void HostRelay::closeTarget(const std::string& targetId) {
    Json::Value message(Json::objectValue);
    message["method"] = "Target.closeTarget";
    message["params"]["targetId"] = targetId;
    sendToBrowser(0, Json::Value(), "Target.closeTarget", message);
}
