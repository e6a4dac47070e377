// The messages a scripted Chromium sends a page watch, for the fakes of the
// suites (the page watch's unit suite and the stand-in browser under Wine):
// one page, target "T", attached as session "S".
#pragma once

#include <json/json.h>

#include <string>

namespace chromium_messages {

// The reply to a command with its result, in the command's session.
inline Json::Value reply(const Json::Value& command, const Json::Value& result) {
    Json::Value m(Json::objectValue);
    m["id"] = command["id"];
    m["result"] = result;
    if (command.isMember("sessionId"))
        m["sessionId"] = command["sessionId"];
    return m;
}

// An event of the browser (an empty session) or of the page's session.
inline Json::Value event(const std::string& method, const Json::Value& params,
                         const std::string& session) {
    Json::Value m(Json::objectValue);
    m["method"] = method;
    m["params"] = params;
    if (!session.empty())
        m["sessionId"] = session;
    return m;
}

// Page.navigate's result for the navigation's loader.
inline Json::Value navigation(const std::string& loader) {
    Json::Value result(Json::objectValue);
    result["frameId"] = "T";
    result["loaderId"] = loader;
    return result;
}

// Network.requestWillBeSent of the main document of the loader.
inline Json::Value documentRequest(const std::string& loader) {
    Json::Value sent(Json::objectValue);
    sent["requestId"] = loader;
    sent["loaderId"] = loader;
    sent["frameId"] = "T";
    sent["type"] = "Document";
    return sent;
}

// Network.responseReceived of that document: its server answered status.
inline Json::Value documentResponse(const std::string& loader, int status, const std::string& url) {
    Json::Value response = documentRequest(loader);
    response["response"]["status"] = status;
    response["response"]["url"] = url;
    return response;
}

// Page.frameNavigated of the main frame: the loader's document at url (an
// error page names the address that failed as unreachable).
inline Json::Value mainFrameNavigated(const std::string& loader, const std::string& url,
                                      const std::string& unreachable = {}) {
    Json::Value p(Json::objectValue);
    p["frame"]["id"] = "T";
    p["frame"]["loaderId"] = loader;
    p["frame"]["url"] = url;
    if (!unreachable.empty())
        p["frame"]["unreachableUrl"] = unreachable;
    return p;
}

} // namespace chromium_messages
