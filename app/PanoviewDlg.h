// The hidden main window's rules: the tray icon and its menu, the login and
// settings commands, the maker's site, the keep-alive timer and the end of
// the program. The window itself is never seen; its desktop side (tray icon,
// menu, timer, questions, dialogs) reaches it through PanoviewDlgServices.
#pragma once

#include "settings/SystemConfig.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The tray icon's id and the mouse messages it reports.
inline constexpr uint32_t kTrayIconId = 128;
inline constexpr uint32_t WM_LBUTTONDBLCLK = 515;
inline constexpr uint32_t WM_RBUTTONUP = 517;

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

// The maker's site, opened by "关于我们".
inline constexpr const char* kMakerSite = "www.loomhaven.example";

// One line of the tray menu; id 0 is a separator. The texts are Chinese in
// both languages.
struct TrayMenuItem {
    uint32_t id;
    const char* text;
};
const std::vector<TrayMenuItem>& trayMenu();

struct ScreenPoint {
    int x = 0;
    int y = 0;
};

struct PanoviewDlgServices {
    std::function<void(const std::string& tooltip)> addTrayIcon;
    std::function<void()> deleteTrayIcon;
    std::function<ScreenPoint()> cursorPosition;
    // Shows the menu at the point and returns the chosen id, 0 for none.
    std::function<uint32_t(const std::vector<TrayMenuItem>& menu, ScreenPoint at)> showMenu;
    std::function<void(int id, int periodMs)> startTimer;
    std::function<void(int id)> stopTimer;
    // A Yes/No question with no owner window; true for Yes.
    std::function<bool(const std::string& caption, const std::string& text)> askYesNo;
    std::function<void(const std::string& url)> openUrl;
    // The login dialog: made once, then shown (raised above the page
    // browsers) as often as asked.
    std::function<void()> createLoginDialog;
    std::function<void()> showLoginDialog;
    // The settings dialog, run modally: made, run and destroyed.
    std::function<void()> runSettingsDialog;
    // The keep-alive exchange on the shared service client; 1 when alive.
    std::function<int32_t(const std::string& serviceAddress, const std::string& token)> heartpacket;
    std::function<void()> stopBrowsers;
    // Ends the process with the status; does not return in the program.
    std::function<void(int status)> exitProcess;
};

class CPanoviewDlg {
public:
    CPanoviewDlg(SystemConfig& config, PanoviewDlgServices services)
        : config_(config), services_(std::move(services)) {}

    // Adds the tray icon, then runs the settings dialog ("/set" in the
    // command line) or the login command, then starts the keep-alive timer.
    void OnInitDialog(const std::string& commandLineTail);

    // A mouse message of a tray icon: a double click runs the login command,
    // a right-button release opens the menu at the cursor. Another icon's
    // messages return 1, everything else 0.
    int OnTrayNotify(uint32_t iconId, uint32_t mouseMessage);

    // Runs the menu command of the id; unknown ids do nothing.
    void OnCommand(uint32_t id);

    void OnLogin();
    void OnSettings();
    void OnAbout();
    void OnExit();
    void OnTimer(int id);
    // The tray host came back: the icon is added again with its tooltip.
    int OnTaskbarCreated();
    // The window ends another way (a signal): the icon goes, the browsers stay.
    void DestroyWindow();

    // The keep-alive period in force.
    int keepAlivePeriod() const { return keepAlivePeriod_; }

private:
    void endProgram();

    SystemConfig& config_;
    PanoviewDlgServices services_;
    bool loginDialogCreated_ = false;
    int keepAlivePeriod_ = kKeepAlivePeriodMs;
};

// The tray icon's tooltip in the language chosen at start-up.
std::string trayTooltip();
