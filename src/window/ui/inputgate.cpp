#include "window/ui/inputgate.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QShortcutEvent>
#include <QThread>
#include <QWidget>

namespace tarnivel {

namespace {

const char* const kLetThrough = "tarnivelLetThrough";

int LoopLevel() {
    return QThread::currentThread()->loopLevel();
}

bool IsEscape(const QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        return static_cast<const QKeyEvent*>(event)->key() == Qt::Key_Escape;
    case QEvent::Shortcut:
        return static_cast<const QShortcutEvent*>(event)->key() == QKeySequence(Qt::Key_Escape);
    default:
        return false;
    }
}

// The operator's own input (a shortcut comes from a key already let through).
bool IsInput(const QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
        return event->spontaneous();
    case QEvent::Shortcut:
        return true;
    default:
        return false;
    }
}

// What asks for something, as against the release that ends it.
bool IsPress(const QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::Shortcut:
        return true;
    default:
        return false;
    }
}

} // namespace

InputGate::InputGate(std::function<bool()> waiting, QObject* parent)
    : QObject(parent), waiting_(std::move(waiting)) {
    handOn_.setSingleShot(true);
    handOn_.setInterval(0);
    connect(&handOn_, &QTimer::timeout, this, &InputGate::HandOn);
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
}

InputGate::~InputGate() {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

InputGate::Scope::Scope(InputGate* gate) : gate_(gate) {
    if (gate_)
        gate_->scopes_.push_back(LoopLevel());
}

InputGate::Scope::~Scope() {
    if (!gate_)
        return;
    gate_->scopes_.pop_back();
    if (!gate_->held_.empty())
        gate_->handOn_.start();
}

void InputGate::LetThrough(QWidget* control) {
    control->setProperty(kLetThrough, true);
}

bool InputGate::Holding() const {
    return (!scopes_.empty() && scopes_.back() == LoopLevel()) || (waiting_ && waiting_());
}

bool InputGate::eventFilter(QObject* watched, QEvent* event) {
    if (event == handing_ || !watched->isWidgetType())
        return false;
    // A drag goes on behind the press that started it.
    if (event->type() == QEvent::MouseMove && event->spontaneous() && !held_.empty()) {
        held_.push_back({QPointer<QObject>(watched), std::unique_ptr<QEvent>(event->clone())});
        return true;
    }
    if (!IsInput(event))
        return false;
    if (IsEscape(event) || watched->property(kLetThrough).toBool()) {
        // STOP has the last word: what was asked for before it and is still held never
        // happens. Releases still go, so that no button stays down.
        if (IsPress(event))
            std::erase_if(held_, [](const Held& h) { return IsPress(h.event.get()); });
        return false;
    }
    // Behind input already held nothing overtakes: keys would come out of order.
    if (held_.empty() && !Holding())
        return false;
    held_.push_back({QPointer<QObject>(watched), std::unique_ptr<QEvent>(event->clone())});
    handOn_.start();
    return true;
}

void InputGate::HandOn() {
    if (held_.empty())
        return;
    if (Holding()) {
        handOn_.start();
        return;
    }
    Held next = std::move(held_.front());
    held_.pop_front();
    // Armed first: when this event opens a dialog, the rest follows inside its loop.
    if (!held_.empty())
        handOn_.start();
    if (!next.receiver)
        return;
    const QEvent* outer = handing_;
    handing_ = next.event.get();
    QCoreApplication::sendEvent(next.receiver, next.event.get());
    handing_ = outer;
}

} // namespace tarnivel
