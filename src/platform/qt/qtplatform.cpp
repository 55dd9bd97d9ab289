#include "platform/qt/qtplatform.h"

#include <QCoreApplication>
#include <QThread>

namespace tarnivel {

QtPlatform::QtPlatform() {
    clock_.start();
}

void QtPlatform::sleepMs(int ms) {
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

void QtPlatform::pumpEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

qint64 QtPlatform::nowMs() const {
    return clock_.elapsed();
}

} // namespace tarnivel
