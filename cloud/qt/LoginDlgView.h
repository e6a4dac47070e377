// The login dialog's window (template 130): the button, the account and
// password boxes and their labels over the painted background. Every press
// goes to CLoginDlg, which tells the window what to show.
#pragma once

#include "cloud/LoginDlg.h"
#include "common/DialogUnits.h"

#include <QDialog>
#include <QImage>

class QLabel;
class QLineEdit;
class QPushButton;

// Template 130 in dialog units: the client area and its controls.
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

class LoginDlgView : public QDialog, public ILoginView {
    Q_OBJECT
public:
    // Builds the window hidden and runs the dialog's OnInitDialog once.
    LoginDlgView(SystemConfig& config, LoginServices services, QWidget* parent = nullptr);

    CLoginDlg& controller() { return controller_; }

    void setButtonText(const std::string& text) override;
    void setButtonEnabled(bool enabled) override;
    void setTitle(const std::string& title) override;
    void setAccountText(const std::string& text) override;
    std::string accountText() override;
    std::string passwordText() override;
    void centreOn(const Rect& area) override;
    void hideWindow() override;
    void showMessage(const std::string& text) override;

protected:
    // The background picture one to one at the client origin, over the
    // default erase and under the controls.
    void paintEvent(QPaintEvent* event) override;

private:
    QImage background_;
    QPushButton* login_ = nullptr;
    QLineEdit* account_ = nullptr;
    QLineEdit* password_ = nullptr;
    CLoginDlg controller_;
};
