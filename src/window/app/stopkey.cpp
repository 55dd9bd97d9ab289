#include "window/app/stopkey.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>

namespace tarnivel {

StopKey::StopKey(QWidget* mainWindow, std::function<bool()> moving,
                 std::function<bool()> calibrating, std::function<bool()> stop)
    : QObject(mainWindow), mainWindow_(mainWindow), moving_(std::move(moving)),
      calibrating_(std::move(calibrating)), stop_(std::move(stop)) {
    qApp->installEventFilter(this);
}

bool StopKey::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType() || !mainWindow_)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Escape || key->modifiers() != Qt::NoModifier)
        return false;
    const QWidget* window = static_cast<QWidget*>(watched)->window();
    if (window == mainWindow_ || calibrating_())
        return false;
    const bool dialog = qobject_cast<const QDialog*>(window) || QApplication::activeModalWidget();
    if (dialog && !moving_())
        return false;
    // Taken here, so that the same Esc does not also close the dialog it was pressed in.
    return stop_();
}

} // namespace tarnivel
