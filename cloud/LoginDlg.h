// The login dialog's rules: one button that signs in while signed out and
// signs out while signed in, the sign-in worker and its hand-off back to the
// UI thread, and the texts the window shows. The window itself is a thin view
// behind ILoginView; everything else arrives through LoginServices.
#pragma once

#include "cloud/LSystem.h"
#include "common/DialogUnits.h"
#include "common/Geometry.h"
#include "common/Texts.h"
#include "settings/SystemConfig.h"

#include <functional>
#include <memory>
#include <string>

// Template 130 in dialog units: the client area and its controls, in the
// order that keyboard navigation follows.
namespace login_template {
inline constexpr DialogItem kClient{0, 0, 193, 169};
inline constexpr DialogItem kLogin{127, 124, 39, 32};     // button 1, the default
inline constexpr DialogItem kCancel{169, 3, 22, 21};      // button 2, hidden
inline constexpr DialogItem kAccountLabel{8, 126, 29, 8}; // "账号"
inline constexpr DialogItem kPasswordLabel{8, 150, 29, 8};
inline constexpr DialogItem kAccount{37, 121, 79, 14};  // edit 1000
inline constexpr DialogItem kPassword{37, 145, 79, 14}; // edit 1001
inline constexpr int kAccountLimit = 11;                // characters an operator may type
inline constexpr int kPasswordLimit = 32;
} // namespace login_template

// The texts the login window shows.
struct LoginTexts {
    std::string title;
    std::string button; // button 1 as the window is built
    std::string cancel; // button 2, hidden
    std::string accountLabel;
    std::string passwordLabel;
};

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
    // Moves the window so that it is centred on the area (an empty one: the
    // primary screen); it stays as shown or hidden as it was.
    virtual void centreOn(const Rect& area) = 0;
    virtual void hideWindow() = 0;
    // A message box with an OK button, waited for.
    virtual void showMessage(const std::string& caption, const std::string& text) = 0;
};

// What the login dialog needs from the rest of the program. The program gives
// the real ones; tests give scripted ones.
struct LoginServices {
    // The program's shared service client, for the sign-in.
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
};

class CLoginDlg {
public:
    // The texts of the window as its template gives them.
    static LoginTexts texts();

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

    // A sign-in's result on the UI thread (the desktop's posted sign-in
    // message): true for success.
    void OnSignInResult(bool succeeded);

private:
    void setButton(const TextPair& text);

    ILoginView& view_;
    SystemConfig& config_;
    LoginServices services_;
    // The edits' contents as the last click took them.
    std::string account_;
    std::string password_;
};
