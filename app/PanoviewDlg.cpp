#include "app/PanoviewDlg.h"

#include "app/PanoviewApp.h"
#include "common/Texts.h"

namespace {

constexpr TextPair kTooltip{"Loomhaven多屏监控系统", "Loomhaven multi screen monitoring system"};
constexpr TextPair kQuestionCaption{"提示", "Tips"};
constexpr TextPair kExitQuestion{"确定要退出吗？", "Are you sure you want to exit?"};
constexpr TextPair kKeepAliveQuestion{
    "检测到与服务通讯异常，为了保证正常运行\n建议重新启动程序，是否立即退出软件？",
    "Abnormal communication with the service has been detected. In order to ensure normal "
    "operation \nit is recommended to restart the program. Do you want to exit the software now?"};

} // namespace

const std::vector<TrayMenuItem>& trayMenu() {
    static const std::vector<TrayMenuItem> menu{
        {ID_TRAY_LOGIN, "登录/注销(&L)"},
        {ID_TRAY_SETTINGS, "系统设置(&S)"},
        {0, ""},
        {ID_TRAY_ABOUT, "关于我们(&W)"},
        {0, ""},
        {ID_TRAY_EXIT, "退出(&Q)"},
    };
    return menu;
}

std::string trayTooltip() {
    return pick(kTooltip);
}

void CPanoviewDlg::OnInitDialog(const std::string& commandLineTail) {
    // Pages of an earlier run (kill -9, a crash) would cover the dialogs of
    // this one and show the old session's token for ever.
    if (services_.endLeftoverBrowsers)
        services_.endLeftoverBrowsers();
    view_.showTrayIcon(trayTooltip());
    view_.watchTrayHost(kTrayHostPollMs);
    // The settings dialog is modal: start-up waits for it before the timer
    // starts. The login dialog is modeless and returns at once.
    if (wantsSettings(commandLineTail))
        OnSettings();
    else
        OnLogin();
    view_.startKeepAliveTimer(kKeepAlivePeriodMs);
}

void CPanoviewDlg::OnTrayNotify(TrayClick click) {
    if (click == TrayClick::Double || click == TrayClick::Activate) {
        OnLogin();
    } else if (click == TrayClick::Context) {
        if (uint32_t chosen = view_.showMenu(trayMenu()))
            OnCommand(chosen);
    }
}

void CPanoviewDlg::OnCommand(uint32_t id) {
    switch (id) {
    case ID_TRAY_LOGIN:
        OnLogin();
        break;
    case ID_TRAY_SETTINGS:
        OnSettings();
        break;
    case ID_TRAY_ABOUT:
        OnAbout();
        break;
    case ID_TRAY_EXIT:
        OnExit();
        break;
    default:
        break;
    }
}

RemoteCommand remoteCommand(const std::string& word) {
    if (word == "login")
        return RemoteCommand::Login;
    if (word == "settings")
        return RemoteCommand::Settings;
    return RemoteCommand::None;
}

void CPanoviewDlg::OnRemoteCommand(RemoteCommand command) {
    if (command == RemoteCommand::Login)
        OnLogin();
    else if (command == RemoteCommand::Settings)
        OnSettings();
}

void CPanoviewDlg::OnLogin() {
    // Nothing to sign in for while no display has a page: the settings first.
    if (config_.displays.empty()) {
        OnSettings();
        return;
    }
    if (!loginDialogCreated_) {
        services_.createLoginDialog();
        loginDialogCreated_ = true;
    }
    services_.showLoginDialog();
}

void CPanoviewDlg::OnSettings() {
    services_.runSettingsDialog();
}

void CPanoviewDlg::OnAbout() {
    view_.openUrl(std::string("http://") + kMakerSite);
}

void CPanoviewDlg::OnExit() {
    if (view_.askYesNo(pick(kQuestionCaption), pick(kExitQuestion)))
        endProgram();
}

void CPanoviewDlg::OnTimer(int id) {
    if (id != kKeepAliveTimer || !config_.signedIn || config_.token.empty())
        return;
    if (services_.heartpacket(config_.serviceAddress, config_.token) == 1)
        return;
    // No tick may arrive while the question is open.
    view_.stopKeepAliveTimer();
    if (view_.askYesNo(pick(kQuestionCaption), pick(kKeepAliveQuestion))) {
        endProgram();
        return;
    }
    keepAlivePeriod_ = kKeepAliveSlowPeriodMs;
    view_.startKeepAliveTimer(keepAlivePeriod_);
}

void CPanoviewDlg::OnTaskbarCreated() {
    view_.showTrayIcon(trayTooltip());
}

void CPanoviewDlg::OnEndSession() {
    services_.stopBrowsers();
    DestroyWindow();
}

void CPanoviewDlg::DestroyWindow() {
    view_.hideTrayIcon();
}

// Exit and a keep-alive failure answered Yes: the browsers end, the icon goes,
// and the process ends with status 0. No sign-out is sent.
void CPanoviewDlg::endProgram() {
    services_.stopBrowsers();
    view_.hideTrayIcon();
    services_.exitProcess(0);
}
