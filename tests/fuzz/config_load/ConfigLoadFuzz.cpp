// Feeds arbitrary bytes to the configuration loader as the content of
// Panoview.config. Every input must end in one of the load results with the
// record's invariants kept, never in a crash or a sanitizer report.
#include "common/DebugPrint.h"
#include "settings/ConfigFile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The input goes into an in-memory file, which the loader opens by path like
// any regular file.
int memoryFile = -1;
std::string memoryFilePath;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    diag::setSink([](std::string_view) {});
    memoryFile = memfd_create("Panoview.config", MFD_CLOEXEC);
    if (memoryFile < 0)
        __builtin_trap();
    memoryFilePath = "/proc/self/fd/" + std::to_string(memoryFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (ftruncate(memoryFile, 0) != 0 ||
        pwrite(memoryFile, data, size, 0) != static_cast<ssize_t>(size))
        __builtin_trap();
    SystemConfig config;
    const ConfigLoad result = loadConfigFile(config, memoryFilePath);
    if (size == 0 && result != ConfigLoad::Empty)
        __builtin_trap();
    if (result != ConfigLoad::Loaded &&
        (!config.userId.empty() || !config.displays.empty() || !config.siteAddress.empty()))
        __builtin_trap();
    for (const DisplayAssignment& entry : config.displays) {
        if (entry.isPrimary > 1 || entry.urlTemplate.size() > kMaxUrlTemplate ||
            entry.processId != 0)
            __builtin_trap();
    }
    // A loaded record written back and read again gives the same entries.
    if (result == ConfigLoad::Loaded) {
        std::vector<ConfigDisplayEntry> entries;
        for (const DisplayAssignment& entry : config.displays)
            entries.push_back({entry.isPrimary == 1, entry.urlTemplate});
        const std::string text = configFileText(config.userId, config.serviceAddress,
                                                config.factoryId, config.siteAddress, entries);
        if (ftruncate(memoryFile, 0) != 0 ||
            pwrite(memoryFile, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
            __builtin_trap();
        SystemConfig again;
        if (loadConfigFile(again, memoryFilePath) != ConfigLoad::Loaded ||
            again.displays.size() != config.displays.size() || again.userId != config.userId)
            __builtin_trap();
        for (size_t i = 0; i < entries.size(); ++i) {
            if (again.displays[i].urlTemplate != config.displays[i].urlTemplate ||
                again.displays[i].isPrimary != config.displays[i].isPrimary)
                __builtin_trap();
        }
    }
    return 0;
}
