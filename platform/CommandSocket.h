// Commands to the running copy: the one copy of a user's session listens on
// a Unix socket beside its instance lock, and a later start with a command
// word hands the word over and ends with the answer's status.
//
// One request a connection: the client sends one line (the word, and after a
// blank its argument, if any), at most kCommandRequestMax bytes with its line
// feed; the running copy answers with its status (a decimal number), a blank
// and its text, which may run over several lines, ends it with a line feed
// and closes the connection. An answer is at most kCommandAnswerMax bytes.
// Only processes of the same user are served; another user's request is
// refused unread.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {

inline constexpr size_t kCommandRequestMax = 4096;
inline constexpr size_t kCommandAnswerMax = 1 << 20;

// The socket beside the instance lock of that name:
// <name>.socket in the user's runtime folder (userRuntimeFolder()).
std::string commandSocketPath(const std::string& lockName);

// The rules every private socket of a user's session keeps, for the
// command socket and any other long-lived one (the page browsers' host):
// listening at the path with mode 0600 from the start, replacing a socket a
// dead run of this user left there; connecting only to a listener of the
// same user; serving only peers of the same user (SO_PEERCRED).
//
// A listening, non-blocking, close-on-exec descriptor, or -1 with one
// diagnostic line naming `who`.
int listenPrivateSocket(const std::string& path, const char* who, int backlog = 4);
// A connected, close-on-exec descriptor, or -1 when nobody listens there or
// the listener is another user's.
int connectPrivateSocket(const std::string& path);
// Whether the process at the other end of a connected socket is this user's.
bool peerIsThisUser(int fd);

struct CommandAnswer {
    int status = 0; // 0 done, 2 refused or failed
    std::string text;
};

// How long a connection may stay, from its accept to its answer's last byte.
inline constexpr std::chrono::milliseconds kCommandDeadline = std::chrono::seconds(2);
// How many connections are open at once at the most.
inline constexpr size_t kCommandConnectionsMax = 64;

// Serves the connections of the command socket without ever waiting for one:
// every connection is non-blocking and has its own deadline, so that any
// number of silent or slow clients hold no other client up, and a request
// line is answered in the turn its last byte arrives.
//
// The caller's event loop drives it: it calls serve() whenever descriptor()
// is readable, and at nextDeadline() at the latest.
//
// At most `connectionsMax` connections are open; a new one beyond that
// drops the oldest connection still waiting for its request line (or, when
// every one is sending its answer, the oldest of those). A client that means
// to be served sends its line as soon as it is connected, so a flood of
// silent connections pushes out its own oldest, never a live client, and
// never locks the socket for a deadline's length as refusing newcomers would.
class CommandListener {
public:
    using Handler = std::function<CommandAnswer(const std::string& request)>;
    // Listens at the path (mode 0600), replacing a socket left by an earlier
    // run of this user. Null, with one diagnostic line, when it cannot.
    static std::unique_ptr<CommandListener>
    listen(const std::string& path, std::chrono::milliseconds deadline = kCommandDeadline,
           size_t connectionsMax = kCommandConnectionsMax);
    // Closes every connection and removes the socket from its path, when the
    // socket there is still the one this listener made.
    virtual ~CommandListener() = default;
    // One descriptor that is readable while there is work: a client waits to
    // be accepted, a request's bytes have come, an answer can go on. It is
    // only watched, never read.
    virtual int descriptor() const = 0;
    // Does the work there is without waiting: accepts waiting clients
    // (another user's is refused unread), reads what has come, answers each
    // request line whole with what `handle` says, puts out what an answer's
    // client takes, and closes the connections whose deadline has passed. A
    // line longer than kCommandRequestMax bytes with its line feed is not
    // served. A call made from inside `handle` returns at once.
    virtual void serve(const Handler& handle) = 0;
    // When serve() is due at the latest although descriptor() stays quiet:
    // the first deadline of an open connection, or the end of accepting's
    // rest after the process ran out of descriptors; none while neither is.
    virtual std::optional<std::chrono::steady_clock::time_point> nextDeadline() const = 0;
};

// The wire of one request, the same over every transport (a Unix socket on
// Linux, a named pipe on Windows):
// The request as it goes out, its line feed added. False, with the refusal
// to report instead, when it holds a line feed or is longer than
// kCommandRequestMax bytes with its line feed.
bool commandRequestLine(const std::string& request, std::string& line, CommandAnswer& refusal);
// The answer as it goes out: status, blank, text and the final line feed,
// or a refusal (status 2) when that would be longer than kCommandAnswerMax.
std::string commandAnswerLine(const CommandAnswer& answer);
// The answer the bytes a client read hold: status 2 "the running copy did
// not answer" when they do not end with the final line feed.
CommandAnswer parseCommandAnswer(std::string reply);

// Hands the request line to the running copy and waits for its whole
// answer. False when no copy listens (no socket, nobody at it) or the
// listener is another user's; a copy that does not answer whole (its final
// line feed) within the deadline, or answers more than kCommandAnswerMax
// bytes, answers status 2.
bool sendCommand(const std::string& path, const std::string& request, CommandAnswer& answer,
                 std::chrono::milliseconds deadline);

} // namespace platform
