// The stand-in cloud service: accounts, sessions and the replies of the
// service API and the monitoring pages, as plain functions of a request so
// that they can be tested without a socket.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace cloudsvc {

struct ServiceRequest {
    std::string method; // "GET", "POST", ...
    std::string path;   // without the query
    // Query parameters in the order they arrive, already decoded.
    std::vector<std::pair<std::string, std::string>> query;
    std::string body;
    std::string cookie; // the Cookie header, empty when absent
};

struct ServiceReply {
    int status = 200;
    std::string contentType = "application/json; charset=utf-8";
    std::string body;
    std::string setCookie; // a Set-Cookie header value, empty for none
};

struct Account {
    std::string loginName;
    std::string password;
    std::string displayName;
    std::set<std::string> factories;
};

// Reads the accounts file's text: {"accounts":[{"loginName","loginPwd",
// "uname","factories":[...]}, ...]}. Throws std::runtime_error with the reason
// when the text is not such a document.
std::vector<Account> parseAccounts(const std::string& text);

// The name of the cookie that binds a sign-in to its session.
inline constexpr const char* sessionCookie = "PVSESSION";

class CloudService {
public:
    using Clock = std::chrono::steady_clock;
    // A session nobody used for this long is gone: its token is dead.
    static constexpr std::chrono::hours sessionIdleLimit{1};

    // randomText yields a fresh unguessable text for each token and session
    // id; by default 32 hexadecimal digits from the system's random source.
    // now tells the time sessions idle by; by default the steady clock.
    explicit CloudService(std::vector<Account> accounts,
                          std::function<std::string()> randomText = {},
                          std::function<Clock::time_point()> now = {});

    // Answers one request; safe to call from several threads.
    ServiceReply handle(const ServiceRequest& request);

    // Sessions held, expired ones not yet swept included.
    size_t sessionCount();

private:
    struct Session {
        std::string id; // the session cookie's value
        std::string loginName;
        std::string factory; // entered factory, empty until /Enter
        Clock::time_point lastUsed;
    };

    ServiceReply login(const ServiceRequest& request);
    ServiceReply logout(const ServiceRequest& request);
    ServiceReply enter(const ServiceRequest& request);
    ServiceReply heartpacket(const ServiceRequest& request);
    ServiceReply page(const ServiceRequest& request, const std::string& site,
                      const std::string& pageName);

    // The live session a token belongs to, marked as used now; null for
    // none. An expired session found on the way is removed. Called with the
    // lock held.
    Session* sessionOfToken(const std::string& token);
    void removeSession(const std::string& token);
    // Removes every expired session, at most once a minute, so that sessions
    // nobody asks for again do not pile up. Called with the lock held.
    void sweepExpired(Clock::time_point now);

    std::map<std::string, Account> accounts_;
    std::function<std::string()> randomText_;
    std::function<Clock::time_point()> now_;
    std::mutex mutex_;
    std::unordered_map<std::string, Session> sessions_;      // by token
    std::unordered_map<std::string, std::string> tokenOfId_; // session id -> token
    Clock::time_point lastSweep_;
};

// The value of one query parameter (the first of that name), empty if absent.
std::string queryValue(const ServiceRequest& request, const std::string& name);

// The value of one cookie in a Cookie header, empty if absent.
std::string cookieValue(const std::string& header, const std::string& name);

// Text made safe to stand inside HTML.
std::string escapeHtml(const std::string& text);

} // namespace cloudsvc
