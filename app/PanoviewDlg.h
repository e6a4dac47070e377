// The hidden main window's rules: the tray icon and its menu, the login and
// settings commands, the maker's site, the keep-alive timer and the end of
// the program. The window itself is never seen; its desktop side (tray icon,
// menu, timer, questions) is the view behind IPanoviewView, and the rest of
// the program (dialogs, keep-alive exchange, browsers, exit) reaches it
// through PanoviewDlgServices.
#pragma once

#include "settings/SystemConfig.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What the operator did with the tray icon (the desktop's mouse messages
// WM_LBUTTONDBLCLK and WM_RBUTTONUP of icon 128, and everything else).
enum class TrayClick {
    Double,   // a double click of the left button: the login command
    Context,  // the context click (right button released): the menu
    Activate, // a StatusNotifier tray's one activation (no double click there): the login command
    Other,    // any other click (an XEmbed tray's single click): nothing
};

// What a later start asks the running copy (panoview --login, --settings,
// also the desktop entry's actions where there is no tray).
enum class RemoteCommand { None, Login, Settings };
RemoteCommand remoteCommand(const std::string& word);

// The tray menu's commands.
inline constexpr uint32_t ID_TRAY_LOGIN = 32772;
inline constexpr uint32_t ID_TRAY_SETTINGS = 32777;
inline constexpr uint32_t ID_TRAY_ABOUT = 32774;
inline constexpr uint32_t ID_TRAY_EXIT = 32776;

// The keep-alive timer: id 1, every 30 s, every 180 s once the operator has
// chosen to go on after a failure.
inline constexpr int kKeepAliveTimer = 1;
inline constexpr int kKeepAlivePeriodMs = 30000;
inline constexpr int kKeepAliveSlowPeriodMs = 180000;

// How often the desktop is asked whether a new tray host has come (a panel
// restarted).
inline constexpr int kTrayHostPollMs = 2000;

// The maker's site, opened by "关于我们".
inline constexpr const char* kMakerSite = "www.loomhaven.example";

// One line of the tray menu; id 0 is a separator. The texts are Chinese in
// both languages.
struct TrayMenuItem {
    uint32_t id;
    const char* text;
};
const std::vector<TrayMenuItem>& trayMenu();

// The hidden main window as the rules see it: the tray icon, its menu, the
// keep-alive timer, the questions and the URL opener. TrayView is the real
// one; tests give a scripted one.
class IPanoviewView {
public:
    virtual ~IPanoviewView() = default;
    // Shows the tray icon with its tooltip, docking it again with whatever
    // tray host is there now.
    virtual void showTrayIcon(const std::string& tooltip) = 0;
    virtual void hideTrayIcon() = 0;
    // Shows the menu of these items next to the icon and returns the chosen
    // id, 0 for none.
    virtual uint32_t showMenu(const std::vector<TrayMenuItem>& menu) = 0;
    // The keep-alive timer: OnTimer(kKeepAliveTimer) every periodMs until stopped.
    virtual void startKeepAliveTimer(int periodMs) = 0;
    virtual void stopKeepAliveTimer() = 0;
    // Polls the desktop for a new tray host every periodMs and tells
    // OnTaskbarCreated when another one has come.
    virtual void watchTrayHost(int periodMs) = 0;
    // A Yes/No question above the wall; true for Yes.
    virtual bool askYesNo(const std::string& caption, const std::string& text) = 0;
    virtual void openUrl(const std::string& url) = 0;
};

// What the main window needs from the rest of the program.
struct PanoviewDlgServices {
    // The login dialog: made once, then shown (raised above the page
    // browsers) as often as asked.
    std::function<void()> createLoginDialog;
    std::function<void()> showLoginDialog;
    // The settings dialog, run modally: made, run and destroyed.
    std::function<void()> runSettingsDialog;
    // The keep-alive exchange on the shared service client; 1 when alive.
    std::function<int32_t(const std::string& serviceAddress, const std::string& token)> heartpacket;
    std::function<void()> stopBrowsers;
    // Ends the page browsers an earlier run left (Launcher::endLeftoverBrowsers).
    std::function<void()> endLeftoverBrowsers;
    // Ends the run with the status: the program's event loops end and it
    // winds down as after a logout; nothing of the window runs after it.
    std::function<void(int status)> exitProcess;
};

class CPanoviewDlg {
public:
    CPanoviewDlg(IPanoviewView& view, SystemConfig& config, PanoviewDlgServices services)
        : view_(view), config_(config), services_(std::move(services)) {}
    CPanoviewDlg(const CPanoviewDlg&) = delete;
    CPanoviewDlg& operator=(const CPanoviewDlg&) = delete;

    // Ends the page browsers an earlier run left, adds the tray icon and
    // starts watching for tray hosts, then runs the settings dialog ("/set"
    // in the command line) or the login command, then starts the keep-alive
    // timer.
    void OnInitDialog(const std::string& commandLineTail);

    // A click on the tray icon: a double click runs the login command, the
    // context click opens the menu; other clicks do nothing.
    void OnTrayNotify(TrayClick click);

    // Runs the menu command of the id; unknown ids do nothing.
    void OnCommand(uint32_t id);

    // A command from a later start: the login or the settings command, as
    // from the tray menu.
    void OnRemoteCommand(RemoteCommand command);

    void OnLogin();
    void OnSettings();
    void OnAbout();
    void OnExit();
    void OnTimer(int id);
    // The tray host came back: the icon is added again with its tooltip.
    void OnTaskbarCreated();
    // The session ends (a logout's SIGTERM, SIGHUP, SIGINT): the wall ends
    // as on Exit (browsers stopped, blanking given back, no sign-out), then
    // DestroyWindow; the caller ends the process with status 0.
    void OnEndSession();
    // The icon goes.
    void DestroyWindow();

    // The keep-alive period in force.
    int keepAlivePeriod() const { return keepAlivePeriod_; }

private:
    void endProgram();

    IPanoviewView& view_;
    SystemConfig& config_;
    PanoviewDlgServices services_;
    bool loginDialogCreated_ = false;
    int keepAlivePeriod_ = kKeepAlivePeriodMs;
};

// The tray icon's tooltip in the language chosen at start-up.
std::string trayTooltip();
