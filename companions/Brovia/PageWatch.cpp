#include "PageWatch.h"

#include <json/reader.h>

#include <algorithm>
#include <cctype>
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

} // namespace

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
})();)JS";
}

PageWatch::PageWatch(std::string url, PageWatchPort port, PageWatchTimings timings)
    : url_(std::move(url)), port_(std::move(port)), t_(timings),
      session_([this](const std::string& m) { port_.send(m); },
               [this](const devtools::Event& e) { event(e); }),
      backoff_(t_.firstRetry) {}

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
                    Json::Value params(Json::objectValue);
                    params["url"] = url_;
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
    const uint64_t generation = generation_;
    browserCall("Browser.getWindowForTarget", params, now,
                [this, generation](const devtools::Reply& r) {
                    if (generation != generation_ || !r.ok)
                        return;
                    Json::Value bounds(Json::objectValue);
                    bounds["windowId"] = r.result["windowId"];
                    bounds["bounds"]["windowState"] = "fullscreen";
                    browserCall("Browser.setWindowBounds", bounds, r.at, nullptr);
                });
}

void PageWatch::setUp(Clock::time_point now) {
    if (window_) {
        // A window of its own was just made with the page's address: that
        // load is the page's, as the command line's is without a window.
        beginLoad(now);
        crashHandled_ = false;
    }
    const uint64_t generation = generation_;
    auto hungIfUnanswered = [this, generation](const devtools::Reply& r) {
        if (!r.answered && generation == generation_)
            hung("a set-up call went unanswered", r.at);
    };
    const Clock::time_point deadline = now + t_.callDeadline;
    for (const char* domain : {"Page.enable", "Network.enable", "Inspector.enable"})
        call(domain, Json::Value(), deadline, hungIfUnanswered);
    Json::Value script(Json::objectValue);
    script["source"] = wallScript();
    call("Page.addScriptToEvaluateOnNewDocument", script, deadline, hungIfUnanswered);
    Json::Value now_(Json::objectValue);
    now_["expression"] = wallScript();
    call("Runtime.evaluate", now_, deadline, hungIfUnanswered);
    if (!firstAttach_ && !window_) {
        // The page went and came back: it is loaded afresh.
        navigate(now);
        return;
    }
    if (!window_) {
        // The command line's load, under way since before the watch: its
        // probes start now, whether the first look is answered or not.
        probeAt_ = now + t_.probeEvery;
    }
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
        needsSignIn("landed on " + href);
    else if (committed_ && complete)
        becameLive();
}

// A new load of the page begins: what the last one left is forgotten (a
// probe still out was sent to the document before it and counts for
// nothing), and the clocks of the stall rule and of its probes start.
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
    recoverUntil_.reset();
    stallAt_ = now + t_.stallAfter;
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
             } else if (error.isString() && !error.asString().empty()) {
                 loadFailed(error.asString(), r.at);
             } else {
                 mainLoader_ = r.result["loaderId"].asString();
                 withRenderer_ = !r.result["isDownload"].asBool();
             }
         });
}

void PageWatch::loadFailed(const std::string& why, Clock::time_point now) {
    scheduleRetry(now);
    report(PageCondition::Retrying, why, port_.wallClockMs() + millis(*retryAt_ - now));
}

void PageWatch::scheduleRetry(Clock::time_point now) {
    ++generation_;
    phase_ = Phase::Retrying;
    signIn_ = false;
    stallAt_.reset();
    probeAt_.reset();
    probing_ = false;
    recoverUntil_.reset();
    asking_ = false;
    retryAt_ = now + backoff_;
    backoff_ = std::min<Clock::duration>(backoff_ * 2, t_.longestRetry);
}

void PageWatch::becameLive() {
    phase_ = Phase::Live;
    signIn_ = false;
    liveSinceNavigation_ = true;
    backoff_ = t_.firstRetry;
    stallAt_.reset();
    report(PageCondition::Live, "");
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
        needsSignIn("the page answered " + std::to_string(status) + " at " + url);
}

void PageWatch::landedOn(const std::string& url, Clock::time_point now) {
    if (phase_ != Phase::Loading && phase_ != Phase::Live)
        return;
    committed_ = true;
    crashHandled_ = false;
    if (startsWith(url, "chrome-error:"))
        loadFailed("an error page came instead", now);
    else if (loginPageOfAnotherOrigin(url_, url))
        needsSignIn("landed on " + url);
    else if (signIn_)
        phase_ = Phase::Loading; // signed in at the wall: its load event makes it live
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
            ++generation_;
            sessionId_.clear();
            targetId_.clear();
            firstAttach_ = false;
            if (closingOwnTarget_)
                report(PageCondition::Loading, "a new window for the page");
            else
                report(PageCondition::Crashed, "the page went");
            closingOwnTarget_ = false;
            attach(e.at);
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
        if (phase_ == Phase::Loading && !signIn_ && committed_)
            becameLive();
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
        if (answer.status < 500) {
            report(PageCondition::Loading, "the address answers " + std::to_string(answer.status));
            navigate(now);
            return;
        }
        break;
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
        if (isHttp(url_)) {
            asking_ = true;
            port_.askAddress(url_);
        } else {
            report(PageCondition::Loading, "trying again");
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
    if (phase_ == Phase::Retrying && !asking_)
        consider(retryAt_);
    if (phase_ == Phase::Recovering)
        consider(recoverUntil_);
    if (probed() && !probing_)
        consider(probeAt_);
    return next;
}

void PageWatch::report(PageCondition condition, const std::string& detail, int64_t nextMs) {
    const bool steady = condition == PageCondition::Live || condition == PageCondition::Loading ||
                        condition == PageCondition::NeedsSignIn;
    if (reportedAny_ && steady && condition == reported_)
        return;
    reportedAny_ = true;
    reported_ = condition;
    PageReport r;
    r.condition = condition;
    r.count = ++counts_[condition];
    r.nextAttemptMs = condition == PageCondition::Retrying ? nextMs : 0;
    r.detail = detail;
    if (port_.report)
        port_.report(r);
}
