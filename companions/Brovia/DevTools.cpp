#include "DevTools.h"

#include <json/reader.h>
#include <json/writer.h>

#include <memory>

namespace devtools {

std::vector<std::string> MessageSplitter::feed(std::string_view bytes) {
    std::vector<std::string> messages;
    if (overflowed_)
        return messages;
    while (!bytes.empty()) {
        const size_t end = bytes.find('\0');
        const std::string_view piece = bytes.substr(0, end);
        if (partial_.size() + piece.size() > limit_) {
            overflowed_ = true;
            partial_.clear();
            return messages;
        }
        partial_.append(piece);
        if (end == std::string_view::npos)
            break;
        messages.push_back(std::move(partial_));
        partial_.clear();
        bytes.remove_prefix(end + 1);
    }
    return messages;
}

std::string compact(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

int Session::call(const std::string& method, const Json::Value& params,
                  const std::string& sessionId, Clock::time_point deadline, OnReply onReply) {
    const int id = nextId_++;
    Json::Value message(Json::objectValue);
    message["id"] = id;
    message["method"] = method;
    message["params"] = params.isNull() ? Json::Value(Json::objectValue) : params;
    if (!sessionId.empty())
        message["sessionId"] = sessionId;
    pending_[id] = Pending{deadline, std::move(onReply)};
    send_(compact(message));
    return id;
}

std::optional<Json::Value> parseObject(std::string_view text) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value value;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors) ||
        !value.isObject())
        return std::nullopt;
    return value;
}

void Session::received(std::string_view text, Clock::time_point now) {
    const std::optional<Json::Value> parsed = parseObject(text);
    if (!parsed) {
        ++malformed_;
        return;
    }
    const Json::Value& message = *parsed;
    const Json::Value& id = message["id"];
    if (id.isIntegral()) {
        auto it = id.isInt() ? pending_.find(id.asInt()) : pending_.end();
        if (it == pending_.end())
            return; // a late reply to a command given up on, or a stranger's
        OnReply onReply = std::move(it->second.onReply);
        pending_.erase(it);
        Reply reply;
        reply.answered = true;
        reply.at = now;
        if (message.isMember("error")) {
            const Json::Value& error = message["error"];
            reply.error = error.isObject() && error["message"].isString()
                              ? error["message"].asString()
                              : std::string("error");
        } else {
            reply.ok = true;
            reply.result = message["result"];
        }
        if (onReply)
            onReply(reply);
        return;
    }
    if (!message["method"].isString()) {
        ++malformed_;
        return;
    }
    Event event;
    event.method = message["method"].asString();
    event.params = message["params"];
    if (message["sessionId"].isString())
        event.sessionId = message["sessionId"].asString();
    event.at = now;
    if (onEvent_)
        onEvent_(event);
}

void Session::expire(Clock::time_point now) {
    std::vector<OnReply> due;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->second.deadline <= now) {
            due.push_back(std::move(it->second.onReply));
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& onReply : due) {
        Reply reply;
        reply.at = now;
        if (onReply)
            onReply(reply);
    }
}

std::optional<Clock::time_point> Session::nextDeadline() const {
    std::optional<Clock::time_point> next;
    for (const auto& [id, p] : pending_)
        if (!next || p.deadline < *next)
            next = p.deadline;
    return next;
}

} // namespace devtools
