#include "platform/linux/qt/UiThread.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace platform {

void postToUiThread(std::function<void()> call) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return;
    QMetaObject::invokeMethod(application, std::move(call), Qt::QueuedConnection);
}

} // namespace platform
