#include "CloudService.h"

#include <json/json.h>
#include <random>
#include <sstream>
#include <stdexcept>

namespace cloudsvc {

namespace {

struct Named {
    const char* folder;
    const char* chinese;
    const char* english;
};

// The site folder of each machine type.
constexpr Named sites[] = {
    {"KnitUI", "横机", "Flat knitting machine"},
    {"HosieryUI", "袜机", "Sock machine"},
    {"EmbrUI", "刺绣机", "Embroidery machine"},
    {"GloveUI", "手套机", "Glove machine"},
};

// The monitoring pages every site folder holds.
constexpr Named pages[] = {
    {"A_MachineMonitor", "机器状态监控", "Machine status monitoring"},
    {"A_MachineKnitting", "实时编织记录", "Real-time knitting record"},
    {"D_OrderSchedule", "订单进度监控", "Order progress monitoring"},
    {"D_MachineUtilization", "车间效率分析", "Workshop efficiency analysis"},
    {"W_Factory", "工厂总览", "Factory overview"},
};

template <size_t N> const Named* findNamed(const Named (&table)[N], const std::string& folder) {
    for (const Named& n : table)
        if (folder == n.folder)
            return &n;
    return nullptr;
}

// Compact JSON with the text of strings left as UTF-8 (not \u escapes).
std::string writeJson(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

ServiceReply jsonReply(const Json::Value& value, int status = 200) {
    ServiceReply reply;
    reply.status = status;
    reply.body = writeJson(value);
    return reply;
}

// The service's refusal: status text "0" and an explanation in "tips".
ServiceReply refusal(const char* tips, int status = 200) {
    Json::Value value(Json::objectValue);
    value["rt"] = "0";
    value["tips"] = tips;
    return jsonReply(value, status);
}

ServiceReply confirmation(int data) {
    Json::Value value(Json::objectValue);
    value["rt"] = "1";
    value["data"] = data;
    return jsonReply(value);
}

// A request body read as a JSON object; false when it is not one.
bool parseBodyObject(const std::string& body, Json::Value& object) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(body.data(), body.data() + body.size(), &object, &errors) &&
           object.isObject();
}

// A string member of a request object, empty when missing or not a string.
std::string stringMember(const Json::Value& object, const char* name) {
    const Json::Value& member = object[name];
    return member.isString() ? member.asString() : std::string();
}

std::string systemRandomText() {
    static std::mutex m;
    static std::random_device device;
    std::lock_guard<std::mutex> lock(m);
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 4; ++i) {
        uint32_t word = device();
        for (int j = 0; j < 8; ++j, word >>= 4)
            text += digits[word & 0xf];
    }
    return text;
}

ServiceReply notFound() {
    ServiceReply reply;
    reply.status = 404;
    reply.contentType = "text/plain; charset=utf-8";
    reply.body = "Not Found\n";
    return reply;
}

} // namespace

std::vector<Account> parseAccounts(const std::string& text) {
    Json::Value root;
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors))
        throw std::runtime_error("accounts file is not JSON: " + errors);
    if (!root.isObject() || !root["accounts"].isArray())
        throw std::runtime_error("accounts file needs an array \"accounts\"");
    std::vector<Account> accounts;
    for (const Json::Value& entry : root["accounts"]) {
        if (!entry.isObject() || !entry["loginName"].isString() || !entry["loginPwd"].isString())
            throw std::runtime_error("each account needs \"loginName\" and \"loginPwd\" texts");
        Account account;
        account.loginName = entry["loginName"].asString();
        account.password = entry["loginPwd"].asString();
        account.displayName = stringMember(entry, "uname");
        for (const Json::Value& factory : entry["factories"])
            if (factory.isString())
                account.factories.insert(factory.asString());
        accounts.push_back(std::move(account));
    }
    return accounts;
}

std::string queryValue(const ServiceRequest& request, const std::string& name) {
    for (const auto& [key, value] : request.query)
        if (key == name)
            return value;
    return {};
}

std::string cookieValue(const std::string& header, const std::string& name) {
    size_t pos = 0;
    while (pos < header.size()) {
        size_t end = header.find(';', pos);
        if (end == std::string::npos)
            end = header.size();
        std::string pair = header.substr(pos, end - pos);
        size_t first = pair.find_first_not_of(' ');
        if (first != std::string::npos)
            pair.erase(0, first);
        size_t eq = pair.find('=');
        if (eq != std::string::npos && pair.compare(0, eq, name) == 0 && eq == name.size())
            return pair.substr(eq + 1);
        pos = end + 1;
    }
    return {};
}

std::string escapeHtml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

CloudService::CloudService(std::vector<Account> accounts, std::function<std::string()> randomText,
                           std::function<Clock::time_point()> now)
    : randomText_(randomText ? std::move(randomText) : systemRandomText),
      now_(now ? std::move(now) : [] { return Clock::now(); }) {
    for (auto& account : accounts)
        accounts_[account.loginName] = std::move(account);
    lastSweep_ = now_();
}

size_t CloudService::sessionCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sessions_.size();
}

ServiceReply CloudService::handle(const ServiceRequest& request) {
    struct Route {
        const char* path;
        const char* method;
        ServiceReply (CloudService::*handler)(const ServiceRequest&);
    };
    static const Route routes[] = {
        {"/Login", "POST", &CloudService::login},
        {"/Logout", "POST", &CloudService::logout},
        {"/Enter", "POST", &CloudService::enter},
        {"/heartpacket", "GET", &CloudService::heartpacket},
    };
    for (const Route& route : routes) {
        if (request.path != route.path)
            continue;
        if (request.method != route.method)
            return refusal("请求方法错误", 405);
        return (this->*route.handler)(request);
    }

    // Monitoring pages: /<site folder>/<page name>.html
    const std::string& path = request.path;
    const size_t slash = path.find('/', 1);
    const std::string suffix = ".html";
    if (request.method == "GET" && path.size() > 1 && path[0] == '/' &&
        slash != std::string::npos && path.size() > slash + suffix.size() &&
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
        return page(request, path.substr(1, slash - 1),
                    path.substr(slash + 1, path.size() - slash - 1 - suffix.size()));
    return notFound();
}

CloudService::Session* CloudService::sessionOfToken(const std::string& token) {
    const auto found = sessions_.find(token);
    if (found == sessions_.end())
        return nullptr;
    const Clock::time_point now = now_();
    if (now - found->second.lastUsed > sessionIdleLimit) {
        removeSession(token);
        return nullptr;
    }
    found->second.lastUsed = now;
    return &found->second;
}

void CloudService::removeSession(const std::string& token) {
    const auto found = sessions_.find(token);
    if (found == sessions_.end())
        return;
    tokenOfId_.erase(found->second.id);
    sessions_.erase(found);
}

void CloudService::sweepExpired(Clock::time_point now) {
    if (now - lastSweep_ < std::chrono::minutes(1))
        return;
    lastSweep_ = now;
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        if (now - it->second.lastUsed > sessionIdleLimit) {
            tokenOfId_.erase(it->second.id);
            it = sessions_.erase(it);
        } else {
            ++it;
        }
    }
}

ServiceReply CloudService::login(const ServiceRequest& request) {
    Json::Value body;
    if (!parseBodyObject(request.body, body))
        return refusal("请求格式错误");
    const auto account = accounts_.find(stringMember(body, "loginName"));
    if (account == accounts_.end() || account->second.password != stringMember(body, "loginPwd"))
        return refusal("账号或密码错误");

    const std::string token = randomText_();
    Session session;
    session.id = randomText_();
    session.loginName = account->first;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        session.lastUsed = now_();
        sweepExpired(session.lastUsed);
        tokenOfId_[session.id] = token;
        sessions_[token] = session;
    }

    // "data" carries the session object as text.
    Json::Value data(Json::objectValue);
    data["Token"] = token;
    data["uname"] = account->second.displayName;
    Json::Value value(Json::objectValue);
    value["rt"] = "1";
    value["data"] = writeJson(data);
    ServiceReply reply = jsonReply(value);
    reply.setCookie = std::string(sessionCookie) + "=" + session.id + "; Path=/; HttpOnly";
    return reply;
}

ServiceReply CloudService::logout(const ServiceRequest& request) {
    // No token in the address: the cookie set at sign-in names the session.
    const std::string id = cookieValue(request.cookie, sessionCookie);
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = tokenOfId_.find(id);
    const std::string token = found == tokenOfId_.end() ? std::string() : found->second;
    if (!sessionOfToken(token))
        return refusal("未登录或登录已失效");
    removeSession(token);
    return confirmation(1);
}

ServiceReply CloudService::enter(const ServiceRequest& request) {
    Json::Value body;
    if (!parseBodyObject(request.body, body))
        return refusal("请求格式错误");
    const std::string factory = stringMember(body, "fid");
    std::lock_guard<std::mutex> lock(mutex_);
    Session* session = sessionOfToken(queryValue(request, "Token"));
    if (!session)
        return refusal("登录已失效,请重新登录");
    const auto account = accounts_.find(session->loginName);
    if (account == accounts_.end() || account->second.factories.count(factory) == 0)
        return refusal("工厂不存在或无权访问");
    session->factory = factory;
    return confirmation(1);
}

ServiceReply CloudService::heartpacket(const ServiceRequest& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!sessionOfToken(queryValue(request, "Token"))) {
        Json::Value value(Json::objectValue);
        value["rt"] = "0";
        value["data"] = 0;
        value["tips"] = "登录已失效";
        return jsonReply(value);
    }
    return confirmation(1);
}

ServiceReply CloudService::page(const ServiceRequest& request, const std::string& siteFolder,
                                const std::string& pageName) {
    const Named* site = findNamed(sites, siteFolder);
    const Named* monitor = findNamed(pages, pageName);
    if (!site || !monitor)
        return notFound();

    std::string who;
    bool live = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (const Session* session = sessionOfToken(queryValue(request, "token"))) {
            live = true;
            const auto account = accounts_.find(session->loginName);
            who = (account != accounts_.end() ? account->second.displayName : session->loginName);
            if (!session->factory.empty())
                who += " · " + session->factory;
        }
    }

    std::ostringstream rows;
    for (const auto& [key, value] : request.query)
        rows << "<tr><th>" << escapeHtml(key) << "</th><td>" << escapeHtml(value) << "</td></tr>\n";
    if (request.query.empty())
        rows << "<tr><td colspan=\"2\">(无参数 / no parameters)</td></tr>\n";

    std::ostringstream html;
    html << "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">\n"
         << "<title>" << site->chinese << " · " << monitor->chinese << "</title>\n"
         << "<style>\n"
            "body{margin:0;padding:3vh 3vw;font-family:sans-serif;background:#101820;"
            "color:#e8eef2;}\n"
            "h1{font-size:6vh;margin:0 0 1vh;}\n"
            "h2{font-size:4vh;margin:0 0 2vh;color:#9fb3c8;}\n"
            "#clock{font-size:9vh;font-weight:bold;font-variant-numeric:tabular-nums;}\n"
            "#ticks{font-size:3vh;color:#9fb3c8;}\n"
            ".token{font-size:4.5vh;padding:1vh 2vw;display:inline-block;margin:2vh 0;}\n"
            ".live{background:#1e7d3a;}\n.dead{background:#a32020;}\n"
            "table{font-size:3.5vh;border-collapse:collapse;}\n"
            "th,td{border:1px solid #3a4a5a;padding:0.5vh 1.5vw;text-align:left;"
            "word-break:break-all;}\n"
            "</style></head>\n<body>\n"
         << "<h1 id=\"page\">" << site->chinese << " · " << monitor->chinese << "</h1>\n"
         << "<h2>" << site->english << " · " << monitor->english << " (" << site->folder << "/"
         << monitor->folder << ".html)</h2>\n"
         << "<div id=\"clock\">--:--:--</div>\n<div id=\"ticks\">running 0 s</div>\n"
         << "<div id=\"token\" class=\"token " << (live ? "live" : "dead") << "\">"
         << (live ? "令牌有效 / token live" : "令牌无效 / token not live")
         << (who.empty() ? "" : " · " + escapeHtml(who)) << "</div>\n"
         << "<table id=\"query\">\n"
         << rows.str() << "</table>\n"
         << "<script>\n"
            "var started = Date.now();\n"
            "function pad(n) { return (n < 10 ? '0' : '') + n; }\n"
            "function tick() {\n"
            "  var d = new Date();\n"
            "  document.getElementById('clock').textContent =\n"
            "    pad(d.getHours()) + ':' + pad(d.getMinutes()) + ':' + pad(d.getSeconds());\n"
            "  document.getElementById('ticks').textContent =\n"
            "    'running ' + Math.floor((Date.now() - started) / 1000) + ' s';\n"
            "}\n"
            "tick();\nsetInterval(tick, 1000);\n"
            "</script>\n</body></html>\n";

    ServiceReply reply;
    reply.contentType = "text/html; charset=utf-8";
    reply.body = html.str();
    return reply;
}

} // namespace cloudsvc
