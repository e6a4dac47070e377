#include "BrowserLaunch.h"

#include "DevTools.h"

#include <json/json.h>

#include <memory>

std::vector<std::string> pageBrowserSwitches() {
    return {
        "--no-first-run",
        "--no-default-browser-check",
        "--disable-session-crashed-bubble",
        "--disable-background-networking",
        "--disable-component-update",
        "--disable-sync",
        // Brovia drives the page over a pipe of its own, never a TCP port
        // another local user could reach.
        "--remote-debugging-pipe",
        // A wall page runs at full speed whether or not it is covered, and
        // no dialog or bubble waits for a click that never comes.
        "--disable-background-timer-throttling",
        "--disable-renderer-backgrounding",
        "--disable-backgrounding-occluded-windows",
        "--disable-hang-monitor",
        "--noerrdialogs",
        "--deny-permission-prompts",
        // No spare renderer kept ready for a navigation that a wall page
        // seldom makes, and no omnibox popup page made beside every window
        // (kiosk windows have no omnibox): each costs a renderer.
        "--disable-features=Translate,TranslateUI,TouchpadOverscrollHistoryNavigation,"
        "SpareRendererForSitePerProcess,WebUIOmniboxPopup,WebUIOmniboxFullPopup,"
        "WebUIOmniboxAimPopup",
        "--overscroll-history-navigation=0",
        "--disable-pinch",
    };
}

std::string preferencesWithCleanExit(const std::string& text) {
    std::optional<Json::Value> parsed = devtools::parseObject(text);
    if (!parsed || (parsed->isMember("profile") && !(*parsed)["profile"].isObject()))
        return kWallPreferences;
    Json::Value& preferences = *parsed;
    preferences["profile"]["exit_type"] = "Normal";
    preferences["profile"]["exited_cleanly"] = true;
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    return Json::writeString(writer, preferences);
}

namespace {

std::string unquoted(std::string path) {
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
        return path.substr(1, path.size() - 2);
    return path;
}

// The browser of one image name: App Paths, then the install folders.
std::string findImage(const BrowserLookups& lookups, const std::string& image,
                      const std::string& folder, std::string& lookedAt) {
    for (bool machine : {true, false}) {
        const std::string path = unquoted(lookups.appPath(machine, image));
        if (!path.empty() && lookups.isFile(path))
            return path;
    }
    lookedAt += (lookedAt.empty() ? "" : ", ") + image + " in App Paths";
    for (const char* base : {"ProgramFiles(x86)", "ProgramFiles", "LOCALAPPDATA"}) {
        const std::string root = lookups.environment(base);
        if (root.empty())
            continue;
        const std::string path = root + "\\" + folder + "\\Application\\" + image;
        if (lookups.isFile(path))
            return path;
        lookedAt += ", " + path;
    }
    return {};
}

bool endsWithImage(const std::string& path, const std::string& image) {
    if (path.size() < image.size())
        return false;
    const size_t at = path.size() - image.size();
    if (at > 0 && path[at - 1] != '\\' && path[at - 1] != '/')
        return false;
    for (size_t i = 0; i < image.size(); ++i) {
        const char c = path[at + i];
        if ((c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) != image[i])
            return false;
    }
    return true;
}

} // namespace

BrowserChoice chooseBrowser(const BrowserLookups& lookups) {
    BrowserChoice choice;
    if (const std::string named = lookups.environment("BROVIA_BROWSER"); !named.empty()) {
        if (lookups.isFile(named))
            choice.path = named;
        else
            choice.lookedAt = named + " (BROVIA_BROWSER)";
        return choice;
    }
    choice.path = findImage(lookups, "msedge.exe", "Microsoft\\Edge", choice.lookedAt);
    if (choice.path.empty())
        choice.path = findImage(lookups, "chrome.exe", "Google\\Chrome", choice.lookedAt);
    if (!choice.path.empty())
        choice.lookedAt.clear();
    return choice;
}

std::string policyKey(const std::string& browserPath) {
    if (endsWithImage(browserPath, "msedge.exe"))
        return "SOFTWARE\\Policies\\Microsoft\\Edge";
    if (endsWithImage(browserPath, "chrome.exe"))
        return "SOFTWARE\\Policies\\Google\\Chrome";
    return {};
}

std::string devToolsForbiddenBy(const std::string& browserPath, const PolicyLookup& policy) {
    const std::string key = policyKey(browserPath);
    if (key.empty())
        return {};
    for (bool machine : {true, false}) {
        const std::string where = std::string(machine ? "HKLM\\" : "HKCU\\") + key + "\\";
        if (policy(machine, key, "RemoteDebuggingAllowed") == 0u)
            return "the policy " + where + "RemoteDebuggingAllowed=0 forbids DevTools";
        if (policy(machine, key, "DeveloperToolsAvailability") == 2u)
            return "the policy " + where + "DeveloperToolsAvailability=2 forbids DevTools";
    }
    return {};
}

uint32_t profileNumber(const PagePlacement& page) {
    const std::string key = std::to_string(page.left) + "," + std::to_string(page.top) + "," +
                            std::to_string(page.right) + "," + std::to_string(page.bottom);
    uint32_t hash = 2166136261u;
    for (unsigned char c : key) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

bool coversAMonitor(const PagePlacement& page, const std::vector<Rect>& monitors) {
    const Rect rect{page.left, page.top, page.right, page.bottom};
    for (const Rect& monitor : monitors)
        if (monitor == rect)
            return true;
    return false;
}

std::vector<std::string> windowsBrowserArguments(const std::string& browser,
                                                 const std::string& profile,
                                                 const PagePlacement& page, uintptr_t reads,
                                                 uintptr_t writes) {
    std::vector<std::string> args = {browser, "--user-data-dir=" + profile};
    for (std::string& word : pageBrowserSwitches())
        args.push_back(std::move(word));
    args.push_back("--remote-debugging-io-pipes=" + std::to_string(reads) + "," +
                   std::to_string(writes));
    args.push_back("--app=about:blank");
    args.push_back("--window-position=" + std::to_string(page.left) + "," +
                   std::to_string(page.top));
    args.push_back("--window-size=" + std::to_string(page.width()) + "," +
                   std::to_string(page.height()));
    if (page.zoomPercent > 0) {
        const int whole = page.zoomPercent / 100, hundredths = page.zoomPercent % 100;
        args.push_back("--force-device-scale-factor=" + std::to_string(whole) + "." +
                       (hundredths < 10 ? "0" : "") + std::to_string(hundredths));
    }
    return args;
}
