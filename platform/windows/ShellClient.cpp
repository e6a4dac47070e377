// The shell-client notice: FindWindowA for the window
// class "Tolvan_shellclient_Main", then WM_COPYDATA with data identifier 1,
// sent synchronously, bounded by shellClientAckTimeoutMs
// (SendMessageTimeoutW, the bounded form of SendMessageW) so that a hung
// shell client cannot hang the caller.
#include "platform/ShellClient.h"

#include <climits>
#include <windows.h>

namespace platform {

// On Windows the shell client is reached by its window class.
std::string shellClientSocketPath() {
    return "Tolvan_shellclient_Main";
}

bool sendShellClientNotice(const std::string& windowClass, uint32_t dataId,
                           std::string_view bytes) {
    if (windowClass.empty() || bytes.size() > ULONG_MAX)
        return false;
    HWND window = FindWindowA(windowClass.c_str(), nullptr);
    if (!window)
        return false; // no shell client: the notice is dropped
    COPYDATASTRUCT data{};
    data.dwData = dataId;
    data.cbData = static_cast<DWORD>(bytes.size());
    data.lpData = const_cast<char*>(bytes.data());
    DWORD_PTR answer = 0;
    return SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                               SMTO_NORMAL | SMTO_ABORTIFHUNG, shellClientAckTimeoutMs,
                               &answer) != 0;
}

} // namespace platform
