// The login dialog's window (template 130): the button, the account and
// password boxes and their labels over the painted background. Every press
// goes to CLoginDlg, which tells the window what to show.
#pragma once

#include "cloud/LoginDlg.h"

#include <QDialog>
#include <QImage>

class QLabel;
class QLineEdit;
class QPushButton;

class LoginView : public QDialog, public ILoginView {
    Q_OBJECT
public:
    // Builds the window hidden and runs the dialog's OnInitDialog once.
    LoginView(SystemConfig& config, LoginServices services, QWidget* parent = nullptr);

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
    // The background picture over the whole client area, under the
    // controls.
    void paintEvent(QPaintEvent* event) override;

private:
    QImage background_;
    QPushButton* login_ = nullptr;
    QLineEdit* account_ = nullptr;
    QLineEdit* password_ = nullptr;
    CLoginDlg controller_;
};
