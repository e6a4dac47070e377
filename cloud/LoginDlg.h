// The login dialog's rules: one button that signs in while signed out and
// signs out while signed in, the sign-in worker and its hand-off back to the
// UI thread, and the texts the window shows. The window itself is a thin view
// behind ILoginView; everything else arrives through LoginServices.
#pragma once

#include "cloud/LSystem.h"
#include "common/Geometry.h"
#include "common/Texts.h"
#include "settings/SystemConfig.h"

#include <functional>
#include <memory>
#include <string>

class Launcher;

namespace texts {
inline constexpr TextPair kLoginButtonSignedOut{"登录", "Login"};
inline constexpr TextPair kLoginButtonSigningIn{"登录中", "Logining"};
inline constexpr TextPair kLoginButtonSignedIn{"登出", "Logout"};
inline constexpr TextPair kLoginTitle{"Loomhaven监控", "Loomhaven Monitor"};
inline constexpr TextPair kLoginEmptyField{"账号密码不能为空！",
                                           "Account password cannot be empty!"};
} // namespace texts

// The login window as the rules see it: button 1, the title, the two edits,
// the window's place and its message box.
class ILoginView {
public:
    virtual ~ILoginView() = default;
    virtual void setButtonText(const std::string& text) = 0;
    virtual void setButtonEnabled(bool enabled) = 0;
    virtual void setTitle(const std::string& title) = 0;
    // Puts the text into the account box whole, even past its typing limit.
    virtual void setAccountText(const std::string& text) = 0;
    virtual std::string accountText() = 0;
    virtual std::string passwordText() = 0;
    // Moves the window so that it is centred on the area; it stays as shown
    // or hidden as it was.
    virtual void centreOn(const Rect& area) = 0;
    virtual void hideWindow() = 0;
    // A message box with an OK button, waited for.
    virtual void showMessage(const std::string& text) = 0;
};

// What the login dialog needs from the rest of the program. The program gives
// the real ones (LoginServices::desktop); tests give scripted ones.
struct LoginServices {
    // The shared service client (LSystem::Instance()), for the sign-in.
    std::function<LSystem&()> sharedClient;
    // A fresh local service client for one sign-out.
    std::function<std::unique_ptr<LSystem>()> localClient;
    // Runs the work on a detached worker thread; false when none can be made.
    std::function<bool(std::function<void()> work)> startThread;
    // Queues the call to run later on the UI thread; callable from any thread.
    std::function<void(std::function<void()> call)> postToUiThread;
    // Starts the launch worker on copies of the token and displays taken now
    // (Launcher::startLaunchThread).
    std::function<bool(SystemConfig& config)> startLaunchThread;
    // Ends every page browser, after a launch that still runs (Launcher::StopBrowsers).
    std::function<void()> stopBrowsers;

    // The program's services: the shared and a new local LSystem, a detached
    // std::thread, the launcher's launch and stop, and the given queued call.
    static LoginServices desktop(Launcher& launcher,
                                 std::function<void(std::function<void()>)> postToUiThread);
};

class CLoginDlg {
public:
    // The message that carries a sign-in's result to the UI thread.
    static constexpr int WM_SIGNIN_RESULT = 0x0400 + 42;

    CLoginDlg(ILoginView& view, SystemConfig& config, LoginServices services);
    CLoginDlg(const CLoginDlg&) = delete;
    CLoginDlg& operator=(const CLoginDlg&) = delete;

    // Once, when the window has been built: the default account into its box,
    // button 1's text after the sign-in state, the window centred on the
    // primary monitor.
    void OnInitDialog();

    // Button 1 and the Enter key: signs out while signed in, else starts a
    // sign-in when account and password are both given.
    void OnBnClickedOk();

    // The sign-in worker: Login and EnterFactory on the shared client, the
    // token and user name stored, then one queued OnSignInResult.
    void SignInThread();

    // A sign-in's result on the UI thread. wParam must be 1; lParam is 1 for
    // success, 0 for failure. Returns 0.
    int OnSignInResult(int wParam, int lParam);

private:
    void setButton(const TextPair& text);

    ILoginView& view_;
    SystemConfig& config_;
    LoginServices services_;
    // The edits' contents as the last click took them.
    std::string account_;
    std::string password_;
};
