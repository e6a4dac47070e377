// Feeds arbitrary bytes to LSystem as the service's reply, through all four
// calls. Every input must end in a result, never in a crash or a sanitizer
// report.
#include "FakeHttp.h"

#include "cloud/LSystem.h"
#include "common/DebugPrint.h"
#include "platform/ShellClient.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    diag::setSink([](std::string_view) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string reply(reinterpret_cast<const char*>(data), size);
    // Refusal notices go to a socket nobody listens on.
    LSystem client(std::make_unique<FakeHttp>(&reply), [](const std::string& text) {
        return platform::sendShellClientNotice("/nonexistent/panoview-fuzz/sc.sock", 1, text);
    });
    std::string token, displayName;
    const int32_t login = LSystem::Login("http://cloud", token, client, "admin", "pw", displayName);
    if (login != 0 && login != 1)
        __builtin_trap();
    const int32_t entered = LSystem::EnterFactory("http://cloud", "F001", client, token);
    if (entered != 0 && entered != 1)
        __builtin_trap();
    LSystem::heartpacket("http://cloud", client, token);
    LSystem::Logout(client, "http://cloud");
    return 0;
}
