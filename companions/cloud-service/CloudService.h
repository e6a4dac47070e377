// The stand-in cloud service: accounts, sessions and the replies of the
// service API and the monitoring pages, as plain functions of a request so
// that they can be tested without a socket.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
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
    // randomText yields a fresh unguessable text for each token and session
    // id; by default 32 hexadecimal digits from the system's random source.
    explicit CloudService(std::vector<Account> accounts,
                          std::function<std::string()> randomText = {});

    // Answers one request; safe to call from several threads.
    ServiceReply handle(const ServiceRequest& request);

private:
    struct Session {
        std::string loginName;
        std::string token;
        std::string factory; // entered factory, empty until /Enter
    };

    ServiceReply login(const ServiceRequest& request);
    ServiceReply logout(const ServiceRequest& request);
    ServiceReply enter(const ServiceRequest& request);
    ServiceReply heartpacket(const ServiceRequest& request);
    ServiceReply page(const ServiceRequest& request, const std::string& site,
                      const std::string& pageName);

    // The signed-in session a token belongs to; null for none. Called with
    // the lock held.
    Session* sessionOfToken(const std::string& token);

    std::map<std::string, Account> accounts_;
    std::function<std::string()> randomText_;
    std::mutex mutex_;
    std::map<std::string, Session> sessions_; // by session id (the cookie)
};

// The value of one query parameter (the first of that name), empty if absent.
std::string queryValue(const ServiceRequest& request, const std::string& name);

// The value of one cookie in a Cookie header, empty if absent.
std::string cookieValue(const std::string& header, const std::string& name);

// Text made safe to stand inside HTML.
std::string escapeHtml(const std::string& text);

} // namespace cloudsvc
