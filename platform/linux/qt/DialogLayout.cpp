#include "platform/linux/qt/DialogLayout.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace platform {

QFont dialogFont() {
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPointSize(9);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

DialogBaseUnits dialogBaseUnits(const QFont& font) {
    QFontMetrics metrics(font);
    const int alphabet = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogBaseUnits{averageCharWidth(alphabet), metrics.height()};
}

void placeDialogItem(QWidget& widget, const DialogItem& item, DialogBaseUnits base) {
    const Rect r = mapDialogRect(item, base);
    widget.setGeometry(r.left, r.top, r.width(), r.height());
}

void centreOn(QWidget& window, const Rect& area) {
    Rect target = area;
    if (target.width() <= 0 || target.height() <= 0) {
        // No monitor was discovered: the screen the desktop calls primary.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        target = {screen.left(), screen.top(), screen.left() + screen.width(),
                  screen.top() + screen.height()};
    }
    const QRect frame = window.frameGeometry();
    window.move(target.left + target.width() / 2 - frame.width() / 2,
                target.top + target.height() / 2 - frame.height() / 2);
}

} // namespace platform
