// The real login window, offscreen: typing and Enter against the stand-in
// cloud service on loopback, the queued result coming back to the window,
// sign-out, Escape, the typing limits, and every control where template 130
// puts it for the pinned dialog font.
#include "LoginPixels.h"

#include "cloud/qt/LoginBackground.h"
#include "cloud/qt/LoginView.h"
#include "platform/Threads.h"
#include "platform/linux/qt/DialogLayout.h"
#include "platform/linux/qt/UiThread.h"
#include "wall/Launcher.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The stand-in cloud service on a free loopback port, for the life of the
// object.
class CloudService {
public:
    CloudService() {
        int out[2];
        if (pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const char* argv[] = {CLOUD_SERVICE, "0", CLOUD_ACCOUNTS, nullptr};
        if (posix_spawn(&pid_, CLOUD_SERVICE, &actions, nullptr, const_cast<char**>(argv),
                        environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        // The first line it writes is its port.
        std::string port;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            port += c;
        close(out[0]);
        address_ = "http://127.0.0.1:" + port;
    }
    ~CloudService() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& address() const { return address_; }

private:
    pid_t pid_ = -1;
    std::string address_;
};

// A launcher whose browsers are only recorded.
struct RecordedWall {
    RecordedWall() {
        LauncherServices s;
        s.spawn = [this](const std::string&, const std::vector<std::string>& args,
                         const std::string&, pid_t& pid, std::function<void(pid_t)>,
                         platform::ChildPipe*, const Rect*) {
            std::lock_guard<std::mutex> lock(mutex);
            addresses.push_back(args.back());
            pid = 4242;
            return 0;
        };
        s.killByName = [this](const std::string& name) {
            std::lock_guard<std::mutex> lock(mutex);
            stopped.push_back(name);
            return 0;
        };
        s.startThread = platform::startDetachedThread;
        launcher = std::make_unique<Launcher>(s);
    }
    std::mutex mutex;
    std::vector<std::string> addresses, stopped;
    std::unique_ptr<Launcher> launcher;
};

// Types each character as a key press carrying it (QTest::keyClicks takes
// Latin-1 only).
void typeText(QWidget* w, const QString& text) {
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

QString text(QWidget* w) {
    if (auto* button = qobject_cast<QPushButton*>(w))
        return button->text();
    return qobject_cast<QLabel*>(w)->text();
}

} // namespace

class LoginDialogTest : public QObject {
    Q_OBJECT
private:
    SystemConfig config;
    RecordedWall wall;

    // The sign-in's client, shared by every view of the test as the
    // program shares its one.
    LSystem shared;

    // The program's services, over the recorded wall.
    LoginServices services() {
        LoginServices s;
        s.sharedClient = [this]() -> LSystem& { return shared; };
        s.localClient = [] { return std::make_unique<LSystem>(); };
        s.startThread = platform::startDetachedThread;
        s.postToUiThread = platform::postToUiThread;
        s.startLaunchThread = [this](SystemConfig& c) {
            return wall.launcher->startLaunchThread(c);
        };
        s.stopBrowsers = [this] { wall.launcher->StopBrowsers(); };
        return s;
    }
    std::unique_ptr<LoginView> makeView() {
        return std::make_unique<LoginView>(config, services());
    }
    QPushButton* button(LoginView& v) { return v.findChild<QPushButton*>("id1"); }
    QLineEdit* edit(LoginView& v, const char* id) { return v.findChild<QLineEdit*>(id); }

private slots:
    void initTestCase() {
        // Refusals go to a shell client that is not there.
        static QTemporaryDir runtime;
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        config.factoryId = "F001";
        config.primaryMonitor.rcMonitor = {0, 0, 1920, 1080};
        config.primaryMonitor.rcWork = config.primaryMonitor.rcMonitor;
        config.displays.push_back({1, "http://pages.test/W_Factory.html?token=%s", 0});
    }

    // Each control where template 130 puts it, in pixels for WenQuanYi
    // Micro Hei 9 pt: the numbers are worked out by hand from that font's
    // base units, not by the code under test.
    void controlsLieAtTheirTemplatePixels() {
        QCOMPARE(QFontInfo(platform::dialogFont()).family(), QStringLiteral("WenQuanYi Micro Hei"));
        auto view = makeView();
        QCOMPARE(view->size(), QSize(pixels::kClient.width(), pixels::kClient.height()));
        const struct {
            const char* name;
            QRect rect;
            QString text;
        } controls[] = {
            {"id1", pixels::kLogin, "登录"},
            {"id2", pixels::kCancel, "取消"},
            {"accountLabel", pixels::kAccountLabel, "账号"},
            {"passwordLabel", pixels::kPasswordLabel, "密码"},
            {"id1000", pixels::kAccount, {}},
            {"id1001", pixels::kPassword, {}},
        };
        for (const auto& c : controls) {
            auto* w = view->findChild<QWidget*>(c.name);
            QVERIFY2(w, c.name);
            QCOMPARE(w->geometry(), c.rect);
            if (!c.text.isNull())
                QCOMPARE(text(w), c.text);
        }
        QVERIFY(view->findChild<QWidget*>("id2")->isHidden());
        QCOMPARE(edit(*view, "id1001")->echoMode(), QLineEdit::Password);
        QVERIFY(button(*view)->isDefault());
        QCOMPARE(view->windowTitle(), QStringLiteral("Loomhaven监控"));
        QVERIFY(!view->windowIcon().isNull());
        // Centred on the primary monitor: (1920 - w) / 2, (1080 - h) / 2.
        QCOMPARE(view->pos(), QPoint((1920 - pixels::kClient.width()) / 2,
                                     (1080 - pixels::kClient.height()) / 2));
    }

    // The picture covers the whole client area (the dialog is wider than its
    // 300 pixels with this font), keeping its proportions: no strip of the
    // default erase on any side.
    void backgroundCoversTheWholeDialog() {
        auto view = makeView();
        const QImage shown = view->grab().toImage();
        const QImage picture = loginBackground();
        QCOMPARE(picture.size(), QSize(kLoginBackgroundWidth, kLoginBackgroundHeight));
        QCOMPARE(picture.format(), QImage::Format_RGB888);
        const QImage covered = coverArea(picture, view->size());
        QCOMPARE(covered.size(), view->size());
        const int right = view->width() - 1, bottom = view->height() - 1;
        for (QPoint p : {QPoint(0, 0), QPoint(150, 120), QPoint(right, 5), QPoint(right, 100),
                         QPoint(20, bottom), QPoint(right, bottom)})
            QCOMPARE(shown.pixelColor(p), covered.pixelColor(p));
        QVERIFY(shown.pixelColor(right, 5) != view->palette().color(QPalette::Window));
        // Proportions kept: a wider area crops the height, never stretches.
        const QImage wide = coverArea(picture, QSize(600, 300));
        QCOMPARE(wide.size(), QSize(600, 300));
        QCOMPARE(coverArea(picture, QSize(300, 485)), picture);
    }

    void typingLimitsKeepALongerDefaultAccountWhole() {
        config.userId = "factory-admin-7";
        auto view = makeView();
        config.userId.clear();
        QLineEdit* account = edit(*view, "id1000");
        QCOMPARE(account->text(), QStringLiteral("factory-admin-7"));
        account->end(false);
        QTest::keyClicks(account, "x");
        QCOMPARE(account->text(), QStringLiteral("factory-admin-7"));
        QTest::keyClick(account, Qt::Key_Backspace);
        QCOMPARE(account->text(), QStringLiteral("factory-admin-"));
        QCOMPARE(view->accountText(), std::string("factory-admin-"));

        account->clear();
        QTest::keyClicks(account, "abcdefghijklmnop");
        QCOMPARE(account->text(), QStringLiteral("abcdefghijk"));
        account->clear();
        typeText(account, QStringLiteral("织机织机织机织机织机织机织机"));
        QCOMPARE(account->text(), QStringLiteral("织机织机织机织机织机织"));
        QLineEdit* password = edit(*view, "id1001");
        QTest::keyClicks(password, QString(40, 'p'));
        QCOMPARE(password->text(), QString(32, 'p'));
    }

    // Enter with an empty password: the message box, answered here, and the
    // dialog as it was.
    void emptyPasswordShowsTheMessage() {
        config.userId = "admin";
        auto view = makeView();
        config.userId.clear();
        view->show();
        QString caption, message;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            caption = box->windowTitle();
            message = box->text();
            box->button(QMessageBox::Ok)->click();
        });
        QTest::keyClick(edit(*view, "id1001"), Qt::Key_Return);
        QCOMPARE(caption, QStringLiteral("Panoview"));
        QCOMPARE(message, QStringLiteral("账号密码不能为空！"));
        QCOMPARE(button(*view)->text(), QStringLiteral("登录"));
        QVERIFY(button(*view)->isEnabled());
        QVERIFY(view->isVisible());
    }

    // Password, Enter, the worker's result queued back from the loopback
    // service; then sign-out and a refused password.
    void enterSignsInThroughTheServiceAndSignsOutAgain() {
        CloudService service;
        config.serviceAddress = service.address();
        // One monitor with room for its page.
        config.primaryMonitor.rcWork = {0, 0, 1280, 1024};
        auto view = makeView();
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        QTest::keyClicks(edit(*view, "id1000"), "admin");
        QTest::keyClicks(edit(*view, "id1001"), "123456");
        QTest::keyClick(edit(*view, "id1001"), Qt::Key_Return);
        QCOMPARE(button(*view)->text(), QStringLiteral("登录中"));
        QVERIFY(!button(*view)->isEnabled());

        QTRY_VERIFY_WITH_TIMEOUT(!view->isVisible(), 30000);
        QCOMPARE(button(*view)->text(), QStringLiteral("登出"));
        QVERIFY(button(*view)->isEnabled());
        QCOMPARE(view->windowTitle(), QStringLiteral("Loomhaven监控 - 王厂长"));
        QVERIFY(config.signedIn);
        QCOMPARE(config.token.size(), size_t(32));
        wall.launcher->waitForLaunch();
        {
            std::lock_guard<std::mutex> lock(wall.mutex);
            QCOMPARE(wall.addresses, std::vector<std::string>{
                                         "http://pages.test/W_Factory.html?token=" + config.token});
        }

        // Shown again, as the tray command does: Enter signs out.
        view->show();
        QTest::keyClick(edit(*view, "id1001"), Qt::Key_Return);
        QCOMPARE(button(*view)->text(), QStringLiteral("登录"));
        QCOMPARE(view->windowTitle(), QStringLiteral("Loomhaven监控"));
        QVERIFY(!config.signedIn);
        QVERIFY(config.token.empty());
        QCOMPARE(wall.stopped, std::vector<std::string>{"Brovia"});

        // A wrong password: back to the signed-out button, still shown.
        edit(*view, "id1001")->clear();
        QTest::keyClicks(edit(*view, "id1001"), "wrong");
        QTest::keyClick(edit(*view, "id1001"), Qt::Key_Enter);
        QVERIFY(!button(*view)->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(button(*view)->isEnabled(), 30000);
        QCOMPARE(button(*view)->text(), QStringLiteral("登录"));
        QVERIFY(view->isVisible());
        QCOMPARE(view->windowTitle(), QStringLiteral("Loomhaven监控"));
        QVERIFY(!config.signedIn);
    }

    // Escape hides the window without ending it; the sign-in it left running
    // still lands.
    void escapeHidesAndTheRunningSignInStillLands() {
        CloudService service;
        config.serviceAddress = service.address();
        config.signedIn = false;
        config.userId = "viewer";
        auto view = makeView();
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        QTest::keyClicks(edit(*view, "id1001"), "view");
        QTest::keyClick(edit(*view, "id1001"), Qt::Key_Return);
        QTest::keyClick(view.get(), Qt::Key_Escape);
        QVERIFY(!view->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(config.signedIn, 30000);
        QCOMPARE(button(*view)->text(), QStringLiteral("登出"));
        QCOMPARE(view->windowTitle(), QStringLiteral("Loomhaven监控 - Wall Viewer"));
        // The close box, too, only hides; shown again, the state is kept.
        view->show();
        QVERIFY(view->close());
        QVERIFY(!view->isVisible());
        view->show();
        QCOMPARE(button(*view)->text(), QStringLiteral("登出"));
        wall.launcher->waitForLaunch();
    }
};

QTEST_MAIN(LoginDialogTest)
#include "LoginDialogTest.moc"
