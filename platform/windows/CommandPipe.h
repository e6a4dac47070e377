// Commands to the running copy on Windows: the one copy of a user's session
// serves a named pipe (platform::commandSocketPath: \\.\pipe\<lock name>-
// <session>-<user's SID>) whose security descriptor admits the user alone;
// a later start hands its request line over it (platform::sendCommand). The
// lines are those of the Unix socket (platform/CommandSocket.h).
#pragma once

#include "platform/CommandSocket.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace platform {

class CommandPipeServer {
public:
    using Handler = std::function<CommandAnswer(const std::string& request)>;
    // Runs the work on the thread the handler belongs to (the UI thread).
    using RunOnOwner = std::function<void(std::function<void()> work)>;

    // Serves the pipe from threads of its own: each connection on a thread
    // of its own, with `deadline` from its connection to send its line and
    // `deadline` again to take its answer; at most `connectionsMax` at once,
    // a newcomer beyond that dropping the oldest that has sent nothing yet.
    // A request line is answered by `handle`, run through `runOnOwner`.
    // Null, with one diagnostic line, when the pipe cannot be made (another
    // program holds the name).
    static std::unique_ptr<CommandPipeServer>
    listen(const std::string& path, Handler handle, RunOnOwner runOnOwner,
           std::chrono::milliseconds deadline = kCommandDeadline,
           size_t connectionsMax = kCommandConnectionsMax);
    // Stops accepting; the connections still open are answered with status
    // 2 ("the running copy is ending") once their handler would run.
    virtual ~CommandPipeServer() = default;
};

} // namespace platform
