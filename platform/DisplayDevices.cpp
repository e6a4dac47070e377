#include "platform/DisplayDevices.h"

namespace platform {

DisplayDevices::DisplayDevices(const MonitorInfo& primary,
                               const std::vector<MonitorInfo>& extended) {
    adapters_.push_back({primary.szDevice, primary.description});
    for (const MonitorInfo& monitor : extended)
        adapters_.push_back({monitor.szDevice, monitor.description});
}

bool DisplayDevices::query(const char* deviceName, uint32_t index, DisplayDevice& device) const {
    if (!deviceName) {
        if (index >= adapters_.size() || adapters_[index].name.empty())
            return false;
        device = adapters_[index];
        return true;
    }
    if (index != 0 || !*deviceName)
        return false;
    for (const DisplayDevice& adapter : adapters_) {
        if (adapter.name == deviceName) {
            // The attached monitor carries the monitor's own name, which is
            // also what it calls itself.
            device = {adapter.description, adapter.description};
            return true;
        }
    }
    return false;
}

} // namespace platform
