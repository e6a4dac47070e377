// Panoview.config: the JSON file beside the executable that holds the
// service and site addresses, the default account, the factory and the page
// of each display.
#pragma once

#include "settings/SystemConfig.h"

#include <string>
#include <vector>

// The file beside the executable: programFolder (moduleDirectory), the
// platform's folder separator and "Panoview.config".
std::string configFilePath(const std::string& programFolder);

enum class ConfigLoad {
    Loaded,  // the file held JSON; the fields it names are filled
    Missing, // no file, or none to read (unreadable, not a regular file, larger
             // than 64 MiB: one diagnostic line): nothing is filled, no message
    Empty,   // a file of zero bytes: nothing is filled, no message
    NotJson, // the text is not JSON: the caller shows "config file error!" and ends
};

// Fills userId, factoryId, serviceAddress, siteAddress and displays of the
// record from the file at path. Other fields are untouched.
ConfigLoad loadConfigFile(SystemConfig& config, const std::string& path);

// One "srurl" entry as the settings dialog hands it over, in file order.
struct ConfigDisplayEntry {
    bool isPrimary = false;
    std::string url;
};

// The text the file holds for these values: cJSON's formatted print of the
// keys "userid", "address", "factoryid", "web" and "srurl" ("pri", "url") in
// that order. Empty when the document cannot be built.
std::string configFileText(const std::string& userId, const std::string& serviceAddress,
                           const std::string& factoryId, const std::string& siteAddress,
                           const std::vector<ConfigDisplayEntry>& entries);

// Writes the file at path from the dialog's values and the loaded factoryId.
// The new text goes to a temporary file in the same folder, which is flushed
// to disk and then renamed over the old file, so the old file stays whole
// until the new one is complete. A symbolic link at path is followed: the
// file it names is replaced and the link kept. The file keeps its owner,
// group and permission bits where the process may set them. Returns false,
// with the old file untouched and no temporary file left, when any step
// fails.
bool saveConfigFile(const std::string& path, const SystemConfig& config, const std::string& userId,
                    const std::string& serviceAddress, const std::string& siteAddress,
                    const std::vector<ConfigDisplayEntry>& entries);
