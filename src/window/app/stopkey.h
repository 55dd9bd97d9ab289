#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

namespace tarnivel {

// Esc is STOP in every window of the program, not only in the main window (which has its
// own shortcut): the plot, a dialog or a message box may be in front while the focuser
// moves. In a dialog, where Esc also means Cancel, it is STOP only while something moves,
// and then only STOP; a calibration's dialog keeps Esc for its own Cancel.
class StopKey : public QObject {
    Q_OBJECT
public:
    // moving: a goto or a jog is under way; calibrating: a calibration runs; stop: STOP.
    StopKey(QWidget* mainWindow, std::function<bool()> moving, std::function<bool()> calibrating,
            std::function<bool()> stop);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> mainWindow_;
    std::function<bool()> moving_;
    std::function<bool()> calibrating_;
    std::function<bool()> stop_;
};

} // namespace tarnivel
