// A scripted cloud service for the login dialog's suites: an IHttp that
// answers each service path ("/Login", "/Enter", "/Logout") with the reply
// scripted for it, records every request, and may be used from several
// threads at once.
#pragma once

#include "FakeHttp.h"
#include "ServiceText.h"
#include "cloud/LSystem.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace scripted {

inline const std::string kLoginOk =
    serviceText(u8R"({"rt":"1","data":"{\"Token\":\"T1\",\"uname\":\"王厂长\"}"})");
inline const std::string kLoginRefused = serviceText(u8R"({"rt":"0","tips":"账号或密码错误"})");
inline const std::string kOk = R"({"rt":"1","data":1})";

class Cloud {
public:
    // The reply to every later request on the path; an empty reply stands
    // for a failed exchange.
    void answer(const std::string& path, std::string reply) {
        std::lock_guard<std::mutex> lock(mutex_);
        replies_[path] = std::move(reply);
    }
    // "POST /Enter?Token=T1" and the like, in the order they came.
    std::vector<std::string> requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    std::vector<std::string> bodies() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return bodies_;
    }
    std::vector<std::string> notices() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return notices_;
    }
    // A service client whose exchanges and shell-client notices go here.
    std::unique_ptr<LSystem> client() {
        return std::make_unique<LSystem>(std::make_unique<Http>(*this),
                                         [this](const std::string& text) {
                                             std::lock_guard<std::mutex> lock(mutex_);
                                             notices_.push_back(text);
                                             return true;
                                         });
    }

private:
    // FakeHttp's other operations, with Request answered per path.
    class Http : public FakeHttp {
    public:
        explicit Http(Cloud& cloud) : FakeHttp(&cloud.unscripted_), cloud_(cloud) {}
        std::string Request(const char* url, int32_t method, const char* body,
                            const char*) override {
            return cloud_.request(url, method, body);
        }

    private:
        Cloud& cloud_;
    };

    std::string request(const std::string& url, int32_t method, const char* body) {
        // The path begins after the service address, which holds no '/'
        // past its "//".
        const size_t start = url.find('/', url.find("//") + 2);
        const std::string target = url.substr(start);
        const std::string path = target.substr(0, target.find('?'));
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back((method == 1 ? "GET " : "POST ") + target);
        bodies_.push_back(body ? body : "");
        return replies_[path];
    }

    std::string unscripted_;
    mutable std::mutex mutex_;
    std::map<std::string, std::string> replies_;
    std::vector<std::string> requests_;
    std::vector<std::string> bodies_;
    std::vector<std::string> notices_;
};

} // namespace scripted
