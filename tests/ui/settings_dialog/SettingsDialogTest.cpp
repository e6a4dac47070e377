// The settings dialog driven as an operator drives it, offscreen: radios
// clicked, boxes typed, Save pressed and the message answered; the saved
// Panoview.config compared byte for byte; every control at its pixels for the
// pinned dialog font; the displays shown in boxes 1006 and 1005.
#include "Language.h"
#include "TempDir.h"
#include "platform/linux/qt/DialogLayout.h"
#include "settings/ConfigFile.h"
#include "settings/SystemSet.h"
#include "settings/qt/SystemSetView.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QtTest>
#include <cstring>
#include <functional>

using namespace systemset;

namespace {

MonitorInfo monitor(const char* device, const char* description, Rect rect) {
    MonitorInfo info;
    std::strncpy(info.szDevice, device, sizeof info.szDevice - 1);
    info.description = description;
    info.rcMonitor = rect;
    info.rcWork = rect;
    return info;
}

SystemConfig wallRecord() {
    SystemConfig config;
    config.userId = "operator";
    config.factoryId = "F001";
    config.primaryMonitor = monitor("WALL1", "screen", {1280, 0, 2560, 1080});
    config.primaryMonitor.dwFlags = MONITORINFOF_PRIMARY;
    config.extendedMonitors = {monitor("WALL2", "WALL2", {2560, 0, 3840, 1080}),
                               monitor("WALL0", "WALL0", {0, 0, 1280, 1080})};
    return config;
}

// The dialog on a record, saving into a folder of the test's own.
struct Opened {
    explicit Opened(const SystemConfig& record,
                    std::function<void(SystemSetServices&)> adjust = nullptr)
        : config(record), dialog(std::make_unique<SystemSetView>(config, services(adjust))),
          rules(dialog->controller()) {}
    SystemSetServices services(const std::function<void(SystemSetServices&)>& adjust) {
        SystemSetServices s;
        s.displayDevice = displayDevicesOf(config);
        s.saveConfig = saveConfigFile;
        s.configPath = dir.file("Panoview.config");
        if (adjust)
            adjust(s);
        return s;
    }
    template <typename T = QWidget> T* control(int id) {
        return dialog->findChild<T*>(QStringLiteral("id%1").arg(id));
    }
    // Runs the dialog; the operator acts once it is up.
    int run(std::function<void()> act) {
        QTimer::singleShot(0, dialog.get(), act);
        // Only a guard against a hang: a healthy run ends long before.
        QTimer::singleShot(60000, dialog.get(), [this] { dialog->done(-1); });
        return dialog->DoModal();
    }

    TempDir dir;
    SystemConfig config;
    std::unique_ptr<SystemSetView> dialog;
    CSystemSet& rules;
};

// Answers every message box that comes up with OK, noting its text.
class MessageAnswerer : public QObject {
public:
    MessageAnswerer() {
        connect(&timer_, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            texts.push_back(box->text());
            box->button(QMessageBox::Ok)->click();
        });
        timer_.start(10);
    }
    QStringList texts;

private:
    QTimer timer_;
};

// Types the text as an operator does: Latin letters key by key, Chinese
// through the input method, which commits each character.
void typeText(QWidget* box, const QString& text) {
    for (QChar c : text) {
        if (c.unicode() < 0x80) {
            QTest::keyClick(box, c.toLatin1());
            continue;
        }
        QInputMethodEvent commit;
        commit.setCommitString(QString(c));
        QApplication::sendEvent(box, &commit);
    }
}

void click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

// Opens the list with the keyboard, goes down to the item and takes it.
bool chooseFromList(QComboBox* combo, int position) {
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Down, Qt::AltModifier);
    QAbstractItemView* list = combo->view();
    if (!list->isVisible())
        return false;
    // The open list starts on its first item.
    for (int i = 0; i < position; ++i)
        QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return);
    return combo->currentIndex() == position && !list->isVisible();
}

} // namespace

class SettingsDialogTest : public QObject {
    Q_OBJECT
private slots:

    void operatorSavesAndTheFileIsTheDocument() {
        Opened opened(wallRecord());
        MessageAnswerer answers;
        const int result = opened.run([&] {
            QLineEdit* site = opened.control<QLineEdit>(IDC_SITE_ADDRESS);
            site->selectAll();
            typeText(site, "http://factory/");
            typeText(opened.control<QComboBox>(IDC_MACHINE_TYPE)->lineEdit(), "袜机");
            // The primary display shows the order progress of one order.
            click(opened.control<QRadioButton>(IDC_PRIMARY_DISPLAY));
            click(opened.control<QRadioButton>(IDC_PAGE_ORDER_PROGRESS));
            typeText(opened.control<QLineEdit>(IDC_ORDER_PROGRESS_PARAMETERS),
                     "orderid=1&autoscroll=y");
            // The second item of the list, [WALL2], shows the machines of two
            // areas.
            QVERIFY(chooseFromList(opened.control<QComboBox>(IDC_EXTENDED_LIST), 1));
            QCOMPARE(opened.rules.currentDisplayKey(), 2);
            QVERIFY(opened.control<QRadioButton>(IDC_EXTENDED_DISPLAY)->isChecked());
            click(opened.control<QRadioButton>(IDC_PAGE_MACHINE_STATUS));
            typeText(opened.control<QLineEdit>(IDC_AREA_NAMES), "一车间|二车间");
            // Enter presses Save.
            QTest::keyClick(opened.control<QLineEdit>(IDC_AREA_NAMES), Qt::Key_Return);
        });
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(answers.texts, QStringList{"保存成功，重启后生效。"});
        QCOMPARE(QString::fromStdString(opened.dir.read("Panoview.config")),
                 QString::fromUtf8(
                     "{\n"
                     "\t\"userid\":\t\"operator\",\n"
                     "\t\"address\":\t\"http://127.0.0.1:8088\",\n"
                     "\t\"factoryid\":\t\"F001\",\n"
                     "\t\"web\":\t\"http://factory/\",\n"
                     "\t\"srurl\":\t[{\n"
                     "\t\t\t\"pri\":\t\"true\",\n"
                     "\t\t\t\"url\":\t\"http://factory//HosieryUI/D_OrderSchedule.html?token=%s&"
                     "flag=multiscreen&orderid=1&autoscroll=y\"\n"
                     "\t\t}, {\n"
                     "\t\t\t\"pri\":\t\"false\",\n"
                     "\t\t\t\"url\":\t\"http://factory//HosieryUI/A_MachineMonitor.html?token=%s&"
                     "flag=multiscreen&areaname=一车间|二车间\"\n"
                     "\t\t}]\n"
                     "}"));
    }

    void refusalsKeepTheDialogOpenAndCancelWritesNothing() {
        ScopedLanguage english(true);
        Opened opened(wallRecord());
        opened.dir.write("Panoview.config", "old");
        MessageAnswerer answers;
        const int result = opened.run([&] {
            click(opened.control<QPushButton>(IDOK));
            QLineEdit* machineType = opened.control<QComboBox>(IDC_MACHINE_TYPE)->lineEdit();
            typeText(machineType, "MyUI");
            // Enter in the machine type presses Save too.
            QTest::keyClick(machineType, Qt::Key_Return);
            QVERIFY(opened.dialog->isVisible());
            QTest::keyClick(opened.dialog.get(), Qt::Key_Escape);
        });
        QCOMPARE(result, int(QDialog::Rejected));
        QCOMPARE(answers.texts,
                 (QStringList{"Please select machine type!",
                              "Please configure the display object for the display first!"}));
        QCOMPARE(QString::fromStdString(opened.dir.read("Panoview.config")), QString("old"));
    }

    // Return presses Save after a click on any control the operator can
    // click (each radio button and each box, the machine type's and the
    // display list's edit fields included), one dialog each: Save answers
    // with a message (saved, or what is missing), and the dialog is not
    // cancelled.
    void returnAfterAClickOnAnyControlPressesSave() {
        const auto clickable = [](QWidget* w) {
            return (qobject_cast<QRadioButton*>(w) || qobject_cast<QLineEdit*>(w)) &&
                   w->isEnabled() && !w->isHidden();
        };
        // A control by its own name, or its box's for a box's edit field.
        const auto nameOf = [](QWidget* w) {
            return w->objectName().isEmpty() ? w->parentWidget()->objectName() + "/edit"
                                             : w->objectName();
        };
        QStringList names;
        {
            Opened first(wallRecord());
            for (QWidget* w : first.dialog->findChildren<QWidget*>())
                if (clickable(w))
                    names << nameOf(w);
        }
        QVERIFY2(names.size() >= 10, qPrintable(names.join(' ')));
        QVERIFY(names.contains(QString("id%1/edit").arg(IDC_MACHINE_TYPE)));
        for (const QString& name : names) {
            Opened opened(wallRecord());
            MessageAnswerer answers;
            const int result = opened.run([&] {
                QWidget* control = nullptr;
                for (QWidget* w : opened.dialog->findChildren<QWidget*>())
                    if (clickable(w) && nameOf(w) == name)
                        control = w;
                QVERIFY2(control, qPrintable(name));
                QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(6, control->height() / 2));
                QWidget* focus = QApplication::focusWidget();
                QTest::keyClick(focus ? focus : control, Qt::Key_Return);
                if (opened.dialog->isVisible())
                    opened.dialog->done(QDialog::Rejected + 7);
            });
            QVERIFY2(result != QDialog::Rejected, qPrintable(name));
            QVERIFY2(answers.texts.size() == 1, qPrintable(name + ": " + answers.texts.join('|')));
        }
    }

    void radiosClearAndBoxesFollowThePage() {
        Opened opened(wallRecord());
        opened.run([&] {
            auto* primary = opened.control<QRadioButton>(IDC_PRIMARY_DISPLAY);
            auto* knitting = opened.control<QRadioButton>(IDC_PAGE_KNITTING_RECORD);
            auto* parameters = opened.control<QLineEdit>(IDC_KNITTING_RECORD_PARAMETERS);
            for (int id : {1002, 1003, 1007, 1009, 1010, 1011, 1014})
                QVERIFY(!opened.control<QRadioButton>(id)->isChecked());
            for (int id : {1008, 1015, 1016, 1017})
                QVERIFY(!opened.control(id)->isEnabled());
            click(primary);
            click(knitting);
            QVERIFY(parameters->isEnabled());
            typeText(parameters, "pattern=P");
            // Another display without a page: every page radio cleared.
            QVERIFY(chooseFromList(opened.control<QComboBox>(IDC_EXTENDED_LIST), 0));
            QCOMPARE(opened.rules.currentDisplayKey(), 1);
            QVERIFY(!primary->isChecked());
            for (int id : {1007, 1009, 1010, 1011, 1014})
                QVERIFY(!opened.control<QRadioButton>(id)->isChecked());
            QVERIFY(!parameters->isEnabled());
            QCOMPARE(parameters->text(), QString());
            // The group checks again after being cleared.
            click(opened.control<QRadioButton>(IDC_PAGE_FACTORY_OVERVIEW));
            QVERIFY(opened.control<QRadioButton>(IDC_PAGE_FACTORY_OVERVIEW)->isChecked());
            click(primary);
            QVERIFY(knitting->isChecked());
            QVERIFY(!opened.control<QRadioButton>(IDC_PAGE_FACTORY_OVERVIEW)->isChecked());
            QCOMPARE(parameters->text(), QString("pattern=P"));
            opened.dialog->reject();
        });
    }

    void limitsCountCharactersAndKeepLoadedTextWhole() {
        SystemConfig record = wallRecord();
        record.userId = std::string(30, 'u');
        Opened opened(record);
        opened.run([&] {
            auto* account = opened.control<QLineEdit>(IDC_ACCOUNT);
            QCOMPARE(account->text().size(), 30);
            QTest::keyClick(account, Qt::Key_End);
            typeText(account, "x");
            QCOMPARE(account->text().size(), 30); // no longer by typing
            QTest::keyClick(account, Qt::Key_Backspace);
            QCOMPARE(account->text().size(), 29); // but shorter
            account->clear();
            typeText(account, QString(25, QChar(0x7EC7))); // 织
            QCOMPARE(account->text(), QString(20, QChar(0x7EC7)));
            click(opened.control<QRadioButton>(IDC_PRIMARY_DISPLAY));
            click(opened.control<QRadioButton>(IDC_PAGE_MACHINE_STATUS));
            auto* areas = opened.control<QLineEdit>(IDC_AREA_NAMES);
            typeText(areas, QString(210, 'a'));
            QCOMPARE(areas->text().size(), 200);
            QCOMPARE(opened.rules.pageChoices().at(0).parameters, std::string(200, 'a'));
            opened.dialog->reject();
        });
    }

    void helpAppearsAfter200msInTheLanguage_data() {
        QTest::addColumn<int>("english");
        QTest::addColumn<QString>("areaHelp");
        QTest::addColumn<QString>("orderHelp");
        QTest::newRow("Chinese") << 0 << "监控界面关联的区域名，格式：“区域一|区域二”"
                                 << "<订单进度监控>附带参数，格式：“orderid=XX&autoscroll=y/"
                                    "n”，orderid：订单号，autoscroll：自动滚动";
        QTest::newRow("English") << 1
                                 << "The name of the area associated with the monitoring "
                                    "interface, format:\"Area1|Area2\""
                                 << "<Order schedule monitor>Additional "
                                    "parameters,format:\"orderid=XX&autoscroll=y/n\"";
    }
    void helpAppearsAfter200msInTheLanguage() {
        QFETCH(int, english);
        QFETCH(QString, areaHelp);
        QFETCH(QString, orderHelp);
        ScopedLanguage language(english != 0);
        Opened opened(wallRecord());
        opened.run([&] {
            auto shown = [&](int id) {
                return QTextDocumentFragment::fromHtml(opened.control(id)->toolTip()).toPlainText();
            };
            QCOMPARE(shown(IDC_AREA_NAMES), areaHelp);
            QCOMPARE(shown(IDC_ORDER_PROGRESS_PARAMETERS), orderHelp);
            for (int id : {1008, 1015, 1016, 1017}) {
                QWidget* box = opened.control(id);
                QCOMPARE(box->style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay, nullptr, box),
                         200);
            }
            QStringList types;
            auto* machine = opened.control<QComboBox>(IDC_MACHINE_TYPE);
            for (int i = 0; i < machine->count(); ++i)
                types << machine->itemText(i);
            const QStringList sorted =
                english ? QStringList{"Embroidery machine", "Flat knitting machine",
                                      "Glove machine", "Sock machine"}
                        : QStringList{"刺绣机", "横机", "手套机", "袜机"};
            QCOMPARE(types, sorted);
            QCOMPARE(machine->currentText(), QString());
            QCOMPARE(machine->currentIndex(), -1);
            opened.dialog->reject();
        });
    }

    void displayBoxesShowTheScriptedDisplays() {
        // Devices named as a desktop with real monitors names them; the
        // second extended display's adapter does not answer.
        SystemConfig record = wallRecord();
        record.extendedMonitors.push_back(monitor("WALL3", "", {3840, 0, 5120, 1080}));
        Opened opened(record, [](SystemSetServices& s) {
            s.displayDevice = [](const char* name, uint32_t index, platform::DisplayDevice& d) {
                if (!name) {
                    static const char* adapters[] = {"WALL1", "WALL2", "WALL0", "WALL3"};
                    if (index == 2 || index > 3)
                        return false;
                    d = {adapters[index], "Virtual adapter"};
                    return true;
                }
                if (std::string(name) == "WALL2")
                    d = {"LG 27UL850", "LG 27UL850"};
                else if (std::string(name) == "WALL1")
                    d = {"DELL U2720Q", "DELL U2720Q"};
                else
                    return false; // no monitor attached: the adapter's own description
                return true;
            };
        });
        opened.run([&] {
            QCOMPARE(opened.control<QLineEdit>(IDC_PRIMARY_NAME)->text(),
                     QString("[WALL1] DELL U2720Q"));
            auto* list = opened.control<QComboBox>(IDC_EXTENDED_LIST);
            QStringList items;
            for (int i = 0; i < list->count(); ++i)
                items << list->itemText(i);
            QCOMPARE(items, (QStringList{"[WALL2] LG 27UL850", "[WALL3] Virtual adapter"}));
            QCOMPARE(list->currentIndex(), -1);
            opened.dialog->reject();
        });
    }

    void everyControlAtItsPixels() {
        // WenQuanYi Micro Hei 9 pt at 96 dpi: 344 pixels for the 52 letters
        // (7 a character) and 14 high, so a dialog unit is 7/4 pixel across
        // and 14/8 down, rounded half away from zero.
        const QFont font = platform::dialogFont();
        QCOMPARE(QFontInfo(font).family(), QString("WenQuanYi Micro Hei"));
        const DialogBaseUnits base = platform::dialogBaseUnits(font);
        QCOMPARE(base.x, 7);
        QCOMPARE(base.y, 14);

        Opened opened(wallRecord());
        QCOMPARE(opened.dialog->size(), QSize(459, 464)); // 262 x 265
        const std::pair<int, QRect> expected[] = {
            {1001, {133, 16, 299, 25}},  // 76,9,171,14
            {1012, {133, 51, 299, 25}},  // 76,29,171 (closed: 14 high)
            {1013, {133, 82, 301, 25}},  // 76,47,172,14
            {1004, {133, 117, 299, 25}}, // 76,67,171,14
            {1002, {23, 165, 109, 18}},  // 13,94,62,10
            {1006, {133, 161, 301, 25}}, // 76,92,172,14
            {1003, {23, 200, 109, 18}},  // 13,114,62,10
            {1005, {133, 198, 299, 25}}, // 76,113,171 (closed: 14 high)
            {1007, {23, 247, 107, 18}},  // 13,141,61,10
            {1008, {133, 242, 299, 25}}, // 76,138,171,14
            {1009, {23, 275, 107, 18}},  // 13,157,61,10
            {1015, {133, 270, 299, 25}}, // 76,154,171,14
            {1010, {23, 303, 107, 18}},  // 13,173,61,10
            {1016, {133, 298, 299, 25}}, // 76,170,171,14
            {1011, {23, 331, 107, 18}},  // 13,189,61,10
            {1017, {133, 326, 299, 25}}, // 76,186,171,14
            {1014, {23, 359, 107, 18}},  // 13,205,61,10
            {1, {231, 431, 84, 30}},     // 132,246,48,17
            {2, {340, 431, 88, 30}},     // 194,246,50,17
        };
        for (const auto& [id, rect] : expected)
            QVERIFY2(opened.control(id)->geometry() == rect, qPrintable(QString::number(id)));

        // The statics: labels at (13,12) ... (13,69), the lines and the note.
        QStringList statics;
        for (QObject* child : opened.dialog->children()) {
            auto* widget = qobject_cast<QWidget*>(child);
            if (!widget || !widget->objectName().isEmpty())
                continue;
            const QRect g = widget->geometry();
            auto* label = qobject_cast<QLabel*>(widget);
            statics << QString("%1 %2,%3,%4,%5")
                           .arg(label ? label->text() : QString("line"))
                           .arg(g.x())
                           .arg(g.y())
                           .arg(g.width())
                           .arg(g.height());
        }
        QCOMPARE(statics,
                 (QStringList{"服务地址 23,21,105,14", "机器类型 23,54,105,14",
                              "默认账号 23,88,105,14", "站点地址 23,121,105,14",
                              "line 4,138,452,14", "line 4,219,452,16", "line 4,378,452,14",
                              "除主显示器外的显示器，请配置为扩展模式。 26,403,292,28"}));
        // The note's one line fits its width.
        auto* note = opened.dialog->findChildren<QLabel*>().last();
        QVERIFY(note->fontMetrics().horizontalAdvance(note->text()) <= note->width());
    }

    void tabFollowsTheTemplateAndTheWindowIsTheDialogs() {
        Opened opened(wallRecord());
        QCOMPARE(opened.dialog->windowTitle(), QString("设置"));
        QVERIFY(!opened.dialog->windowIcon().isNull());
        QVERIFY(opened.control<QPushButton>(IDOK)->isDefault());
        QCOMPARE(opened.control<QPushButton>(IDOK)->text(), QString("保存(&S)"));
        QCOMPARE(opened.control<QPushButton>(IDCANCEL)->text(), QString("取消(&Q)"));
        QStringList chain;
        QWidget* w = opened.dialog.get();
        do {
            w = w->nextInFocusChain();
            if (!w->objectName().isEmpty() && w->parentWidget() == opened.dialog.get())
                chain << w->objectName();
        } while (w != opened.dialog.get());
        QCOMPARE(chain, (QStringList{"id1001", "id1002", "id1003", "id1007", "id1009", "id1010",
                                     "id1011", "id1014", "id1005", "id1008", "id1", "id2", "id1006",
                                     "id1012", "id1013", "id1004", "id1015", "id1016", "id1017"}));
        // Centred on the primary display.
        // Centred on the primary display: 1280 + (1280 - 459) / 2 across,
        // (1080 - 464) / 2 down.
        opened.run([&] {
            QCOMPARE(opened.dialog->frameGeometry().topLeft(), QPoint(1691, 308));
            opened.dialog->reject();
        });
    }
};

QTEST_MAIN(SettingsDialogTest)
#include "SettingsDialogTest.moc"
