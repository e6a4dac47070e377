// The one process-wide record of configuration, sign-in state and display
// geometry.
#pragma once

#include "common/Geometry.h"

#include <cstdint>
#include <string>
#include <vector>

// The longest page address template Panoview.config may hand over.
inline constexpr size_t kMaxUrlTemplate = 2047;

struct DisplayAssignment {
    uint8_t isPrimary = 0;   // 1 when the entry's "pri" is the string "true"
    std::string urlTemplate; // at most kMaxUrlTemplate bytes, one "%s" for the token
    uint32_t processId = 0;  // the browser started for the entry; 0 until then
};

struct SystemConfig {
    std::string userId;
    std::string userName;
    std::string password;
    std::string factoryId;
    std::string token;
    bool signedIn = false;
    std::string serviceAddress;
    std::string siteAddress;
    std::vector<DisplayAssignment> displays;
    MonitorInfo primaryMonitor;
    std::vector<MonitorInfo> extendedMonitors;
};
