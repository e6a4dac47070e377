#include "platform/windows/PipeReading.h"

#include "platform/Threads.h"

#include <cstdint>
#include <windows.h>

namespace platform {

bool readPipeUntilEnd(int readEnd, std::function<void(std::string bytes)> bytes,
                      std::function<void()> ended) {
    HANDLE pipe = reinterpret_cast<HANDLE>(static_cast<intptr_t>(readEnd));
    const bool started =
        startDetachedThread([pipe, bytes = std::move(bytes), ended = std::move(ended)] {
            char buffer[4096];
            DWORD n = 0;
            while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0)
                bytes(std::string(buffer, n));
            CloseHandle(pipe);
            ended();
        });
    if (!started)
        CloseHandle(pipe);
    return started;
}

} // namespace platform
