// Writes the application icon as PNG files, one per size, for the desktop
// entry and the icon theme: the same painting the program shows in its
// windows and its tray.
#include "platform/linux/qt/AppIcon.h"

#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-icon OUTPUT-FOLDER\n");
        return 2;
    }
    QGuiApplication application(argc, argv);
    const QIcon icon = platform::applicationIcon();
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString path = QString("%1/panoview-%2.png").arg(argv[1]).arg(size);
        if (!icon.pixmap(size, size).save(path, "PNG")) {
            std::fprintf(stderr, "make-icon: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
