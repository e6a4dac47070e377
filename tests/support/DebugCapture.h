// Captures every diagnostic write for the life of the object.
#pragma once

#include "common/DebugPrint.h"

#include <mutex>
#include <string>
#include <vector>

class DebugCapture {
public:
    // Wide text is captured too, as UTF-8.
    DebugCapture() {
        previousWide_ = diag::setWideSink({});
        previous_ = diag::setSink([this](std::string_view text) {
            std::lock_guard<std::mutex> lock(mutex_);
            writes_.emplace_back(text);
        });
    }
    ~DebugCapture() {
        diag::setSink(std::move(previous_));
        diag::setWideSink(std::move(previousWide_));
    }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    std::vector<std::string> writes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return writes_;
    }
    std::string all() const {
        std::string joined;
        for (const auto& w : writes())
            joined += w;
        return joined;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        writes_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> writes_;
    diag::Sink previous_;
    diag::WideSink previousWide_;
};
