#include "cloud/qt/LoginDlgView.h"

#include "cloud/qt/LoginBackground.h"
#include "common/Texts.h"
#include "platform/linux/qt/DialogLayout.h"
#include "platform/linux/qt/TextLimit.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

namespace {

QString utf8(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

LoginDlgView::LoginDlgView(SystemConfig& config, LoginServices services, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      background_(loginBackground()), controller_(*this, config, std::move(services)) {
    using namespace login_template;
    setWindowTitle(QStringLiteral("Loomhaven监控"));
    setWindowIcon(platform::applicationIcon());
    setFont(platform::dialogFont());
    const DialogBaseUnits base = platform::dialogBaseUnits(font());
    const Rect client = mapDialogRect(kClient, base);
    setFixedSize(client.width(), client.height());

    // The controls in template order, which is also the Tab order.
    login_ = new QPushButton(QStringLiteral("登录"), this);
    login_->setObjectName("id1");
    login_->setDefault(true);
    platform::placeDialogItem(*login_, kLogin, base);
    connect(login_, &QPushButton::clicked, this, [this] { controller_.OnBnClickedOk(); });

    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName("id2");
    cancel->setAutoDefault(false);
    platform::placeDialogItem(*cancel, kCancel, base);
    cancel->hide();
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* accountLabel = new QLabel(QStringLiteral("账号"), this);
    accountLabel->setObjectName("accountLabel");
    platform::placeDialogItem(*accountLabel, kAccountLabel, base);
    auto* passwordLabel = new QLabel(QStringLiteral("密码"), this);
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

void LoginDlgView::setButtonText(const std::string& text) {
    login_->setText(utf8(text));
}

void LoginDlgView::setButtonEnabled(bool enabled) {
    login_->setEnabled(enabled);
}

void LoginDlgView::setTitle(const std::string& title) {
    setWindowTitle(utf8(title));
}

void LoginDlgView::setAccountText(const std::string& text) {
    platform::setTextWhole(*account_, utf8(text));
}

std::string LoginDlgView::accountText() {
    return account_->text().toStdString();
}

std::string LoginDlgView::passwordText() {
    return password_->text().toStdString();
}

void LoginDlgView::centreOn(const Rect& area) {
    Rect target = area;
    if (target.width() <= 0 || target.height() <= 0) {
        // No monitor was discovered: the screen Qt calls primary.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        target = {screen.left(), screen.top(), screen.left() + screen.width(),
                  screen.top() + screen.height()};
    }
    platform::centreOn(*this, target);
}

void LoginDlgView::hideWindow() {
    hide();
}

void LoginDlgView::showMessage(const std::string& text) {
    // The program's caption and an OK button, no icon.
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(pick(texts::kAppCaption)), utf8(text),
                    QMessageBox::Ok, this);
    box.exec();
}

void LoginDlgView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, background_);
}
