#pragma once

#include "core/seams/platform.h"

#include <QElapsedTimer>

namespace tarnivel {

class QtPlatform : public Platform {
public:
    QtPlatform();
    void sleepMs(int ms) override;
    void pumpEvents() override;
    qint64 nowMs() const override;

private:
    QElapsedTimer clock_;
};

// For a program that serves its clients from the event loop (the Alpaca server): a command's
// wait for its answer dispatches nothing, so no request and no timer of the device can put a
// command on the wire inside another's wait; they run once the answer is in.
class QtServedPlatform final : public QtPlatform {
public:
    void pumpEvents() override {}
};

} // namespace tarnivel
