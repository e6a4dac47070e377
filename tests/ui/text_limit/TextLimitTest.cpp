// The typing limit of the edit boxes, the same in both dialogs: a text the
// program puts in stays whole however long, the operator may shorten it or
// replace characters of it, and typing never makes a text longer than the
// limit, or an over-long text any longer.
#include "cloud/qt/LoginView.h"
#include "settings/qt/SystemSetView.h"

#include <QLineEdit>
#include <QtTest>
#include <functional>
#include <memory>

namespace {

// One edit box of one of the dialogs, with the text the program put in.
struct Box {
    const char* dialog;
    int limit;
    QLineEdit* edit;
};

enum class Act { ReplaceFirst, AppendOne, DeleteLast };

void act(QLineEdit* edit, Act what) {
    edit->setFocus();
    switch (what) {
    case Act::ReplaceFirst:
        edit->setSelection(0, 1);
        QTest::keyClick(edit, Qt::Key_X);
        break;
    case Act::AppendOne:
        edit->end(false);
        QTest::keyClick(edit, Qt::Key_Y);
        break;
    case Act::DeleteLast:
        edit->end(false);
        QTest::keyClick(edit, Qt::Key_Backspace);
        break;
    }
}

} // namespace

class TextLimitTest : public QObject {
    Q_OBJECT
private slots:
    void bothDialogsKeepOneRule() {
        SystemConfig config;
        LoginView login(config, LoginServices{});
        SystemSetView settings(config, SystemSetServices{});
        settings.controller().OnInitDialog();
        struct Case {
            const char* name;
            int overLimit; // characters past the limit the program puts in
            Act act;
            int change; // of the length; 0 with the text unchanged means refused
            bool changed;
        };
        const Case cases[] = {
            {"an over-long text: one character replaced", 4, Act::ReplaceFirst, 0, true},
            {"an over-long text: one more refused", 4, Act::AppendOne, 0, false},
            {"an over-long text: shortened", 4, Act::DeleteLast, -1, true},
            {"at the limit: one character replaced", 0, Act::ReplaceFirst, 0, true},
            {"at the limit: one more refused", 0, Act::AppendOne, 0, false},
            {"below the limit: one more typed", -1, Act::AppendOne, 1, true},
        };
        for (const Case& c : cases) {
            const std::vector<std::function<Box(const std::string&)>> boxes{
                [&](const std::string& text) {
                    login.setAccountText(text);
                    return Box{"login", login_template::kAccountLimit,
                               login.findChild<QLineEdit*>("id1000")};
                },
                [&](const std::string& text) {
                    settings.setText(systemset::IDC_ACCOUNT, text);
                    return Box{"settings", CSystemSet::kAccountLimit,
                               settings.findChild<QLineEdit*>("id1013")};
                },
            };
            for (const auto& open : boxes) {
                const int limit = open("").limit;
                const std::string text(size_t(limit + c.overLimit), 'a');
                Box box = open(text);
                QVERIFY(box.edit);
                QCOMPARE(box.edit->text().size(), qsizetype(text.size()));
                const QString before = box.edit->text();
                act(box.edit, c.act);
                const QString after = box.edit->text();
                const QString where = QString("%1: %2").arg(box.dialog, c.name);
                QVERIFY2((after != before) == c.changed, qPrintable(where));
                QVERIFY2(after.size() == before.size() + c.change, qPrintable(where));
            }
        }
    }
};

QTEST_MAIN(TextLimitTest)
#include "TextLimitTest.moc"
