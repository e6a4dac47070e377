// What the wall keeper knows of each page: the last state its page browser
// reported (wall/PageReport.h), that state's count, and since when. Bytes
// come from one report pipe per browser; they are cut into lines here. The
// keeper keys the pages by the browser's process id, since a browser reports
// from its first moment, before the keeper watches it for a monitor.
// Plain C++; every call runs on the UI thread.
#pragma once

#include "wall/PageReport.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Cuts the bytes read from one browser's report pipe into whole lines. A
// line longer than a report line may be is dropped whole, up to its line
// feed, so that what follows it is read correctly.
class PageReportLines {
public:
    std::vector<std::string> feed(std::string_view bytes);

private:
    std::string partial_;
    bool dropping_ = false;
};

struct MonitorPage {
    PageReport last;
    std::chrono::system_clock::time_point since;
};

class PageStates {
public:
    using Clock = std::chrono::system_clock;

    // A line from the browser of a page (the key the keeper gives it). A
    // report line becomes the page's state from `now`; anything else is
    // ignored and false.
    bool record(size_t monitor, std::string_view line, Clock::time_point now);
    // Every line of the bytes read from the page's pipe; how many were
    // reports. `each`, when given, sees every report recorded, in order.
    size_t feed(size_t monitor, std::string_view bytes, Clock::time_point now,
                const std::function<void(const PageReport&)>& each = {});
    // The monitor's browser ended or the wall went down: nothing known.
    void forget(size_t monitor);
    void clear();

    std::optional<MonitorPage> of(size_t monitor) const;
    const std::map<size_t, MonitorPage>& all() const { return pages_; }

private:
    std::map<size_t, MonitorPage> pages_;
    std::map<size_t, PageReportLines> lines_;
};
