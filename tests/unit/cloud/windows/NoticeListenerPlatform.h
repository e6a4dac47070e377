// The shell client of the Windows suites: a window of a class of its own
// (the address the sender is given) that keeps every WM_COPYDATA notice.
#pragma once

#include "ShellClientWindow.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

class NoticeListener {
public:
    NoticeListener() : class_(nextClass()), window_(class_) {}

    const std::string& path() const { return class_; }

    // Every notice as the identifier, the length and the bytes.
    std::vector<std::string> raw() {
        std::vector<std::string> all;
        for (const auto& [id, bytes] : window_.notices()) {
            std::string record(8, '\0');
            const uint32_t header[2] = {static_cast<uint32_t>(id),
                                        static_cast<uint32_t>(bytes.size())};
            std::memcpy(record.data(), header, sizeof header);
            all.push_back(record + bytes);
        }
        return all;
    }
    std::vector<std::string> texts() {
        std::vector<std::string> out;
        for (const auto& r : raw())
            out.push_back(r.substr(8));
        return out;
    }

private:
    static std::string nextClass() {
        static std::atomic<int> count{0};
        return "Panoview_test_shellclient_" + std::to_string(GetCurrentProcessId()) + "_" +
               std::to_string(count++);
    }

    std::string class_;
    ShellClientWindow window_;
};
