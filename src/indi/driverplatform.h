#pragma once

#include "core/motion/sequence.h"
#include "core/seams/platform.h"

#include <functional>

namespace tarnivel {

// Time for the link inside one command: a real sleep. There are no window events to pump;
// requests reach the driver between commands, from INDI's event loop.
class DriverPlatform final : public Platform {
public:
    void sleepMs(int ms) override;
    void pumpEvents() override {}
    qint64 nowMs() const override;
};

// Spends the waits of a calibration on INDI's event loop: every pause and every event pump
// becomes a timer, so an abort is read between any two of the sequence's commands.
class TimerPacer final : public Pacer {
public:
    TimerPacer() = default;
    TimerPacer(const TimerPacer&) = delete;
    TimerPacer& operator=(const TimerPacer&) = delete;
    ~TimerPacer() override { Cancel(); }

    // Called after every resumed step (the owner looks whether the sequence ended).
    std::function<void()> afterStep;

    bool WaitInPlace(int) override { return false; }
    void Resume(int ms, std::coroutine_handle<> next) override;
    // Resumes the waiting sequence at once instead of at its time.
    void ResumeNow();
    // Forgets the waiting sequence (its owner destroys it).
    void Cancel();
    bool Waiting() const { return static_cast<bool>(next_); }

private:
    static void Fire(void* self);

    int timer_ = -1;
    std::coroutine_handle<> next_;
};

} // namespace tarnivel
