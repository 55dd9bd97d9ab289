#include "window/ui/qtbusycursor.h"

#include <QCursor>
#include <QGuiApplication>

namespace tarnivel {

QtBusyCursor::~QtBusyCursor() {
    setBusy(false);
}

void QtBusyCursor::setBusy(bool busy) {
    if (busy == busy_)
        return;
    busy_ = busy;
    if (busy)
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    else
        QGuiApplication::restoreOverrideCursor();
}

} // namespace tarnivel
