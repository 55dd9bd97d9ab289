#include "virtualplatform.h"

#include <QCoreApplication>

namespace tarnivel::test {

void VirtualPlatform::advance(qint64 ms) {
    if (ms <= 0)
        return;
    now_ += ms;
    for (auto& l : advance_)
        l(now_);
}

void VirtualPlatform::sleepMs(int ms) {
    ++sleepCalls;
    sleptMs += ms;
    advance(ms);
}

void VirtualPlatform::pumpEvents() {
    ++pumpCalls;
    // Copy: a hook may add hooks.
    auto hooks = pump_;
    for (auto& h : hooks)
        h();
    if (processQtEvents && QCoreApplication::instance())
        QCoreApplication::processEvents();
}

} // namespace tarnivel::test
