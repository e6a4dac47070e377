#include "platform/linux/qt/Application.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdlib>

namespace platform {

void preferX11Windows() {
    const char* chosen = std::getenv("QT_QPA_PLATFORM");
    if (!chosen || !*chosen)
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
}

std::unique_ptr<QApplication> startApplication(int& argc, char** argv, bool english) {
    preferX11Windows();
    auto application = std::make_unique<QApplication>(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (!english) {
        auto* chinese = new QTranslator(application.get());
        if (chinese->load("qtbase_zh_CN", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QApplication::installTranslator(chinese);
    }
    return application;
}

} // namespace platform
