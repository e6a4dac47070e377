// Commands to the running copy: the one copy of a user's session listens on
// a Unix socket beside its instance lock, and a later start with a command
// word hands the word over and ends with the answer's status.
//
// One request a connection: the client sends one line (the word, and after a
// blank its argument, if any), at most kCommandRequestMax bytes with its line
// feed; the running copy answers with its status (a decimal number), a blank
// and its text, which may run over several lines, and closes the connection.
// An answer is at most kCommandAnswerMax bytes. Only processes of the same
// user are served; another user's request is refused unread.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
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

class CommandListener {
public:
    // Listens at the path (mode 0600), replacing a socket left by an earlier
    // run of this user. Null, with one diagnostic line, when it cannot.
    static std::unique_ptr<CommandListener> listen(const std::string& path);
    virtual ~CommandListener() = default;
    // The descriptor that becomes readable when a client connects.
    virtual int descriptor() const = 0;
    // Takes one waiting connection: refuses another user's process, reads
    // its request line within the deadline (a longer line is not served),
    // answers with what `handle` says, within the deadline as well. Returns
    // at once when no client waits.
    virtual void serveOne(const std::function<CommandAnswer(const std::string& request)>& handle,
                          std::chrono::milliseconds deadline) = 0;
};

// Hands the request line to the running copy and waits for its whole
// answer. False when no copy listens (no socket, nobody at it) or the
// listener is another user's; a copy that does not answer within the
// deadline, or answers more than kCommandAnswerMax bytes, answers status 2.
bool sendCommand(const std::string& path, const std::string& request, CommandAnswer& answer,
                 std::chrono::milliseconds deadline);

} // namespace platform
