#include "SystemLookups.h"

#include <windows.h>

namespace {

HKEY hive(bool machine) {
    return machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

} // namespace

BrowserLookups systemBrowserLookups() {
    BrowserLookups lookups;
    lookups.environment = [](const std::string& name) {
        char value[32768];
        const DWORD n = GetEnvironmentVariableA(name.c_str(), value, sizeof value);
        return n == 0 || n >= sizeof value ? std::string() : std::string(value, n);
    };
    lookups.appPath = [](bool machine, const std::string& image) {
        const std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + image;
        char value[MAX_PATH * 2] = {};
        DWORD size = sizeof value - 1;
        // The key's default value; REG_EXPAND_SZ expanded.
        if (RegGetValueA(hive(machine), key.c_str(), nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ,
                         nullptr, value, &size) != ERROR_SUCCESS)
            return std::string();
        return std::string(value);
    };
    lookups.isFile = [](const std::string& path) {
        const DWORD attributes = GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    };
    return lookups;
}

PolicyLookup systemPolicies() {
    return [](bool machine, const std::string& key,
              const std::string& name) -> std::optional<uint32_t> {
        DWORD value = 0;
        DWORD size = sizeof value;
        if (RegGetValueA(hive(machine), key.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr,
                         &value, &size) != ERROR_SUCCESS)
            return std::nullopt;
        return uint32_t(value);
    };
}
