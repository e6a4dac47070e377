#include "wall/PageState.h"

std::vector<std::string> PageReportLines::feed(std::string_view bytes) {
    std::vector<std::string> lines;
    while (!bytes.empty()) {
        const size_t end = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, end);
        if (!dropping_) {
            partial_.append(piece);
            if (partial_.size() + 1 > kPageReportLineMax) {
                partial_.clear();
                dropping_ = true;
            }
        }
        if (end == std::string_view::npos)
            break;
        if (!dropping_)
            lines.push_back(std::move(partial_));
        partial_.clear();
        dropping_ = false;
        bytes.remove_prefix(end + 1);
    }
    return lines;
}

bool PageStates::record(size_t monitor, std::string_view line, Clock::time_point now) {
    auto report = parsePageReport(line);
    if (!report)
        return false;
    pages_[monitor] = MonitorPage{std::move(*report), now};
    return true;
}

size_t PageStates::feed(size_t monitor, std::string_view bytes, Clock::time_point now,
                        const std::function<void(const PageReport&)>& each) {
    size_t reports = 0;
    for (const std::string& line : lines_[monitor].feed(bytes)) {
        if (!record(monitor, line, now))
            continue;
        ++reports;
        if (each)
            each(pages_[monitor].last);
    }
    return reports;
}

void PageStates::forget(size_t monitor) {
    pages_.erase(monitor);
    lines_.erase(monitor);
}

void PageStates::clear() {
    pages_.clear();
    lines_.clear();
}

std::optional<MonitorPage> PageStates::of(size_t monitor) const {
    auto it = pages_.find(monitor);
    if (it == pages_.end())
        return std::nullopt;
    return it->second;
}
