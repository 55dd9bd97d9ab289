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

// For a device served on a thread of its own (the Alpaca server): a command's wait for its
// answer dispatches nothing, so neither a client's verb nor one of the device's timers can put
// a command on the wire inside another's wait; they run once the answer is in.
class QtServedPlatform final : public QtPlatform {
public:
    void pumpEvents() override {}
};

} // namespace tarnivel
