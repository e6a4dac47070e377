#include "cloud/LoginDlg.h"

#include "common/DebugPrint.h"

namespace {

namespace say {
constexpr TextPair kButtonSignedOut{"登录", "Login"};
constexpr TextPair kButtonSigningIn{"登录中", "Logining"};
constexpr TextPair kButtonSignedIn{"登出", "Logout"};
constexpr TextPair kTitle{"Loomhaven监控", "Loomhaven Monitor"};
constexpr TextPair kEmptyField{"账号密码不能为空！", "Account password cannot be empty!"};
// The template's own texts, the same in both languages; OnInitDialog puts
// button 1's text in the operator's language.
constexpr TextPair kCaption{"Loomhaven监控", "Loomhaven监控"};
constexpr TextPair kButton{"登录", "登录"};
constexpr TextPair kCancel{"取消", "取消"};
constexpr TextPair kAccountLabel{"账号", "账号"};
constexpr TextPair kPasswordLabel{"密码", "密码"};
} // namespace say

} // namespace

LoginTexts CLoginDlg::texts() {
    return {pick(say::kCaption), pick(say::kButton), pick(say::kCancel), pick(say::kAccountLabel),
            pick(say::kPasswordLabel)};
}

CLoginDlg::CLoginDlg(ILoginView& view, SystemConfig& config, LoginServices services)
    : view_(view), config_(config), services_(std::move(services)) {}

void CLoginDlg::setButton(const TextPair& text) {
    view_.setButtonText(pick(text));
}

void CLoginDlg::OnInitDialog() {
    // The default account goes in whole, also when it is longer than the
    // box lets an operator type.
    if (!config_.userId.empty())
        view_.setAccountText(config_.userId);
    setButton(config_.signedIn ? say::kButtonSignedIn : say::kButtonSignedOut);
    view_.centreOn(config_.primaryMonitor.rcMonitor);
}

void CLoginDlg::OnBnClickedOk() {
    account_ = view_.accountText();
    password_ = view_.passwordText();

    if (config_.signedIn) {
        // The sign-out runs on a client of its own, on this thread. Only a
        // confirmed sign-out changes anything: a refused one leaves the
        // session, its texts and its browsers as they are.
        std::unique_ptr<LSystem> client = services_.localClient();
        if (LSystem::Logout(*client, config_.serviceAddress) == 1) {
            setButton(say::kButtonSignedOut);
            view_.setTitle(pick(say::kTitle));
            services_.stopBrowsers();
            config_.token.clear();
            config_.signedIn = false;
        }
        return;
    }

    // Only empty fields are refused; a password of blanks is a password.
    if (account_.empty() || password_.empty()) {
        view_.showMessage(pick(texts::kAppCaption), pick(say::kEmptyField));
        return;
    }

    // The disabled button keeps a second sign-in out while the worker reads
    // the account and writes the token.
    setButton(say::kButtonSigningIn);
    view_.setButtonEnabled(false);
    config_.userId = account_;
    config_.password = password_;
    bool started = false;
    try {
        started = services_.startThread([this] { SignInThread(); });
    } catch (...) {
        started = false;
    }
    if (!started) {
        // No worker, no result would ever come: the sign-in fails here, and
        // the button comes back instead of staying disabled for good.
        DebugPrint("%s(): no thread could be started for the sign-in\n", "CLoginDlg::SignInThread");
        OnSignInResult(false);
    }
}

void CLoginDlg::SignInThread() {
    std::string token;
    std::string displayName;
    LSystem& client = services_.sharedClient();
    bool succeeded = false;
    if (LSystem::Login(config_.serviceAddress, token, client, config_.userId, config_.password,
                       displayName) == 1) {
        config_.token = token;
        config_.userName = displayName;
        // A factory that cannot be entered does not undo the sign-in.
        LSystem::EnterFactory(config_.serviceAddress, config_.factoryId, client, token);
        succeeded = true;
    }
    // The last thing the worker does: after this call the UI thread owns the
    // token and the user name again.
    services_.postToUiThread([this, succeeded] { OnSignInResult(succeeded); });
}

void CLoginDlg::OnSignInResult(bool succeeded) {
    if (succeeded) {
        config_.signedIn = true;
        setButton(say::kButtonSignedIn);
        view_.setTitle(std::string(pick(say::kTitle)) + " - " + config_.userName);
        view_.hideWindow();
        services_.startLaunchThread(config_);
    } else {
        setButton(say::kButtonSignedOut);
    }
    view_.setButtonEnabled(true);
}
