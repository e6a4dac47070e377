// A shell client for tests, NoticeListener: each platform's own
// (posix/: a Unix socket; windows/: a window of its own class). path() is
// where the service client reaches it, raw() every notice as the 32-bit
// identifier, the 32-bit length and the bytes, texts() the bytes alone; a
// notice is on record by the time its sender returns.
#pragma once

#include "cloud/LSystem.h"
#include "platform/ShellClient.h"

#include "NoticeListenerPlatform.h"

#include <cstdint>
#include <string>

// A service client's shell client at a given socket.
inline LSystem::ShellNotice shellClientAt(std::string path) {
    return [path = std::move(path)](const std::string& text) {
        return platform::sendShellClientNotice(path, 1, text);
    };
}
