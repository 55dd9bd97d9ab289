#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QWidget;

namespace tarnivel {

// The operator's input while one of the window's waits runs (a poll tick, a command waiting
// for its answer): the waits pump events so that STOP goes out at once, and only what stops
// the focuser (STOP, Esc, a calibration's Cancel) is let through there. Every other click,
// key or wheel turn is held and handed on, in the order it came, as soon as no wait runs. A
// handler that opens a file chooser, a message box or a dialog thus never starts its nested
// event loop inside a wait, where it would hold that wait (and the poll, a goto's next leg
// and the compensation behind it) until it closed; opened after the wait, the poll goes on
// inside its loop. STOP still has the last word: what was pressed before it and is still held
// is dropped.
class InputGate : public QObject {
public:
    // waiting: a command waits for its answer, at whatever loop level.
    explicit InputGate(std::function<bool()> waiting, QObject* parent = nullptr);
    ~InputGate() override;
    InputGate(const InputGate&) = delete;
    InputGate& operator=(const InputGate&) = delete;

    // A wait of the window's own (the tick, the connect) from here to the end of the scope.
    // A box the program raises inside it runs a loop of its own, whose input goes through.
    class Scope {
    public:
        explicit Scope(InputGate& gate) : Scope(&gate) {}
        // No gate (a dialog tested without the main window): nothing is held.
        explicit Scope(InputGate* gate);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        InputGate* gate_;
    };

    // Input for this control is never held: it stops the focuser.
    static void LetThrough(QWidget* control);
    bool Holding() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Held {
        QPointer<QObject> receiver;
        std::unique_ptr<QEvent> event;
    };
    void HandOn();

    std::function<bool()> waiting_;
    std::vector<int> scopes_; // the loop level of each wait under way
    std::deque<Held> held_;
    QTimer handOn_;
    const QEvent* handing_ = nullptr;
};

} // namespace tarnivel
