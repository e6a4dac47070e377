#include "cloud/LoginDlg.h"

#include "common/DebugPrint.h"
#include "platform/Threads.h"
#include "wall/Launcher.h"

LoginServices LoginServices::desktop(Launcher& launcher,
                                     std::function<void(std::function<void()>)> postToUiThread) {
    LoginServices services;
    services.sharedClient = []() -> LSystem& { return LSystem::Instance(); };
    services.localClient = [] { return std::make_unique<LSystem>(); };
    services.startThread = platform::startDetachedThread;
    services.postToUiThread = std::move(postToUiThread);
    services.startLaunchThread = [&launcher](SystemConfig& config) {
        return launcher.startLaunchThread(config);
    };
    services.stopBrowsers = [&launcher] { launcher.StopBrowsers(); };
    return services;
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
    setButton(config_.signedIn ? texts::kLoginButtonSignedIn : texts::kLoginButtonSignedOut);
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
            setButton(texts::kLoginButtonSignedOut);
            view_.setTitle(pick(texts::kLoginTitle));
            services_.stopBrowsers();
            config_.token.clear();
            config_.signedIn = false;
        }
        return;
    }

    // Only empty fields are refused; a password of blanks is a password.
    if (account_.empty() || password_.empty()) {
        view_.showMessage(pick(texts::kLoginEmptyField));
        return;
    }

    // The disabled button keeps a second sign-in out while the worker reads
    // the account and writes the token.
    setButton(texts::kLoginButtonSigningIn);
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
        OnSignInResult(1, 0);
    }
}

void CLoginDlg::SignInThread() {
    std::string token;
    std::string displayName;
    LSystem& client = services_.sharedClient();
    int succeeded = 0;
    if (LSystem::Login(config_.serviceAddress, token, client, config_.userId, config_.password,
                       displayName) == 1) {
        config_.token = token;
        config_.userName = displayName;
        // A factory that cannot be entered does not undo the sign-in.
        LSystem::EnterFactory(config_.serviceAddress, config_.factoryId, client, token);
        succeeded = 1;
    }
    // The last thing the worker does: after this call the UI thread owns the
    // token and the user name again.
    services_.postToUiThread([this, succeeded] { OnSignInResult(1, succeeded); });
}

int CLoginDlg::OnSignInResult(int wParam, int lParam) {
    if (wParam != 1)
        return 0;
    if (lParam == 1) {
        config_.signedIn = true;
        setButton(texts::kLoginButtonSignedIn);
        view_.setTitle(std::string(pick(texts::kLoginTitle)) + " - " + config_.userName);
        view_.hideWindow();
        services_.startLaunchThread(config_);
    } else {
        setButton(texts::kLoginButtonSignedOut);
    }
    view_.setButtonEnabled(true);
    return 0;
}
