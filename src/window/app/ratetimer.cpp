#include "window/app/ratetimer.h"

namespace tarnivel {

RateTimer::RateTimer(QObject* parent) : QObject(parent) {
    // The poll cycle paces serial traffic; a coarse timer would stretch the nominal 50 ms.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { fire(); });
    soon_.setSingleShot(true);
    connect(&soon_, &QTimer::timeout, this, [this] { fire(); });
}

void RateTimer::setInterval(int ms) {
    interval_ = ms < 0 ? 0 : ms;
    arm();
}

void RateTimer::setEnabled(bool enabled) {
    enabled_ = enabled;
    arm();
}

void RateTimer::setManual(bool manual) {
    manual_ = manual;
    arm();
}

bool RateTimer::fire() {
    soonWanted_ = false;
    if (!isArmed())
        return false;
    Q_EMIT timeout();
    return true;
}

void RateTimer::fireSoon() {
    soonWanted_ = true;
    if (!manual_)
        soon_.start(0);
}

void RateTimer::arm() {
    if (!isArmed()) {
        timer_.stop();
        soon_.stop();
        soonWanted_ = false;
        return;
    }
    if (manual_) {
        timer_.stop();
        return;
    }
    // Re-enabling a running timer keeps its phase, as a timer control does.
    if (!timer_.isActive() || timer_.interval() != interval_)
        timer_.start(interval_);
}

} // namespace tarnivel
