#include "window/ui/quietcall.h"

#include <QAbstractEventDispatcher>
#include <QGuiApplication>
#include <QThread>

namespace tarnivel {

namespace {
// How often a request that found no quiet moment looks again.
constexpr int kRetryMs = 20;
// The application's own exec; a modal box or dialog runs a nested one.
constexpr int kMainLoopLevel = 1;
} // namespace

QuietCall::QuietCall(std::function<void()> call, QObject* parent)
    : QObject(parent), call_(std::move(call)) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &QuietCall::onTimeout);
    if (auto* dispatcher = QAbstractEventDispatcher::instance(thread())) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                [this] { loopIdle_ = true; });
        connect(dispatcher, &QAbstractEventDispatcher::awake, this, [this] { loopIdle_ = false; });
    }
}

void QuietCall::request() {
    if (!timer_.isActive())
        timer_.start(0);
}

bool QuietCall::quiet() const {
    return loopIdle_ && QThread::currentThread()->loopLevel() <= kMainLoopLevel &&
           QGuiApplication::mouseButtons() == Qt::NoButton && !(hold_ && hold_());
}

void QuietCall::onTimeout() {
    if (!quiet()) {
        timer_.start(kRetryMs);
        return;
    }
    call_();
}

} // namespace tarnivel
