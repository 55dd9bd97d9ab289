#pragma once

#include "core/seams/sequence.h"

#include <functional>

namespace tarnivel {

// Timers of a front end that gives every wait back to its event loop (the INDI driver's
// event loop, the Alpaca server's QCoreApplication). A callback runs on that loop, never
// inside another callback.
class Scheduler {
public:
    virtual ~Scheduler() = default;
    // Calls fn once, ms milliseconds from now; returns an id for Cancel.
    virtual int After(int ms, std::function<void()> fn) = 0;
    // Forgets a timer that has not fired; an unknown or fired id is ignored.
    virtual void Cancel(int id) = 0;
    // A client's request has arrived and is not yet handled. It may be an abort, so no motion
    // frame goes out and no command is tried again until the loop has read it.
    virtual bool RequestWaiting() const { return false; }
};

// Spends a sequence's waits on a Scheduler: every pause and every event pump becomes a timer,
// so a request (an abort) is read between any two of the sequence's commands.
class TimerPacer final : public Pacer {
public:
    explicit TimerPacer(Scheduler& scheduler) : scheduler_(scheduler) {}
    TimerPacer(const TimerPacer&) = delete;
    TimerPacer& operator=(const TimerPacer&) = delete;
    ~TimerPacer() override { Cancel(); }

    // Called after every resumed step (the owner looks whether the sequence ended).
    std::function<void()> afterStep;
    // Asked when a wait is over: true keeps the sequence waiting past its time until Release,
    // so that it never puts its commands between those of something that must not be split.
    std::function<bool()> hold;
    // The waits inside a command go back to the loop as well: the window's, whose only
    // handler that may send meanwhile is a stop, which the link lets through.
    bool commandWaits = false;

    bool SpendsCommandWaits() const override { return commandWaits; }

    bool WaitInPlace(int) override { return false; }
    void Resume(int ms, std::coroutine_handle<> next) override {
        next_ = next;
        Arm(ms == kPumpOnly ? 0 : ms);
    }
    // A sequence kept waiting by hold goes on after a turn of the loop, unless hold still
    // keeps it then.
    void Release() {
        if (held_) {
            held_ = false;
            Arm(0);
        }
    }
    // Resumes the waiting sequence at once instead of at its time.
    void ResumeNow() {
        if (timer_ != -1)
            scheduler_.Cancel(timer_);
        timer_ = -1;
        held_ = false;
        const std::coroutine_handle<> next = next_;
        next_ = {};
        if (next)
            next.resume();
        if (afterStep)
            afterStep();
    }
    // Forgets the waiting sequence; its owner destroys it afterwards, never before.
    void Cancel() {
        if (timer_ != -1)
            scheduler_.Cancel(timer_);
        timer_ = -1;
        held_ = false;
        next_ = {};
    }
    bool Waiting() const { return static_cast<bool>(next_); }

private:
    void Arm(int ms) {
        timer_ = scheduler_.After(ms, [this] {
            timer_ = -1;
            if (hold && hold())
                held_ = true;
            else
                ResumeNow();
        });
    }

    Scheduler& scheduler_;
    int timer_ = -1;
    bool held_ = false;
    std::coroutine_handle<> next_;
};

} // namespace tarnivel
