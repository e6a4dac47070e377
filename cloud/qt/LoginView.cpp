#include "cloud/qt/LoginView.h"

#include "cloud/qt/LoginBackground.h"
#include "platform/linux/qt/AppIcon.h"
#include "platform/linux/qt/DialogLayout.h"
#include "platform/linux/qt/MessageBox.h"
#include "platform/linux/qt/QtText.h"
#include "platform/linux/qt/TextLimit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

using platform::qtText;
using platform::utf8Text;

LoginView::LoginView(SystemConfig& config, LoginServices services, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      background_(loginBackground()), controller_(*this, config, std::move(services)) {
    using namespace login_template;
    const LoginTexts texts = CLoginDlg::texts();
    setWindowTitle(qtText(texts.title));
    setWindowIcon(platform::applicationIcon());
    setFont(platform::dialogFont());
    const DialogBaseUnits base = platform::dialogBaseUnits(font());
    const Rect client = mapDialogRect(kClient, base);
    setFixedSize(client.width(), client.height());
    // The picture fills the client area whatever size the dialog font makes
    // it, keeping its proportions.
    background_ = coverArea(background_, size());

    // The controls in template order, which is also the Tab order.
    login_ = new QPushButton(qtText(texts.button), this);
    login_->setObjectName("id1");
    login_->setDefault(true);
    platform::placeDialogItem(*login_, kLogin, base);
    connect(login_, &QPushButton::clicked, this, [this] { controller_.OnBnClickedOk(); });

    auto* cancel = new QPushButton(qtText(texts.cancel), this);
    cancel->setObjectName("id2");
    cancel->setAutoDefault(false);
    platform::placeDialogItem(*cancel, kCancel, base);
    cancel->hide();
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* accountLabel = new QLabel(qtText(texts.accountLabel), this);
    accountLabel->setObjectName("accountLabel");
    platform::placeDialogItem(*accountLabel, kAccountLabel, base);
    auto* passwordLabel = new QLabel(qtText(texts.passwordLabel), this);
    passwordLabel->setObjectName("passwordLabel");
    platform::placeDialogItem(*passwordLabel, kPasswordLabel, base);

    account_ = new QLineEdit(this);
    account_->setObjectName("id1000");
    platform::placeDialogItem(*account_, kAccount, base);
    platform::limitTypedText(*account_, kAccountLimit);

    password_ = new QLineEdit(this);
    password_->setObjectName("id1001");
    password_->setEchoMode(QLineEdit::Password);
    platform::placeDialogItem(*password_, kPassword, base);
    platform::limitTypedText(*password_, kPasswordLimit);

    // The first control of the Tab order starts with the focus.
    login_->setFocus();
    controller_.OnInitDialog();
}

void LoginView::setButtonText(const std::string& text) {
    login_->setText(qtText(text));
}

void LoginView::setButtonEnabled(bool enabled) {
    login_->setEnabled(enabled);
}

void LoginView::setTitle(const std::string& title) {
    setWindowTitle(qtText(title));
}

void LoginView::setAccountText(const std::string& text) {
    platform::setTextWhole(*account_, qtText(text));
}

std::string LoginView::accountText() {
    return utf8Text(account_->text());
}

std::string LoginView::passwordText() {
    return utf8Text(password_->text());
}

void LoginView::centreOn(const Rect& area) {
    platform::centreOn(*this, area);
}

void LoginView::hideWindow() {
    hide();
}

void LoginView::showMessage(const std::string& caption, const std::string& text) {
    platform::showMessage(this, caption, text);
}

void LoginView::showAboveTheWall() {
    platform::showAboveTheWall(*this);
}

void LoginView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, background_);
}
