#pragma once

#include <QtGlobal>

namespace tarnivel {

// Time and event dispatch for the single-threaded waits of the link, the goto and
// the calibration. The program uses QtPlatform; tests run on virtual time.
class Platform {
public:
    virtual ~Platform() = default;

    // Blocks for ms milliseconds. Never dispatches events: no other handler may put a
    // frame on the wire between the bytes of the frame being sent.
    virtual void sleepMs(int ms) = 0;
    // Processes window events that are waiting, if any; returns at once otherwise.
    virtual void pumpEvents() = 0;
    // Monotonic milliseconds; only differences are meaningful.
    virtual qint64 nowMs() const = 0;
};

} // namespace tarnivel
