// The login dialog's window on Windows (dialog 130): the button, the account
// and password boxes and their labels over the background picture (bitmap
// 131). Every press goes to CLoginDlg, which tells the window what to show.
#pragma once

#include "cloud/LoginDlg.h"
#include "platform/win32/Dialog.h"

class LoginWindow : public win32::Dialog, public ILoginView {
public:
    // Makes the window, hidden, owned by the main window, and runs the
    // dialog's OnInitDialog once.
    LoginWindow(SystemConfig& config, LoginServices services, HWND owner);
    ~LoginWindow() override;

    CLoginDlg& controller() { return controller_; }

    // Shows the window again, raised and active above the page browsers,
    // with whatever state it holds.
    void showAboveTheWall();

    void setButtonText(const std::string& text) override;
    void setButtonEnabled(bool enabled) override;
    void setTitle(const std::string& title) override;
    void setAccountText(const std::string& text) override;
    std::string accountText() override;
    std::string passwordText() override;
    void centreOn(const Rect& area) override;
    void hideWindow() override;
    void showMessage(const std::string& caption, const std::string& text) override;

protected:
    bool onInitDialog() override;
    void onCommand(int id, int code) override;
    bool onMessage(UINT message, WPARAM w, LPARAM l, INT_PTR& result) override;

private:
    // The picture at the client origin, one pixel of it for each pixel at
    // 96 dots per inch and scaled with the monitor's DPI.
    void paintBackground(HDC target);

    HBITMAP background_ = nullptr;
    CLoginDlg controller_;
};
