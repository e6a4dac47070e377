#include "PageWatch.h"

#include "common/HiddenToken.h"

#include <json/reader.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <memory>
#include <regex>

namespace {

using Clock = devtools::Clock;

bool startsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// "scheme://authority" of an address, in lower case; empty when it has none.
std::string originOf(const std::string& url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos)
        return {};
    const size_t end = url.find_first_of("/?#", scheme + 3);
    return lower(url.substr(0, end));
}

// Another origin's sign-in page: the wall was sent away to log in.
bool loginPageOfAnotherOrigin(const std::string& page, const std::string& landed) {
    const std::string origin = originOf(landed);
    if (origin.empty() || origin == originOf(page))
        return false;
    static const std::regex login(
        "(^|[^a-z])(log-?in|log-?on|sign-?in|sign-?on|auth|authorize|sso|oauth2?|saml|cas)"
        "([^a-z]|$)",
        std::regex::icase);
    return std::regex_search(landed.substr(origin.size()), login);
}

bool isHttp(const std::string& url) {
    const std::string l = lower(url.substr(0, 8));
    return startsWith(l, "http://") || startsWith(l, "https://");
}

int64_t millis(Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

// A load refused over the server's certificate, as Chromium names it.
bool certificateError(const std::string& errorText) {
    return startsWith(errorText, "net::ERR_CERT_");
}

// What a text of the page (a dialog's message) says, cut to one short line.
std::string quote(const std::string& text) {
    std::string out;
    for (char ch : text.substr(0, 80))
        out += static_cast<unsigned char>(ch) < 0x20 ? ' ' : ch;
    return "\"" + out + (text.size() > 80 ? "...\"" : "\"");
}

// The bytes of base64 text (as a screenshot's data comes); empty for text
// that is not base64.
std::string fromBase64(std::string_view text) {
    std::string out;
    uint32_t bits = 0;
    int held = 0;
    for (char ch : text) {
        int v;
        if (ch >= 'A' && ch <= 'Z')
            v = ch - 'A';
        else if (ch >= 'a' && ch <= 'z')
            v = ch - 'a' + 26;
        else if (ch >= '0' && ch <= '9')
            v = ch - '0' + 52;
        else if (ch == '+')
            v = 62;
        else if (ch == '/')
            v = 63;
        else if (ch == '=')
            break;
        else
            return {};
        bits = (bits << 6) | static_cast<uint32_t>(v);
        held += 6;
        if (held >= 8) {
            held -= 8;
            out += static_cast<char>((bits >> held) & 0xff);
        }
    }
    return out;
}

uint32_t bigEndian32(const unsigned char* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

int paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

} // namespace

std::optional<uint32_t> PageWatch::singleColour(std::string_view png) {
    static const unsigned char signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    const auto* bytes = reinterpret_cast<const unsigned char*>(png.data());
    if (png.size() < 8 || !std::equal(signature, signature + 8, bytes))
        return std::nullopt;
    uint32_t width = 0, height = 0;
    int channels = 0;
    std::string packed;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = bigEndian32(bytes + at);
        const std::string_view type = png.substr(at + 4, 4);
        if (length > png.size() - at - 12)
            return std::nullopt;
        const unsigned char* data = bytes + at + 8;
        if (type == "IHDR" && length >= 13) {
            width = bigEndian32(data);
            height = bigEndian32(data + 4);
            const int depth = data[8], colourType = data[9], interlace = data[12];
            channels = colourType == 0   ? 1
                       : colourType == 4 ? 2
                       : colourType == 2 ? 3
                       : colourType == 6 ? 4
                                         : 0;
            if (depth != 8 || interlace != 0 || channels == 0 || width == 0 || height == 0 ||
                width > 65536 || height > 65536)
                return std::nullopt;
        } else if (type == "IDAT") {
            packed.append(png.substr(at + 8, length));
        } else if (type == "IEND") {
            break;
        }
        at += 12 + size_t(length);
    }
    if (channels == 0 || packed.empty())
        return std::nullopt;
    // Row by row: each row is inflated, its filter undone, and its pixels
    // compared with the first; the first that differs ends the reading (a
    // page that draws is told from a blank one in its first rows).
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return std::nullopt;
    const std::unique_ptr<z_stream, int (*)(z_stream*)> end(&z, inflateEnd);
    z.next_in = reinterpret_cast<Bytef*>(packed.data());
    z.avail_in = static_cast<uInt>(packed.size());
    const size_t stride = size_t(width) * channels;
    std::vector<unsigned char> line(stride + 1), previous(stride, 0), row(stride);
    std::optional<uint32_t> colour;
    for (uint32_t y = 0; y < height; ++y) {
        z.next_out = line.data();
        z.avail_out = static_cast<uInt>(line.size());
        while (z.avail_out > 0) {
            const int result = inflate(&z, Z_NO_FLUSH);
            if (result != Z_OK && !(result == Z_STREAM_END && z.avail_out == 0))
                return std::nullopt;
        }
        const int filter = line[0];
        for (size_t x = 0; x < stride; ++x) {
            const int a = x >= size_t(channels) ? row[x - channels] : 0;
            const int b = previous[x];
            const int c = x >= size_t(channels) ? previous[x - channels] : 0;
            int predicted = 0;
            switch (filter) {
            case 0:
                break;
            case 1:
                predicted = a;
                break;
            case 2:
                predicted = b;
                break;
            case 3:
                predicted = (a + b) / 2;
                break;
            case 4:
                predicted = paeth(a, b, c);
                break;
            default:
                return std::nullopt;
            }
            row[x] = static_cast<unsigned char>(line[1 + x] + predicted);
        }
        for (size_t x = 0; x < stride; x += channels) {
            const unsigned char* p = row.data() + x;
            uint32_t rgba = 0;
            switch (channels) {
            case 1:
                rgba = uint32_t(p[0]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[0]) << 8 | 0xff;
                break;
            case 2:
                rgba = uint32_t(p[0]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[0]) << 8 | p[1];
                break;
            case 3:
                rgba = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | 0xff;
                break;
            default:
                rgba = bigEndian32(p);
            }
            if (colour && *colour != rgba)
                return std::nullopt;
            colour = rgba;
        }
        previous.swap(row);
    }
    return colour;
}

namespace {} // namespace

const char* PageWatch::wallScript() {
    // Runs in every document of the page (and once in the one already shown
    // when Brovia attaches). The pointer is hidden by a style sheet that
    // turns every element's cursor off; any motion, click or wheel turns it
    // back on for the next three seconds, so a mouse user can still work
    // the page.
    return R"JS((() => {
  if (window.__broviaWall) return;
  window.__broviaWall = true;
  addEventListener('contextmenu', e => e.preventDefault(), true);
  let sheet = null, timer = 0;
  const hide = () => {
    const home = document.head || document.documentElement;
    if (!home) { timer = setTimeout(hide, 500); return; }
    if (!sheet) {
      sheet = document.createElement('style');
      sheet.textContent = '*, *::before, *::after { cursor: none !important; }';
    }
    sheet.media = 'all';
    if (!sheet.isConnected) home.appendChild(sheet);
  };
  const moved = () => {
    if (sheet) sheet.media = 'not all';
    clearTimeout(timer);
    timer = setTimeout(hide, 3000);
  };
  for (const type of ['mousemove', 'mousedown', 'wheel', 'touchstart'])
    addEventListener(type, moved, {capture: true, passive: true});
  timer = setTimeout(hide, 3000);
  // A wall has no one to press a print dialog's buttons: printing does
  // nothing, and Brovia is told.
  window.print = () => {
    try { __broviaPrinted(String(location.href)); } catch (e) {}
  };
})();)JS";
}

std::optional<PageWatchTimings> PageWatchTimings::withShortRules(std::string_view seconds) {
    int value = 0;
    const auto [end, error] =
        std::from_chars(seconds.data(), seconds.data() + seconds.size(), value);
    if (error != std::errc() || end != seconds.data() + seconds.size() || value < 1 || value > 3600)
        return std::nullopt;
    PageWatchTimings t;
    t.wanderedFor = std::chrono::seconds(value);
    t.stillFor = std::chrono::seconds(value);
    t.shotEvery = std::max<ms>(std::chrono::seconds(1), t.stillFor / 4);
    return t;
}

PageWatch::PageWatch(std::string url, PageWatchPort port, PageWatchTimings timings)
    : url_(std::move(url)), port_(std::move(port)), t_(timings),
      session_([this](const std::string& m) { port_.send(m); },
               [this](const devtools::Event& e) { event(e); }),
      homeOrigin_(originOf(url_)), backoff_(t_.firstRetry) {}

void PageWatch::call(const std::string& method, const Json::Value& params,
                     Clock::time_point deadline,
                     std::function<void(const devtools::Reply&)> onReply) {
    session_.call(method, params, sessionId_, deadline, std::move(onReply));
}

void PageWatch::browserCall(const std::string& method, const Json::Value& params,
                            Clock::time_point now,
                            std::function<void(const devtools::Reply&)> onReply) {
    session_.call(method, params, {}, now + t_.callDeadline,
                  [this, method, onReply = std::move(onReply)](const devtools::Reply& r) {
                      if (!r.answered) {
                          if (port_.browserHung)
                              port_.browserHung(method + " unanswered");
                          return;
                      }
                      if (onReply)
                          onReply(r);
                  });
}

void PageWatch::start(Clock::time_point now) {
    started_ = now;
    stallAt_ = now + t_.stallAfter;
    report(PageCondition::Loading, "starting");
    Json::Value discover(Json::objectValue);
    discover["discover"] = true;
    browserCall("Target.setDiscoverTargets", discover, now, nullptr);
    attach(now);
}

void PageWatch::attach(Clock::time_point now) {
    phase_ = Phase::Attaching;
    const uint64_t generation = generation_;
    browserCall("Target.getTargets", Json::Value(), now,
                [this, generation](const devtools::Reply& r) {
                    if (generation != generation_ || phase_ != Phase::Attaching)
                        return;
                    for (const Json::Value& info : r.result["targetInfos"])
                        if (info["type"].asString() == "page") {
                            attachTo(info["targetId"].asString(), r.at);
                            return;
                        }
                    if (firstAttach_ && !window_)
                        return; // the command line's page is still coming
                    // A window of its own starts empty and gets the address
                    // once its watch is set up, as a page's own Chromium
                    // does: a load begun before the watch's requests were
                    // paused for it would meet a server's user name and
                    // password box that no one cancels.
                    Json::Value params(Json::objectValue);
                    params["url"] = window_ ? std::string("about:blank") : url_;
                    if (window_) {
                        params["newWindow"] = true;
                        params["left"] = window_->left;
                        params["top"] = window_->top;
                        params["width"] = window_->width;
                        params["height"] = window_->height;
                    }
                    browserCall("Target.createTarget", params, r.at,
                                [this, generation](const devtools::Reply& created) {
                                    if (generation == generation_ && created.ok)
                                        attachTo(created.result["targetId"].asString(), created.at);
                                });
                });
}

void PageWatch::attachTo(const std::string& targetId, Clock::time_point now) {
    if (!targetId_.empty() && targetId == targetId_ && !sessionId_.empty())
        return;
    targetId_ = targetId;
    Json::Value params(Json::objectValue);
    params["targetId"] = targetId;
    params["flatten"] = true;
    const uint64_t generation = generation_;
    browserCall("Target.attachToTarget", params, now, [this, generation](const devtools::Reply& r) {
        if (generation != generation_)
            return;
        if (!r.ok || !r.result["sessionId"].isString()) {
            if (port_.browserHung)
                port_.browserHung("Target.attachToTarget refused: " + r.error);
            return;
        }
        sessionId_ = r.result["sessionId"].asString();
        setUp(r.at);
        if (window_)
            placeWindow(r.at);
    });
}

// The new window was made over the rectangle; full screen there, on the
// monitor that holds it (Chromium runs in kiosk mode: no bars, no bubble).
void PageWatch::placeWindow(Clock::time_point now) {
    Json::Value params(Json::objectValue);
    params["targetId"] = targetId_;
    // The page's load may begin meanwhile; only another target makes the
    // answer stale.
    browserCall("Browser.getWindowForTarget", params, now,
                [this, target = targetId_](const devtools::Reply& r) {
                    if (target != targetId_ || !r.ok)
                        return;
                    Json::Value bounds(Json::objectValue);
                    bounds["windowId"] = r.result["windowId"];
                    bounds["bounds"]["windowState"] = "fullscreen";
                    browserCall("Browser.setWindowBounds", bounds, r.at, nullptr);
                });
}

void PageWatch::setUp(Clock::time_point now) {
    if (window_) {
        // A window of its own was just made, empty: the page is asked for
        // once it is set up.
        beginLoad(now);
        crashHandled_ = false;
    }
    const uint64_t generation = generation_;
    auto hungIfUnanswered = [this, generation](const devtools::Reply& r) {
        if (!r.answered && generation == generation_)
            hung("a set-up call went unanswered", r.at);
    };
    const Clock::time_point deadline = now + t_.callDeadline;
    loadWaitsForWindow_ = false;
    windowWaitUntil_.reset();
    if (window_ && port_.windowMade) {
        // The empty window is known by its target's title until its window
        // is found; the page's load waits for that.
        Json::Value title(Json::objectValue);
        title["expression"] =
            "document.title = " + devtools::compact(Json::Value(windowTitle(targetId_)));
        call("Runtime.evaluate", title, deadline,
             [this, target = targetId_](const devtools::Reply& r) {
                 if (r.ok && target == targetId_ && windowWaitUntil_)
                     port_.windowMade(target);
             });
        windowWaitUntil_ = now + t_.windowWait;
    }
    if (window_ && window_->zoomPercent > 0) {
        // Before the page's load is asked for: its first layout is already
        // at the zoom. Width and height 0 follow the window's own size.
        const double factor = window_->zoomPercent / 100.0;
        Json::Value zoom(Json::objectValue);
        zoom["width"] = 0;
        zoom["height"] = 0;
        zoom["deviceScaleFactor"] = factor;
        zoom["scale"] = factor;
        zoom["mobile"] = false;
        call("Emulation.setDeviceMetricsOverride", zoom, deadline, hungIfUnanswered);
    }
    // A page loaded afresh is asked for once the page's and the network's
    // events are on: a renderer busy with a navigation answers the enables
    // only after it, and the load's own events would go unseen.
    const bool loadAfresh = !firstAttach_ || window_;
    auto enabled = std::make_shared<int>(0);
    for (const char* domain :
         {"Page.enable", "Network.enable", "Inspector.enable", "Runtime.enable"}) {
        const bool loadWaits = std::string_view(domain) == "Page.enable" ||
                               std::string_view(domain) == "Network.enable";
        call(domain, Json::Value(), deadline,
             [this, generation, hungIfUnanswered, enabled, loadAfresh,
              loadWaits](const devtools::Reply& r) {
                 hungIfUnanswered(r);
                 if (loadAfresh && loadWaits && r.answered && generation == generation_ &&
                     ++*enabled == 2)
                     loadTheNewWindow(r.at);
             });
    }
    // A server's user name and password box is cancelled: each request is
    // paused on its way out and let go at once (Fetch.requestPaused), its
    // authentication asked of the watch (Fetch.authRequired).
    Json::Value fetch(Json::objectValue);
    fetch["handleAuthRequests"] = true;
    fetch["patterns"][0]["urlPattern"] = "*";
    call("Fetch.enable", fetch, deadline, hungIfUnanswered);
    // Downloads go nowhere; Chromium still tells of each. A browser that
    // several pages share refuses the browser's call to a page's watch: the
    // page's own (older) one says the same for its browser context.
    Json::Value downloads(Json::objectValue);
    downloads["behavior"] = "deny";
    downloads["eventsEnabled"] = true;
    session_.call("Browser.setDownloadBehavior", downloads, {}, deadline, nullptr);
    Json::Value pageDownloads(Json::objectValue);
    pageDownloads["behavior"] = "deny";
    call("Page.setDownloadBehavior", pageDownloads, deadline, nullptr);
    Json::Value binding(Json::objectValue);
    binding["name"] = kPrintBinding;
    call("Runtime.addBinding", binding, deadline, hungIfUnanswered);
    Json::Value script(Json::objectValue);
    script["source"] = wallScript();
    call("Page.addScriptToEvaluateOnNewDocument", script, deadline, hungIfUnanswered);
    Json::Value now_(Json::objectValue);
    now_["expression"] = wallScript();
    call("Runtime.evaluate", now_, deadline, hungIfUnanswered);
    if (loadAfresh) {
        // The page went and came back, its browser was never given its
        // address, or its window is new: it is loaded afresh once the
        // enables are answered.
        return;
    }
    // The command line's load, under way since before the watch: its
    // probes start now, whether the first look is answered or not.
    probeAt_ = now + t_.probeEvery;
    firstAttach_ = false;
    phase_ = Phase::Loading;
    targetsOwnLoad_ = true;
    lookAtTheDocument(deadline);
}

// Asks what the target's document has come to; the answer goes to inspect.
void PageWatch::lookAtTheDocument(Clock::time_point deadline) {
    Json::Value look(Json::objectValue);
    look["expression"] = "JSON.stringify([location.href, document.readyState,"
                         " (performance.getEntriesByType('navigation')[0] || {}).responseStatus"
                         " || 0])";
    look["returnByValue"] = true;
    const uint64_t generation = generation_;
    call("Runtime.evaluate", look, deadline, [this, generation](const devtools::Reply& r) {
        if (generation == generation_ && r.answered)
            inspect(r);
    });
}

// What the command line's first load has come to by the time Brovia is
// attached: its events so far were not seen.
void PageWatch::inspect(const devtools::Reply& reply) {
    if (phase_ != Phase::Loading)
        return;
    Json::Value facts;
    std::string errors;
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    const std::string text = reply.result["result"]["value"].asString();
    if (!reply.ok || !reader->parse(text.data(), text.data() + text.size(), &facts, &errors) ||
        !facts.isArray() || facts.size() != 3)
        return; // the events and the stall rule tell
    const std::string href = facts[0].asString();
    const bool complete = facts[1].asString() == "complete";
    const int status = facts[2].isIntegral() ? facts[2].asInt() : 0;
    committed_ = href != "about:blank";
    if (startsWith(href, "chrome-error:"))
        loadFailed("the first load failed", reply.at);
    else if (committed_ && (status == 401 || status == 403))
        needsSignIn("the page answered " + std::to_string(status));
    else if (committed_ && status >= 500)
        loadFailed("the page answered " + std::to_string(status), reply.at);
    else if (committed_ && loginPageOfAnotherOrigin(url_, href))
        needsSignIn("landed on " + addressWithTokenHidden(href));
    else if (committed_ && complete)
        becameLive(reply.at);
}

// A new load of the page begins: what the last one left is forgotten (a
// probe still out was sent to the document before it and counts for
// nothing), and the clocks of the stall rule and of its probes start.
// The set-up is done: the page is asked for, unless its new window is
// still being looked for.
void PageWatch::loadTheNewWindow(Clock::time_point now) {
    if (windowWaitUntil_) {
        loadWaitsForWindow_ = true;
        return;
    }
    navigate(now);
}

void PageWatch::windowFound(const std::string& targetId, Clock::time_point now) {
    if (targetId != targetId_ || !windowWaitUntil_)
        return;
    windowWaitUntil_.reset();
    if (loadWaitsForWindow_) {
        loadWaitsForWindow_ = false;
        navigate(now);
    }
}

std::string PageWatch::windowTitle(const std::string& targetId) {
    return "brovia-window " + targetId;
}

void PageWatch::beginLoad(Clock::time_point now) {
    ++generation_;
    signIn_ = false;
    committed_ = false;
    withRenderer_ = false;
    liveSinceNavigation_ = false;
    probing_ = false;
    missed_ = 0;
    probeAt_ = now + t_.probeEvery;
    mainLoader_.clear();
    retryAt_.reset();
    away_ = false;
    recoverUntil_.reset();
    stallAt_ = now + t_.stallAfter;
    shotAt_.reset();
    shooting_ = false;
    stillSince_.reset();
}

void PageWatch::navigate(Clock::time_point now) {
    beginLoad(now);
    ++navigations_;
    phase_ = Phase::Loading;
    targetsOwnLoad_ = false;
    Json::Value params(Json::objectValue);
    params["url"] = url_;
    const uint64_t generation = generation_;
    // Chromium answers once it hands the response to the renderer to commit,
    // which a stalled server delays: the stall rule, not this deadline, ends
    // such a load.
    call("Page.navigate", params, *stallAt_ + std::chrono::seconds(1),
         [this, generation](const devtools::Reply& r) {
             if (generation != generation_ || !r.answered || phase_ != Phase::Loading)
                 return;
             const Json::Value& error = r.result["errorText"];
             if (!r.ok) {
                 loadFailed("the navigation was refused: " + r.error, r.at);
             } else if (r.result["isDownload"].asBool()) {
                 // The address answered with a download, which Chromium
                 // ends as net::ERR_ABORTED once it is refused: the page's
                 // reason is the download, whichever event comes first.
                 downloadBegan(Json::Value(Json::objectValue), r.at);
             } else if (error.isString() && !error.asString().empty()) {
                 loadFailed(error.asString(), r.at);
                 return;
             } else {
                 mainLoader_ = r.result["loaderId"].asString();
                 withRenderer_ = !r.result["isDownload"].asBool();
             }
         });
}

void PageWatch::loadFailed(const std::string& why, Clock::time_point now) {
    retryFor(PageCondition::Retrying, certificateError(why) ? "certificate" : "", why, now);
}

// The page is loaded again on the back-off; the report names the state and
// the reason and when that load comes.
void PageWatch::retryFor(PageCondition condition, const std::string& reason, const std::string& why,
                         Clock::time_point now) {
    scheduleRetry(now);
    report(condition, why, wallClockAt(*retryAt_, now), reason);
}

int64_t PageWatch::wallClockAt(Clock::time_point at, Clock::time_point now) const {
    return port_.wallClockMs() + millis(at - now);
}

void PageWatch::scheduleRetry(Clock::time_point now) {
    retryAt(now + backoff_);
    backoff_ = std::min<Clock::duration>(backoff_ * 2, t_.longestRetry);
}

// Nothing of the page is watched until the next attempt at `at`, which
// asks the address first.
void PageWatch::retryAt(Clock::time_point at) {
    ++generation_;
    phase_ = Phase::Retrying;
    signIn_ = false;
    stallAt_.reset();
    probeAt_.reset();
    probing_ = false;
    recoverUntil_.reset();
    asking_ = false;
    askFirst_ = true;
    away_ = false;
    shotAt_.reset();
    shooting_ = false;
    retryAt_ = at;
}

void PageWatch::becameLive(Clock::time_point now) {
    phase_ = Phase::Live;
    signIn_ = false;
    liveSinceNavigation_ = true;
    backoff_ = t_.firstRetry;
    stallAt_.reset();
    shotAt_ = now + t_.shotEvery;
    stillSince_.reset();
    report(PageCondition::Live, "");
}

// The main frame left for another origin: loaded back later, unless it
// comes back by itself first.
void PageWatch::wandered(const std::string& url, Clock::time_point now) {
    retryAt(now + t_.wanderedFor);
    askFirst_ = false; // its server answered a moment ago
    away_ = true;
    report(PageCondition::Wandered, "the page went to " + addressWithTokenHidden(url),
           wallClockAt(*retryAt_, now));
}

// The page's target went without a crash: the page closed its own window
// (or the watch closed it to end a hang). The page is loaded in a new one.
void PageWatch::targetWent(Clock::time_point now) {
    ++generation_;
    sessionId_.clear();
    targetId_.clear();
    firstAttach_ = false;
    if (closingOwnTarget_)
        report(PageCondition::Loading, "a new window for the page");
    else
        report(PageCondition::Closed, "the page closed its window");
    closingOwnTarget_ = false;
    attach(now);
}

void PageWatch::dialogOpened(const Json::Value& params, Clock::time_point now) {
    const std::string type = params["type"].asString();
    // Leaving is what a beforeunload dialog asks; every other dialog is
    // answered as its Cancel or Close button would.
    const bool accept = type == "beforeunload";
    Json::Value answer(Json::objectValue);
    answer["accept"] = accept;
    call("Page.handleJavaScriptDialog", answer, now + t_.callDeadline, nullptr);
    reportEvent("dialog", "a " + (type.empty() ? std::string("JavaScript") : type) +
                              " dialog was answered (" + (accept ? "leave" : "cancel") +
                              "): " + quote(params["message"].asString()));
}

void PageWatch::authRequired(const Json::Value& params, Clock::time_point now) {
    Json::Value answer(Json::objectValue);
    answer["requestId"] = params["requestId"];
    answer["authChallengeResponse"]["response"] = "CancelAuth";
    call("Fetch.continueWithAuth", answer, now + t_.callDeadline, nullptr);
    const bool mainDocument = params["resourceType"].asString() == "Document" &&
                              params["frameId"].asString() == targetId_;
    if (mainDocument && (phase_ == Phase::Loading || phase_ == Phase::Live))
        retryFor(PageCondition::NeedsSignIn, "auth",
                 "the server asked for a user name and password at " +
                     addressWithTokenHidden(params["request"]["url"].asString()),
                 now);
}

void PageWatch::downloadBegan(const Json::Value& params, Clock::time_point now) {
    const std::string guid = params["guid"].asString();
    if (!guid.empty() && guid == lastDownload_)
        return; // told by the page and by the browser
    lastDownload_ = guid;
    const std::string url = params.isMember("url") ? params["url"].asString() : url_;
    if (phase_ == Phase::Loading || phase_ == Phase::Live)
        retryFor(PageCondition::Retrying, "download",
                 "a download was refused: " + addressWithTokenHidden(url), now);
}

// A picture of what the page shows, for the still rule: the viewport as it
// is on the monitor. No clip and no scale: for those Chromium would emulate
// a viewport of the picture's size while it takes it, and the wall would
// see its page shrink and be laid out again each minute.
void PageWatch::shoot(Clock::time_point now) {
    shooting_ = true;
    shotAt_ = now + t_.shotEvery;
    Json::Value params(Json::objectValue);
    params["format"] = "png";
    const uint64_t generation = generation_;
    call("Page.captureScreenshot", params, now + t_.callDeadline,
         [this, generation](const devtools::Reply& shot) {
             if (generation == generation_)
                 pictured(shot);
         });
}

void PageWatch::pictured(const devtools::Reply& reply) {
    shooting_ = false;
    if (phase_ != Phase::Live || signIn_)
        return;
    const std::optional<uint32_t> colour =
        reply.ok ? singleColour(fromBase64(reply.result["data"].asString())) : std::nullopt;
    if (!colour) {
        // A picture of more than one colour, or none: not still.
        stillSince_.reset();
        return;
    }
    if (!stillSince_ || *colour != stillColour_) {
        stillSince_ = reply.at;
        stillColour_ = *colour;
        return;
    }
    if (reply.at - *stillSince_ < t_.stillFor)
        return;
    char rgb[8];
    std::snprintf(rgb, sizeof rgb, "#%06x", static_cast<unsigned>(*colour >> 8));
    report(PageCondition::Still, std::string("the page has shown one colour (") + rgb + ") for " +
                                     std::to_string(millis(reply.at - *stillSince_) / 60000) +
                                     " min");
    navigate(reply.at);
}

void PageWatch::needsSignIn(const std::string& why) {
    phase_ = Phase::Live;
    signIn_ = true;
    liveSinceNavigation_ = true;
    stallAt_.reset();
    report(PageCondition::NeedsSignIn, why);
}

void PageWatch::crashed(const std::string& why, Clock::time_point now) {
    if (crashHandled_)
        return; // the same crash, told twice
    if (phase_ == Phase::Recovering) {
        recoverNow(now);
        return;
    }
    if (phase_ != Phase::Loading && phase_ != Phase::Live)
        return; // a retry loads the page anyway
    report(PageCondition::Crashed, why);
    crashHandled_ = true;
    if (liveSinceNavigation_)
        navigate(now);
    else
        scheduleRetry(now);
}

void PageWatch::hung(const std::string& why, Clock::time_point now) {
    ++generation_;
    report(PageCondition::Hung, why);
    phase_ = Phase::Recovering;
    stallAt_.reset();
    probeAt_.reset();
    probing_ = false;
    crashHandled_ = false;
    renderersEnded_ = false;
    recoverUntil_ = now + t_.crashWait;
    // Chromium's browser process ends the renderer, however busy it is; the
    // crash events then say it has gone. Its reply does not matter.
    call("Page.crash", Json::Value(), *recoverUntil_, nullptr);
}

void PageWatch::recoverNow(Clock::time_point now) {
    recoverUntil_.reset();
    crashHandled_ = true;
    if (liveSinceNavigation_)
        navigate(now);
    else
        scheduleRetry(now);
}

void PageWatch::probe(Clock::time_point now) {
    probing_ = true;
    probeAt_.reset();
    Json::Value params(Json::objectValue);
    params["expression"] = "1";
    params["returnByValue"] = true;
    const uint64_t generation = generation_;
    call("Runtime.evaluate", params, now + t_.probeDeadline,
         [this, generation, sent = now](const devtools::Reply& r) {
             if (generation != generation_)
                 return;
             probing_ = false;
             if (r.answered) {
                 missed_ = 0;
                 // The target's first load, attached to while Chromium was
                 // still making its document, can pass without its events:
                 // Chromium may move a new window's page to another renderer
                 // as it commits, and what that renderer sent before it had
                 // the session's domains on is not seen. Each answered probe
                 // looks at the document again, so that a load that finished
                 // unseen counts as live instead of as stalled 30 s later.
                 if (phase_ == Phase::Loading && targetsOwnLoad_)
                     lookAtTheDocument(r.at + t_.callDeadline);
             } else if (++missed_ >= t_.missedProbesForHang) {
                 hung("no answer to " + std::to_string(missed_) + " probes", r.at);
                 return;
             }
             probeAt_ = std::max(sent + t_.probeEvery, r.at);
         });
}

void PageWatch::mainDocumentAnswered(int status, const std::string& url, Clock::time_point now) {
    if (phase_ != Phase::Loading && phase_ != Phase::Live)
        return;
    if (status >= 500)
        loadFailed("the page answered " + std::to_string(status), now);
    else if (status == 401 || status == 403)
        needsSignIn("the page answered " + std::to_string(status) + " at " +
                    addressWithTokenHidden(url));
}

void PageWatch::landedOn(const std::string& url, Clock::time_point now) {
    const std::string origin = originOf(url);
    if (phase_ == Phase::Retrying && away_ && !origin.empty() &&
        (origin == homeOrigin_ || origin == originOf(url_))) {
        // Back by itself before it was loaded back: its load event makes it
        // live.
        beginLoad(now);
        phase_ = Phase::Loading;
        targetsOwnLoad_ = false;
        committed_ = true;
        return;
    }
    if (phase_ != Phase::Loading && phase_ != Phase::Live)
        return;
    if (phase_ == Phase::Loading && url == "about:blank")
        return; // the empty document a window starts with, not the load's
    // The documents of a load of the page's, until its load event, show
    // where its server keeps it (a redirect included, a script's as well);
    // a live page's main frame that goes elsewhere has wandered.
    const bool partOfLoad = phase_ == Phase::Loading;
    committed_ = true;
    crashHandled_ = false;
    if (startsWith(url, "chrome-error:"))
        loadFailed("an error page came instead", now);
    else if (loginPageOfAnotherOrigin(url_, url))
        needsSignIn("landed on " + addressWithTokenHidden(url));
    else if (signIn_)
        phase_ = Phase::Loading; // signed in at the wall: its load event makes it live
    else if (partOfLoad && isHttp(url))
        homeOrigin_ = origin;
    else if (!partOfLoad && origin != homeOrigin_ && origin != originOf(url_))
        wandered(url, now);
}

void PageWatch::event(const devtools::Event& e) {
    const Json::Value& p = e.params;
    if (e.sessionId.empty()) {
        if (e.method == "Target.targetCrashed" && p["targetId"].asString() == targetId_) {
            crashed("the renderer crashed (" + p["status"].asString() + ")", e.at);
        } else if ((e.method == "Target.targetDestroyed" && p["targetId"].asString() == targetId_ &&
                    !targetId_.empty()) ||
                   (e.method == "Target.detachedFromTarget" &&
                    p["sessionId"].asString() == sessionId_ && !sessionId_.empty())) {
            targetWent(e.at);
        } else if (e.method == "Browser.downloadWillBegin" && !targetId_.empty() &&
                   p["frameId"].asString() == targetId_) {
            downloadBegan(p, e.at);
        } else if (e.method == "Target.targetCreated" && phase_ == Phase::Attaching &&
                   targetId_.empty() && p["targetInfo"]["type"].asString() == "page") {
            attachTo(p["targetInfo"]["targetId"].asString(), e.at);
        }
        return;
    }
    if (e.sessionId != sessionId_)
        return;
    if (e.method == "Inspector.targetCrashed") {
        crashed("the renderer crashed", e.at);
    } else if (e.method == "Inspector.detached") {
        if (p["reason"].asString() == "target_closed")
            targetWent(e.at);
    } else if (e.method == "Fetch.requestPaused") {
        // Paused only so that authentication comes to the watch: let go.
        Json::Value go(Json::objectValue);
        go["requestId"] = p["requestId"];
        call("Fetch.continueRequest", go, e.at + t_.callDeadline, nullptr);
    } else if (e.method == "Fetch.authRequired") {
        authRequired(p, e.at);
    } else if (e.method == "Page.javascriptDialogOpening") {
        dialogOpened(p, e.at);
    } else if (e.method == "Page.downloadWillBegin") {
        downloadBegan(p, e.at);
    } else if (e.method == "Runtime.bindingCalled") {
        if (p["name"].asString() == kPrintBinding)
            reportEvent("print", "window.print() on " +
                                     addressWithTokenHidden(p["payload"].asString()) +
                                     " was answered without a print preview");
    } else if (e.method == "Network.requestWillBeSent") {
        if (p["type"].asString() == "Document" && p["frameId"].asString() == targetId_ &&
            p["requestId"].asString() == p["loaderId"].asString())
            mainLoader_ = p["loaderId"].asString();
    } else if (e.method == "Network.responseReceived") {
        if (p["type"].asString() == "Document" && p["frameId"].asString() == targetId_ &&
            p["requestId"].asString() == p["loaderId"].asString())
            mainDocumentAnswered(p["response"]["status"].asInt(), p["response"]["url"].asString(),
                                 e.at);
    } else if (e.method == "Network.loadingFailed") {
        const std::string error = p["errorText"].asString();
        if (!mainLoader_.empty() && p["requestId"].asString() == mainLoader_ &&
            !p["canceled"].asBool() && (phase_ == Phase::Loading || error != "net::ERR_ABORTED") &&
            (phase_ == Phase::Loading || phase_ == Phase::Live))
            loadFailed(error.empty() ? "the page did not load" : error, e.at);
    } else if (e.method == "Page.frameNavigated") {
        const Json::Value& frame = p["frame"];
        if (!frame.isMember("parentId") && frame["id"].asString() == targetId_)
            landedOn(frame.isMember("unreachableUrl") ? "chrome-error://unreachable"
                                                      : frame["url"].asString(),
                     e.at);
    } else if (e.method == "Page.loadEventFired") {
        // A document that came before the script was registered for new
        // ones (the command line's, while Brovia attached) gets it now; it
        // runs once per document.
        Json::Value wall(Json::objectValue);
        wall["expression"] = wallScript();
        call("Runtime.evaluate", wall, e.at + t_.callDeadline, nullptr);
        // The target's own load (a new window's, the command line's) may
        // have had its answer before the watch's network events were on:
        // what the document answered is read before it counts as live, so
        // that a first 503 or 401 is not taken for the page.
        if (phase_ == Phase::Loading && !signIn_ && committed_) {
            if (targetsOwnLoad_)
                lookAtTheDocument(e.at + t_.callDeadline);
            else
                becameLive(e.at);
        }
    }
}

void PageWatch::received(std::string_view message, Clock::time_point now) {
    session_.received(message, now);
}

void PageWatch::addressAnswered(const AddressAnswer& answer, Clock::time_point now) {
    if (!asking_ || phase_ != Phase::Retrying)
        return;
    asking_ = false;
    switch (answer.kind) {
    case AddressAnswer::Kind::Status:
        // Whatever it answers, the server is up: a HEAD or a GET it refuses
        // (405, 501) or a 503 of its own may be a page the browser's load
        // gets all the same, and the load's outcome decides.
        report(PageCondition::Loading, "the address answers " + std::to_string(answer.status));
        navigate(now);
        return;
    case AddressAnswer::Kind::Handshake:
        report(PageCondition::Loading, "the address answers, its certificate untrusted");
        navigate(now);
        return;
    case AddressAnswer::Kind::Unreachable:
        // Nothing accepted the connection, so no server saw a request:
        // asked again soon, without growing the back-off.
        retryAt_ = now + t_.unreachableRetry;
        return;
    case AddressAnswer::Kind::NoAnswer:
        break;
    }
    retryAt_ = now + backoff_;
    backoff_ = std::min<Clock::duration>(backoff_ * 2, t_.longestRetry);
}

void PageWatch::tick(Clock::time_point now) {
    session_.expire(now);
    if (windowWaitUntil_ && *windowWaitUntil_ <= now)
        windowFound(targetId_, now); // not found in time: the page loads all the same
    if (stallAt_ && *stallAt_ <= now) {
        stallAt_.reset();
        if (phase_ == Phase::Attaching) {
            if (port_.browserHung)
                port_.browserHung("no page to watch");
        } else if (phase_ == Phase::Loading) {
            call("Page.stopLoading", Json::Value(), now + t_.callDeadline, nullptr);
            loadFailed("no load event " + std::to_string(millis(t_.stallAfter) / 1000) +
                           " s after the navigation",
                       now);
        }
    }
    if (phase_ == Phase::Retrying && retryAt_ && *retryAt_ <= now && !asking_) {
        retryAt_.reset();
        if (isHttp(url_) && askFirst_) {
            asking_ = true;
            port_.askAddress(url_);
        } else {
            report(PageCondition::Loading, away_ ? "loaded back" : "trying again");
            navigate(now);
        }
    }
    if (phase_ == Phase::Recovering && recoverUntil_ && *recoverUntil_ <= now) {
        if (!renderersEnded_) {
            renderersEnded_ = true;
            recoverUntil_ = now + t_.crashWait;
            if (window_) {
                // Other pages' renderers run in the same browser: only this
                // page's target goes, and a new window takes its place.
                closingOwnTarget_ = true;
                Json::Value params(Json::objectValue);
                params["targetId"] = targetId_;
                browserCall("Target.closeTarget", params, now, nullptr);
            } else {
                port_.endRenderers();
            }
        } else {
            recoverNow(now);
        }
    }
    if (probed() && !probing_ && probeAt_ && *probeAt_ <= now)
        probe(now);
    if (shotDue() && *shotAt_ <= now)
        shoot(now);
}

bool PageWatch::shotDue() const {
    return phase_ == Phase::Live && !signIn_ && !shooting_ && shotAt_.has_value();
}

// A live page is probed, and so is a load whose document is in its renderer:
// one that committed, one that Chromium has handed to the renderer to
// commit, or the target's own load (whose document is whatever the target
// shows). Before that nothing may answer for the page (a crashed renderer's
// successor does not exist yet), and a slow server is not a hang.
bool PageWatch::probed() const {
    return phase_ == Phase::Live ||
           (phase_ == Phase::Loading && (committed_ || withRenderer_ || targetsOwnLoad_));
}

std::optional<Clock::time_point> PageWatch::nextWake() const {
    std::optional<Clock::time_point> next = session_.nextDeadline();
    auto consider = [&next](const std::optional<Clock::time_point>& t) {
        if (t && (!next || *t < *next))
            next = t;
    };
    consider(stallAt_);
    consider(windowWaitUntil_);
    if (phase_ == Phase::Retrying && !asking_)
        consider(retryAt_);
    if (phase_ == Phase::Recovering)
        consider(recoverUntil_);
    if (probed() && !probing_)
        consider(probeAt_);
    if (shotDue())
        consider(shotAt_);
    return next;
}

void PageWatch::report(PageCondition condition, const std::string& detail, int64_t nextMs,
                       const std::string& reason) {
    const bool steady = condition == PageCondition::Live || condition == PageCondition::Loading ||
                        condition == PageCondition::NeedsSignIn;
    if (reportedAny_ && steady && reason.empty() && condition == reported_ &&
        reportedReason_.empty())
        return;
    reportedAny_ = true;
    reported_ = condition;
    reportedReason_ = reason;
    reportedNextMs_ = nextMs;
    PageReport r;
    r.condition = condition;
    r.reason = reason;
    r.count = ++counts_[reason.empty() ? std::string(pageConditionName(condition)) : reason];
    r.nextAttemptMs = nextMs;
    r.detail = hideTokenIn(detail, tokenOfAddress(url_));
    if (port_.report)
        port_.report(r);
}

void PageWatch::reportEvent(const std::string& reason, const std::string& detail) {
    PageReport r;
    r.condition = reported_;
    r.reason = reason;
    r.count = ++counts_[reason];
    r.nextAttemptMs = reportedNextMs_;
    r.detail = hideTokenIn(detail, tokenOfAddress(url_));
    if (port_.report)
        port_.report(r);
}
