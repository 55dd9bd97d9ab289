#pragma once

#include "core/seams/platform.h"

#include <functional>
#include <vector>

namespace tarnivel::test {

// Virtual time: a sleep advances the clock at once and tells the listeners (the
// simulated controller), so long waits cost no real time.
class VirtualPlatform : public Platform {
public:
    void sleepMs(int ms) override;
    void pumpEvents() override;
    qint64 nowMs() const override { return now_; }

    // Called after every advance of the clock with the new time.
    void onAdvance(std::function<void(qint64)> listener) {
        advance_.push_back(std::move(listener));
    }
    // Called on every pumpEvents, before Qt's own events are processed: a test's way to
    // act "while" a command waits (press Cancel at 3 s, pull the cable, ...).
    void onPump(std::function<void()> hook) { pump_.push_back(std::move(hook)); }
    void advance(qint64 ms);

    // Whether pumpEvents also runs QCoreApplication::processEvents (default on).
    bool processQtEvents = true;
    int sleepCalls = 0;
    int pumpCalls = 0;
    qint64 sleptMs = 0;

private:
    qint64 now_ = 0;
    std::vector<std::function<void(qint64)>> advance_;
    std::vector<std::function<void()>> pump_;
};

} // namespace tarnivel::test
