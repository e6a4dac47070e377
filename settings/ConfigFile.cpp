#include "settings/ConfigFile.h"

#include "common/DebugPrint.h"
#include "platform/Files.h"

#include <cjson/cJSON.h>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct JsonDeleter {
    void operator()(cJSON* item) const { cJSON_Delete(item); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

// The member's text when it is a JSON string; nullptr for any other type or
// when it is missing. Names match without regard to letter case, first match.
const char* stringMember(const cJSON* object, const char* name) {
    const cJSON* item = cJSON_GetObjectItem(object, name);
    return cJSON_IsString(item) ? item->valuestring : nullptr;
}

void copyString(const cJSON* root, const char* name, std::string& field) {
    if (const char* text = stringMember(root, name))
        field = text;
}

// Anything larger is no configuration a settings dialog wrote.
constexpr size_t kMaxConfigBytes = 64 * 1024 * 1024;

// The file's text; false when there is none to read. A file that is missing
// is no event; one that exists but is unreadable, not a regular file (a FIFO
// would block the start for ever, a device such as /dev/zero never ends) or
// too large gets one diagnostic line.
bool readConfigText(const std::string& path, std::string& text) {
    int error = 0;
    switch (platform::readRegularFile(path, kMaxConfigBytes, text, error)) {
    case platform::FileRead::Read:
        return true;
    case platform::FileRead::Missing:
        return false;
    case platform::FileRead::Unreadable:
        DebugPrint("loadConfigFile: cannot read %s, error code = %d\n", path.c_str(), error);
        return false;
    case platform::FileRead::NotRegular:
        DebugPrint("loadConfigFile: %s is not a regular file, not read\n", path.c_str());
        return false;
    case platform::FileRead::TooLarge:
        DebugPrint("loadConfigFile: %s is larger than %zu bytes, not read\n", path.c_str(),
                   kMaxConfigBytes);
        return false;
    }
    return false;
}

DisplayAssignment displayEntry(const cJSON* element) {
    DisplayAssignment entry;
    const char* pri = stringMember(element, "pri");
    if (pri && std::strcmp(pri, "true") == 0)
        entry.isPrimary = 1;
    // An over-long address is left out whole rather than cut.
    const char* url = stringMember(element, "url");
    if (url && std::strlen(url) <= kMaxUrlTemplate)
        entry.urlTemplate = url;
    return entry;
}

} // namespace

std::string configFilePath(const std::string& programFolder) {
    return programFolder + platform::folderSeparator() + "Panoview.config";
}

ConfigLoad loadConfigFile(SystemConfig& config, const std::string& path) {
    std::string text;
    if (!readConfigText(path, text))
        return ConfigLoad::Missing;
    if (text.empty())
        return ConfigLoad::Empty;
    // The text goes out as the C string it is handed over as, up to its
    // first NUL: a file of NUL bytes (a disk that lost the file's content)
    // writes nothing, instead of megabytes of NULs into the diagnostics.
    OutputDebugText(std::string_view(text.c_str()));

    // The text is handed over as a C string, so it ends at its first NUL,
    // and cJSON_Parse ignores whatever follows the first complete value.
    JsonPtr root(cJSON_Parse(text.c_str()));
    if (!root)
        return ConfigLoad::NotJson;

    copyString(root.get(), "userid", config.userId);
    copyString(root.get(), "factoryid", config.factoryId);
    copyString(root.get(), "address", config.serviceAddress);
    copyString(root.get(), "web", config.siteAddress);

    // One walk along the list: looking each element up by its index would
    // start from the front every time.
    if (const cJSON* list = cJSON_GetObjectItem(root.get(), "srurl")) {
        const cJSON* element = nullptr;
        cJSON_ArrayForEach(element, list) {
            config.displays.push_back(displayEntry(element));
        }
    }
    return ConfigLoad::Loaded;
}

std::string configFileText(const std::string& userId, const std::string& serviceAddress,
                           const std::string& factoryId, const std::string& siteAddress,
                           const std::vector<ConfigDisplayEntry>& entries) {
    JsonPtr root(cJSON_CreateObject());
    if (!root)
        return {};
    cJSON_AddItemToObject(root.get(), "userid", cJSON_CreateString(userId.c_str()));
    cJSON_AddItemToObject(root.get(), "address", cJSON_CreateString(serviceAddress.c_str()));
    cJSON_AddItemToObject(root.get(), "factoryid", cJSON_CreateString(factoryId.c_str()));
    cJSON_AddItemToObject(root.get(), "web", cJSON_CreateString(siteAddress.c_str()));
    cJSON* list = cJSON_CreateArray();
    for (const ConfigDisplayEntry& entry : entries) {
        cJSON* element = cJSON_CreateObject();
        if (!element)
            continue;
        cJSON_AddItemToObject(element, "pri",
                              cJSON_CreateString(entry.isPrimary ? "true" : "false"));
        cJSON_AddItemToObject(element, "url", cJSON_CreateString(entry.url.c_str()));
        cJSON_AddItemToArray(list, element);
    }
    cJSON_AddItemToObject(root.get(), "srurl", list);

    char* printed = cJSON_Print(root.get());
    if (!printed)
        return {};
    std::string text(printed);
    cJSON_free(printed);
    return text;
}

bool saveConfigFile(const std::string& path, const SystemConfig& config, const std::string& userId,
                    const std::string& serviceAddress, const std::string& siteAddress,
                    const std::vector<ConfigDisplayEntry>& entries) {
    std::string text =
        configFileText(userId, serviceAddress, config.factoryId, siteAddress, entries);
    if (text.empty())
        return false;
    OutputDebugText(text);

    int error = 0;
    if (!platform::replaceFile(path, text, error)) {
        DebugPrint("saveConfigFile: cannot write %s, error code = %d\n", path.c_str(), error);
        return false;
    }
    return true;
}
