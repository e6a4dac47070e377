#include "settings/qt/SystemSetView.h"

#include "platform/BrowserWindows.h"
#include "platform/linux/qt/AppIcon.h"
#include "platform/linux/qt/DialogLayout.h"
#include "platform/linux/qt/MessageBox.h"
#include "platform/linux/qt/QtText.h"
#include "platform/linux/qt/TextLimit.h"

#include <QButtonGroup>
#include <QCollator>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>

using namespace systemset;
using platform::qtText;
using platform::utf8Text;

namespace {

// The wait before a box's help appears.
class ToolTipDelay : public QProxyStyle {
public:
    explicit ToolTipDelay(int delayMs) : delayMs_(delayMs) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_ToolTip_WakeUpDelay)
            return delayMs_;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }

private:
    int delayMs_;
};

// A combo box with an edit field whose items stay sorted by text in the
// order of the Chinese desktop (pinyin for Chinese, letters for Latin), and
// that tells when its list is about to open.
class SortedComboBox : public QComboBox {
public:
    explicit SortedComboBox(QWidget* parent, std::function<void()> dropDown)
        : QComboBox(parent), dropDown_(std::move(dropDown)) {
        setEditable(true);
        setInsertPolicy(QComboBox::NoInsert);
        collator_.setCaseSensitivity(Qt::CaseInsensitive);
    }
    void addSorted(const QString& item) {
        const int selected = currentIndex();
        const QString shown = currentText();
        int at = 0;
        while (at < count() && collator_.compare(itemText(at), item) <= 0)
            ++at;
        insertItem(at, item);
        // Adding an item changes neither the selection nor the text.
        setCurrentIndex(selected < 0 ? -1 : selected + (at <= selected ? 1 : 0));
        setEditText(shown);
    }
    void showPopup() override {
        dropDown_();
        QComboBox::showPopup();
    }

private:
    QCollator collator_{QLocale(QLocale::Chinese, QLocale::China)};
    std::function<void()> dropDown_;
};

} // namespace

SystemSetView::SystemSetView(const SystemConfig& config, SystemSetServices services)
    : rules_(*this, config, std::move(services)) {
    setWindowTitle(qtText(caption()));
    setWindowIcon(platform::applicationIcon());
    // A modal frame with a caption and the close box only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);
    const QFont font = platform::dialogFont();
    setFont(font);
    const DialogBaseUnits base = platform::dialogBaseUnits(font);
    const Rect client = mapDialogRect({0, 0, kWidth, kHeight}, base);
    setFixedSize(client.width(), client.height());

    // Created in template order, so that Tab follows it.
    QButtonGroup* group = nullptr;
    for (const TemplateItem& item : templateItems()) {
        const int id = item.id;
        const QString text = qtText(item.text);
        QWidget* widget = nullptr;
        DialogItem place{item.x, item.y, item.cx, item.cy};
        switch (item.kind) {
        case ControlKind::Edit: {
            auto* edit = new QLineEdit(this);
            connect(edit, &QLineEdit::textChanged, this,
                    [this, id] { rules_.OnCommand(id, Notice::Change); });
            widget = edit;
            break;
        }
        case ControlKind::ComboBox: {
            auto* combo =
                new SortedComboBox(this, [this, id] { rules_.OnCommand(id, Notice::DropDown); });
            connect(combo, &QComboBox::activated, this,
                    [this, id] { rules_.OnCommand(id, Notice::SelChange); });
            // The template's height is that of the open list; the closed box
            // is as high as an edit box.
            place.cy = 14;
            widget = combo;
            break;
        }
        case ControlKind::Radio: {
            auto* radio = new QRadioButton(text, this);
            if (item.startsGroup || !group) {
                group = new QButtonGroup(this);
                group->setExclusive(true);
            }
            group->addButton(radio);
            groups_[id] = group;
            connect(radio, &QRadioButton::clicked, this,
                    [this, id] { rules_.OnCommand(id, Notice::Clicked); });
            widget = radio;
            break;
        }
        case ControlKind::DefaultButton:
        case ControlKind::Button: {
            auto* button = new QPushButton(text, this);
            button->setDefault(item.kind == ControlKind::DefaultButton);
            connect(button, &QPushButton::clicked, this,
                    [this, id] { rules_.OnCommand(id, Notice::Clicked); });
            widget = button;
            break;
        }
        case ControlKind::Label:
            widget = new QLabel(text, this);
            break;
        case ControlKind::Note: {
            auto* note = new QLabel(text, this);
            note->setWordWrap(true);
            note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = note;
            break;
        }
        case ControlKind::Separator: {
            auto* line = new QFrame(this);
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Sunken);
            widget = line;
            break;
        }
        }
        platform::placeDialogItem(*widget, place, base);
        widget->setEnabled(!item.disabled);
        if (id) {
            widget->setObjectName(QStringLiteral("id%1").arg(id));
            controls_[id] = widget;
        }
    }
}

int SystemSetView::DoModal() {
    rules_.OnInitDialog();
    control(IDC_SERVICE_ADDRESS)->setFocus();
    platform::lowerBrowserWindows(); // so that the dialog comes above the wall
    return exec();
}

QWidget* SystemSetView::control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

QButtonGroup* SystemSetView::groupOf(int id) const {
    auto it = groups_.find(id);
    return it == groups_.end() ? nullptr : it->second;
}

bool SystemSetView::isChecked(int id) const {
    auto* radio = qobject_cast<QRadioButton*>(control(id));
    return radio && radio->isChecked();
}

void SystemSetView::setChecked(int id, bool checked) {
    auto* radio = qobject_cast<QRadioButton*>(control(id));
    if (!radio)
        return;
    // An exclusive group refuses to clear its last checked button: the
    // group lets go for the moment of the clearing.
    QButtonGroup* group = groupOf(id);
    if (!checked && group)
        group->setExclusive(false);
    radio->setChecked(checked);
    if (!checked && group)
        group->setExclusive(true);
}

void SystemSetView::enable(int id, bool enabled) {
    if (QWidget* widget = control(id))
        widget->setEnabled(enabled);
}

std::string SystemSetView::text(int id) const {
    QWidget* widget = control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return utf8Text(edit->text());
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        return utf8Text(combo->currentText());
    return {};
}

void SystemSetView::setText(int id, const std::string& text) {
    QWidget* widget = control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        // The dialog's own text is never held against the limit.
        platform::setTextWhole(*edit, qtText(text));
    } else if (auto* combo = qobject_cast<QComboBox*>(widget))
        combo->setEditText(qtText(text));
}

void SystemSetView::limitText(int id, int limit) {
    if (auto* edit = qobject_cast<QLineEdit*>(control(id)))
        platform::limitTypedText(*edit, limit);
}

void SystemSetView::addItem(int id, const std::string& item) {
    if (auto* combo = dynamic_cast<SortedComboBox*>(control(id)))
        combo->addSorted(qtText(item));
}

int SystemSetView::selectedItem(int id) const {
    auto* combo = qobject_cast<QComboBox*>(control(id));
    return combo ? combo->currentIndex() : -1;
}

void SystemSetView::setToolTip(int id, const std::string& text, int delayMs) {
    QWidget* widget = control(id);
    if (!widget)
        return;
    auto* style = new ToolTipDelay(delayMs);
    style->setParent(widget);
    widget->setStyle(style);
    // Plain text on one line, as the desktop's tooltip shows it; the help
    // begins with "<...>", which must not be taken for a tag.
    widget->setToolTip(Qt::convertFromPlainText(qtText(text), Qt::WhiteSpaceNoWrap));
}

void SystemSetView::centreOn(const Rect& area) {
    centreArea_ = area;
    centredWithFrame_ = false;
    platform::centreOn(*this, area);
}

void SystemSetView::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    if (!centredWithFrame_ && isVisible() && frameGeometry() != geometry()) {
        centredWithFrame_ = true;
        platform::centreOn(*this, centreArea_);
    }
}

void SystemSetView::showMessage(const std::string& caption, const std::string& text) {
    platform::showMessage(this, caption, text);
}

void SystemSetView::endDialog(bool accepted) {
    done(accepted ? Accepted : Rejected);
}
