// The DevTools protocol as Brovia speaks it with its Chromium over the
// debugging pipe: JSON messages, each ended by a NUL byte, commands matched
// to their replies by id. Every command carries its own deadline: a command
// Chromium never answers is reported as unanswered when the deadline passes
// and its late reply, if one ever comes, is dropped. Plain C++; the caller
// moves the bytes and tells the time.
#pragma once

#include <json/value.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace devtools {

using Clock = std::chrono::steady_clock;

// Cuts the bytes read from the pipe into messages at each NUL byte. A
// message that grows beyond the limit breaks the stream (overflowed()).
class MessageSplitter {
public:
    explicit MessageSplitter(size_t limit = 64u << 20) : limit_(limit) {}
    std::vector<std::string> feed(std::string_view bytes);
    bool overflowed() const { return overflowed_; }
    // The bytes of the unfinished message held so far.
    size_t buffered() const { return partial_.size(); }
    // What buffered() would be after feeding the bytes (without the limit).
    size_t bufferedAfter(std::string_view bytes) const {
        const size_t end = bytes.rfind('\0');
        return end == std::string_view::npos ? partial_.size() + bytes.size()
                                             : bytes.size() - end - 1;
    }

private:
    std::string partial_;
    size_t limit_;
    bool overflowed_ = false;
};

struct Reply {
    bool answered = false; // false: the deadline passed first
    bool ok = false;       // answered with a result, not an error
    Json::Value result;
    std::string error;
    Clock::time_point at;
};

struct Event {
    std::string method;
    Json::Value params;
    std::string sessionId; // empty for the browser's own events
    Clock::time_point at;
};

class Session {
public:
    // Sends one message (without its NUL byte).
    using Send = std::function<void(const std::string& message)>;
    using OnReply = std::function<void(const Reply&)>;
    using OnEvent = std::function<void(const Event&)>;

    Session(Send send, OnEvent onEvent) : send_(std::move(send)), onEvent_(std::move(onEvent)) {}

    // Sends a command to the browser (empty session) or to an attached
    // target; onReply runs once, with the reply or at the deadline. Returns
    // the command's id.
    int call(const std::string& method, const Json::Value& params, const std::string& sessionId,
             Clock::time_point deadline, OnReply onReply);

    // One message from the pipe: a reply runs its command's callback, an
    // event goes to the event handler. Text that is not a protocol message
    // is counted and ignored.
    void received(std::string_view message, Clock::time_point now);
    // Runs the callbacks of every command whose deadline has passed.
    void expire(Clock::time_point now);

    std::optional<Clock::time_point> nextDeadline() const;
    size_t pending() const { return pending_.size(); }
    size_t malformed() const { return malformed_; }

private:
    struct Pending {
        Clock::time_point deadline;
        OnReply onReply;
    };
    Send send_;
    OnEvent onEvent_;
    std::map<int, Pending> pending_;
    int nextId_ = 1;
    size_t malformed_ = 0;
};

// A protocol message as compact JSON text.
std::string compact(const Json::Value& value);
// The JSON object the text holds; nullopt for text that is no JSON object.
std::optional<Json::Value> parseObject(std::string_view text);

} // namespace devtools
