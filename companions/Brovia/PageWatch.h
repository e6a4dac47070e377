// Watches the one page of Brovia's Chromium over the DevTools pipe and
// brings it back from what a wall meets, one rule each:
//
//   crashed   the renderer crashed (Inspector.targetCrashed,
//             Target.targetCrashed) or the page's target went: load the page
//             again (at once when it had come up since its last load, else
//             on the back-off, so that a page that crashes its renderer at
//             every load is not loaded in a loop);
//   hung      a probe (Runtime.evaluate of "1") unanswered within its
//             deadline twice in a row, the page live or still loading (a
//             load is probed once its document is with its renderer, so a
//             script that spins before the load event is found here, not by
//             the stall): end the renderer (Page.crash, then its process)
//             and load the page afresh (at once when it had come up since
//             its last load, else on the back-off, as after a crash);
//   retrying  the load failed (Page.navigate's error, Network.loadingFailed
//             of the main document, an error page), the main document
//             answered 5xx, or no load event came 30 s after a navigation
//             (stopped then): try again on a back-off of 2 s doubling to
//             60 s. A certificate error (net::ERR_CERT_*) is retrying for
//             the reason `certificate`, a download the page started (refused:
//             Browser.setDownloadBehavior deny) for `download`. Each attempt
//             first asks the address itself with one plain HTTP request and
//             loads the page once anything answers, whatever the status (a
//             server that refuses HEAD or GET is up all the same: the load's
//             own outcome decides); while nothing accepts the connection, or
//             nothing answers, the address is asked again later;
//   sign-in   the main document answered 401/403, or the page landed on
//             another origin's login page: reported, left as it is. A server
//             that asks for a user name and password (Fetch.authRequired)
//             gets its box cancelled, and the page is sign-in for the reason
//             `auth`, loaded again on the back-off;
//   closed    the page closed its own window (window.close(): its target
//             went without a crash): loaded again in a new one;
//   wandered  the main frame went to another origin than the page's own
//             (not a login page): loaded back 60 s later unless it comes back
//             by itself;
//   still     the page's picture (a screenshot of the viewport a minute,
//             read pixel by pixel) has been one and the same colour for 5
//             minutes: loaded again. A page that draws and does not change
//             is left alone.
//
// Nothing modal stays on the page: a JavaScript dialog is answered at once
// (alert dismissed, confirm and prompt cancelled, beforeunload left), and
// window.print() is replaced by a no-op that tells the watch; each is one
// report line with the reason `dialog` or `print` and its count, the state
// kept.
//
// A page that loads and runs (timers, websockets, its own reloads) is never
// reloaded. Each change of state is reported once (PageReport), never once
// per probe. Every DevTools call has a deadline; a browser that stops
// answering its own (non-page) calls is reported through browserHung.
//
// Plain C++: the caller hands in the pipe's messages, the time, and the
// answers of the address probes, and calls tick() when nextWake() is due.
#pragma once

#include "DevTools.h"
#include "wall/PageReport.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

struct PageWatchTimings {
    using ms = std::chrono::milliseconds;
    // A renderer that stops answering is hung at most probeEvery +
    // probeEvery + probeDeadline (11 s) later; a load whose renderer never
    // answers, 11 s after it began when its document reached the renderer
    // within the first probeEvery.
    ms probeEvery{4000};    // from one probe's start to the next
    ms probeDeadline{3000}; // how long a probe may go unanswered
    int missedProbesForHang = 2;
    ms callDeadline{10000}; // every other call
    ms stallAfter{30000};   // navigation to load event
    ms firstRetry{2000};
    ms longestRetry{60000};
    ms unreachableRetry{2000}; // nothing accepts the connection
    ms crashWait{3000};        // an ended renderer's crash event
    ms wanderedFor{60000};     // a main frame on another origin, until loaded back
    ms windowWait{3000};       // a new window's load, waiting for the window to be found
    ms shotEvery{60000};       // a live page's screenshot for the still rule
    ms stillFor{300000};       // one colour this long: loaded again

    // The same with the two long rules made short for a test wall: a page
    // wandered or one colour for `seconds` each is loaded again, with a
    // screenshot every quarter of that (a second at least). Nullopt for a
    // text that is no whole number of seconds from 1 to 3600. Brovia reads
    // it from BROVIA_TEST_SHORT_RULES, in one place (watchPage), so that a
    // suite or a benchmark sees in a minute what a wall sees in five.
    static std::optional<PageWatchTimings> withShortRules(std::string_view seconds);
};

// What one plain HTTP request to the page address found.
struct AddressAnswer {
    enum class Kind {
        Unreachable, // no connection: refused, no route, name unknown
        NoAnswer,    // connected, but no reply within the probe's time
        Status,      // an HTTP status, whatever it is
        // The TLS handshake failed (a certificate the probe does not
        // trust): a server is there, and the load tells what the browser
        // makes of it.
        Handshake,
    };
    Kind kind = Kind::Unreachable;
    int status = 0;
};

// The rectangle of a page's own window in a browser that several pages
// share (brovia-host's).
struct PageWindow {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    // The page's zoom in percent (0: none). A browser's own zoom is all its
    // windows', so a shared browser zooms each page through its target:
    // the page lays out in width/zoom by height/zoom CSS pixels and draws at
    // zoom/100 device pixels per CSS pixel, as in a browser of its own
    // started with that zoom.
    int zoomPercent = 0;
};

struct PageWatchPort {
    // Writes one message to Chromium's end of the pipe.
    std::function<void(const std::string& message)> send;
    // Starts one request to the address; its answer comes back through
    // PageWatch::addressAnswered, always (a deadline of its own included).
    std::function<void(const std::string& url)> askAddress;
    // Ends the renderer processes of the browser (SIGKILL).
    std::function<void()> endRenderers;
    // One line per change of the page's state.
    std::function<void(const PageReport&)> report;
    // Wall-clock time, in milliseconds since the epoch, for a report's next
    // attempt: the system's clock unless a test sets its own.
    std::function<int64_t()> wallClockMs = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    // The browser process itself stopped answering.
    std::function<void(const std::string& why)> browserHung;
    // Set for a page with a window of its own that is fitted from outside
    // (found among the browser's windows and placed over the rectangle):
    // the target of each new window, once its document's title is
    // windowTitle(target). The page's load then waits for windowFound with
    // that target, at most PageWatchTimings::windowWait, so that the window
    // is still known by that title when it is looked for.
    std::function<void(const std::string& targetId)> windowMade;
};

class PageWatch {
public:
    using Clock = devtools::Clock;

    PageWatch(std::string url, PageWatchPort port, PageWatchTimings timings = {});

    // The page lives in a browser other pages share: its target is one it
    // makes itself, a new window over the rectangle, full screen on its
    // monitor (and made again when it goes); a hung page that Page.crash
    // does not end has its own target closed, never the browser's
    // renderers ended, so that the other pages keep running. Before start().
    void ownWindow(const PageWindow& window) { window_ = window; }

    // The page's target shows nothing yet and the address is the watch's to
    // ask for once it has attached and set the page up, as for a page that
    // went and came back (Brovia's own Chromium, which never has the address
    // on its command line). Before start().
    void loadOnAttach() { firstAttach_ = false; }

    // The window of the target was found (PageWatchPort::windowMade): its
    // page's load goes on. A window of another target counts for nothing.
    void windowFound(const std::string& targetId, Clock::time_point now);
    // The title a new window's document has while its window is looked for.
    static std::string windowTitle(const std::string& targetId);

    // The pipe is open: find the page's target and attach to it. The page
    // was already asked for on Chromium's command line (or, with its own
    // window, is asked for now).
    void start(Clock::time_point now);
    // One message from Chromium.
    void received(std::string_view message, Clock::time_point now);
    void addressAnswered(const AddressAnswer& answer, Clock::time_point now);
    // Runs what is due: deadlines of calls, probes, retries, the stall.
    void tick(Clock::time_point now);
    std::optional<Clock::time_point> nextWake() const;

    PageCondition condition() const { return reported_; }
    // How many navigations Brovia has asked for (the command line's first
    // load not counted).
    uint32_t navigations() const { return navigations_; }

    // The script Brovia puts into every document of the page: no context
    // menu, and the pointer hidden over the page after 3 s without motion.
    static const char* wallScript();
    // The binding through which the wall script tells of window.print().
    static constexpr const char* kPrintBinding = "__broviaPrinted";

    // The colour (0xRRGGBBAA) of a PNG picture whose pixels all have it;
    // nullopt for a picture of more colours, or bytes it cannot read (8 bits
    // per sample, grey, grey and alpha, RGB and RGBA, not interlaced).
    static std::optional<uint32_t> singleColour(std::string_view png);

private:
    enum class Phase {
        Attaching,  // finding and attaching the page's target
        Loading,    // a navigation under way
        Live,       // loaded (or left on a login page: signIn_)
        Retrying,   // waiting for the next attempt, or its address probe
        Recovering, // ending a hung renderer, waiting for its crash
    };

    void call(const std::string& method, const Json::Value& params, Clock::time_point deadline,
              std::function<void(const devtools::Reply&)> onReply);
    void browserCall(const std::string& method, const Json::Value& params, Clock::time_point now,
                     std::function<void(const devtools::Reply&)> onReply);
    void event(const devtools::Event& e);

    void attach(Clock::time_point now);
    void attachTo(const std::string& targetId, Clock::time_point now);
    void setUp(Clock::time_point now);
    void placeWindow(Clock::time_point now);
    void inspect(const devtools::Reply& reply);
    void lookAtTheDocument(Clock::time_point deadline);
    void beginLoad(Clock::time_point now);
    void loadTheNewWindow(Clock::time_point now);

    void navigate(Clock::time_point now);
    void loadFailed(const std::string& why, Clock::time_point now);
    void retryFor(PageCondition condition, const std::string& reason, const std::string& why,
                  Clock::time_point now);
    void scheduleRetry(Clock::time_point now);
    void retryAt(Clock::time_point at);
    void becameLive(Clock::time_point now);
    void wandered(const std::string& url, Clock::time_point now);
    void targetWent(Clock::time_point now);
    void dialogOpened(const Json::Value& params, Clock::time_point now);
    void authRequired(const Json::Value& params, Clock::time_point now);
    void downloadBegan(const Json::Value& params, Clock::time_point now);
    void shoot(Clock::time_point now);
    void pictured(const devtools::Reply& reply);
    void needsSignIn(const std::string& why);
    void crashed(const std::string& why, Clock::time_point now);
    void hung(const std::string& why, Clock::time_point now);
    void recoverNow(Clock::time_point now);
    void probe(Clock::time_point now);
    bool probed() const;
    bool shotDue() const;
    void mainDocumentAnswered(int status, const std::string& url, Clock::time_point now);
    void landedOn(const std::string& url, Clock::time_point now);

    void report(PageCondition condition, const std::string& detail, int64_t nextMs = 0,
                const std::string& reason = {});
    // The current state again, with an event's reason (dialog, print).
    void reportEvent(const std::string& reason, const std::string& detail);
    int64_t wallClockAt(Clock::time_point at, Clock::time_point now) const;

    std::string url_;
    std::optional<PageWindow> window_;
    bool closingOwnTarget_ = false; // a hung page's target closed by the watch
    // A new window's load waits for its window until then (windowMade).
    std::optional<Clock::time_point> windowWaitUntil_;
    bool loadWaitsForWindow_ = false; // the set-up is done, the load held
    PageWatchPort port_;
    PageWatchTimings t_;
    devtools::Session session_;

    Phase phase_ = Phase::Attaching;
    bool signIn_ = false;
    std::string targetId_;
    std::string sessionId_;
    bool firstAttach_ = true;
    uint64_t generation_ = 0; // each navigation and recovery; stale callbacks compare
    Clock::time_point started_;

    // The current load.
    std::string mainLoader_;
    bool committed_ = false; // the navigation's document has replaced the old one
    // Chromium answered Page.navigate: the response went to the renderer,
    // which commits it next. A script that spins in that very task keeps
    // the renderer's frameNavigated from ever being sent.
    bool withRenderer_ = false;
    // The load under way is the one the target was made with (the command
    // line's, or its new window's): no navigation of Brovia's since, so the
    // document the target shows is that load's, whatever it shows.
    bool targetsOwnLoad_ = false;
    bool liveSinceNavigation_ = false;
    std::optional<Clock::time_point> stallAt_;
    bool crashHandled_ = false; // a crash is being recovered; its echo ignored

    // The origin the page's own loads land on (the address's, or where its
    // server sends the load): a main frame elsewhere has wandered.
    std::string homeOrigin_;

    // Retries.
    Clock::duration backoff_;
    std::optional<Clock::time_point> retryAt_;
    bool asking_ = false;
    bool askFirst_ = true; // the address is asked before the retry's load
    bool away_ = false;    // retrying since the main frame wandered
    std::string lastDownload_;

    // The still rule: screenshots of the live page.
    std::optional<Clock::time_point> shotAt_;
    bool shooting_ = false;
    std::optional<Clock::time_point> stillSince_;
    uint32_t stillColour_ = 0;

    // Probes.
    std::optional<Clock::time_point> probeAt_;
    bool probing_ = false;
    int missed_ = 0;

    // Ending a hung renderer.
    std::optional<Clock::time_point> recoverUntil_;
    bool renderersEnded_ = false;

    PageCondition reported_ = PageCondition::Loading;
    std::string reportedReason_;
    int64_t reportedNextMs_ = 0;
    bool reportedAny_ = false;
    std::map<std::string, uint32_t> counts_; // by state name, or by reason
    uint32_t navigations_ = 0;
};
