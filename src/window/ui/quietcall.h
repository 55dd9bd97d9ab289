#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

namespace tarnivel {

// Runs a call at the next quiet moment: the program's own event loop is about to wait for
// input, no command, goto or pause is pumping events further down the stack, no modal box
// or dialog is open and no mouse button is held. A message box raised from inside a
// command's wait would stall that command (and the poll tick with it); one raised while a
// button is held would swallow the button's release, and with it a STOP or a jog's end.
class QuietCall : public QObject {
    Q_OBJECT
public:
    QuietCall(std::function<void()> call, QObject* parent = nullptr);

    // Arms the call; several requests before it runs make one call.
    void request();
    // The call also waits while this says so (the focuser moving: a box then would stand
    // between the operator and STOP).
    void holdWhile(std::function<bool()> busy) { hold_ = std::move(busy); }
    bool pending() const { return timer_.isActive(); }

private:
    void onTimeout();
    bool quiet() const;

    std::function<void()> call_;
    std::function<bool()> hold_;
    QTimer timer_;
    // True from the moment an event loop's exec is about to wait until the next dispatch
    // starts; a wait that pumps events (processEvents without waiting) clears it.
    bool loopIdle_ = false;
};

} // namespace tarnivel
