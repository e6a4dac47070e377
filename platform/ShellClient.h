// The shell client: a separately running desktop program that receives the
// cloud service's refusal texts. It listens on a Unix stream socket; a notice
// is the 32-bit data identifier, the 32-bit length (both in the machine's
// byte order) and the bytes, answered by the listener with one byte once it
// has handled the notice.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Sends one notice to the shell client listening at path and waits for the listener's
// acknowledgement. Returns false when no shell client listens ("window not found") or the notice
// could not be handed over. The wait is bounded (shellClientAckTimeoutMs) so that a stuck listener
// cannot hang the caller for ever.
bool sendShellClientNotice(const std::string& path, uint32_t dataId, std::string_view bytes);

// Where the shell client of this user's session listens:
// Tolvan_shellclient_Main in the user's runtime folder (userRuntimeFolder()).
std::string shellClientSocketPath();

// How long the sender waits for the connection, the write and the
// acknowledgement, each.
constexpr int shellClientAckTimeoutMs = 5000;

} // namespace platform
