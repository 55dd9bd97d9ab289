#pragma once

#include "core/seams/platform.h"

#include <QtGlobal>
#include <coroutine>
#include <exception>
#include <optional>
#include <utility>

namespace tarnivel {

// How the waits of a long sequence (a calibration, the blocking goto) are spent. The window
// waits in place, sleeping and pumping its events; the INDI driver hands each wait back to its
// event loop as a timer, so an abort arriving meanwhile is seen at once.
class Pacer {
public:
    static constexpr int kPumpOnly = -1;

    virtual ~Pacer() = default;
    // Waits ms milliseconds (kPumpOnly: gives waiting events a turn) and returns true, or
    // returns false when the wait is to be spent elsewhere: then Resume follows.
    virtual bool WaitInPlace(int ms) = 0;
    virtual void Resume(int ms, std::coroutine_handle<> next) = 0;
    // Whether the polls inside a command's wait for its answer are spent here too. A front end
    // whose requests may not run while a command waits (the served ones: a verb would find
    // the line taken) keeps them in place on the link's platform, a command at a time.
    virtual bool SpendsCommandWaits() const { return false; }
};

// Sleeps and pumps on the platform: the window's waits, byte for byte as before.
class InlinePacer final : public Pacer {
public:
    explicit InlinePacer(Platform& platform) : platform_(platform) {}
    bool WaitInPlace(int ms) override {
        if (ms == kPumpOnly)
            platform_.pumpEvents();
        else
            platform_.sleepMs(ms);
        return true;
    }
    void Resume(int, std::coroutine_handle<> next) override { next.resume(); }

private:
    Platform& platform_;
};

// Runs a sequence straight through, with no pause and no turn of any loop: for a caller in the
// middle of a conversation with the controller, where nothing else may go out.
class StraightPacer final : public Pacer {
public:
    bool WaitInPlace(int) override { return true; }
    void Resume(int, std::coroutine_handle<> next) override { next.resume(); }
};

// A wait always reaches await_suspend: only there may a pacer take the suspended sequence
// and resume it later. A pacer that waits in place has done so when the sequence goes on.
struct PacedWait {
    Pacer& pacer;
    int ms;
    bool await_ready() const noexcept { return false; }
    bool await_suspend(std::coroutine_handle<> next) {
        if (pacer.WaitInPlace(ms))
            return false;
        // The pacer may resume (and so end and free) the sequence before this returns.
        pacer.Resume(ms, next);
        return true;
    }
    void await_resume() const noexcept {}
};

inline PacedWait Pause(Pacer& pacer, int ms) {
    return PacedWait{pacer, ms};
}

inline PacedWait PumpEvents(Pacer& pacer) {
    return PacedWait{pacer, Pacer::kPumpOnly};
}

// A sequence that may wait: started with Start(), awaited from another sequence, finished
// when Done(). It does not start before it is started or awaited.
template <typename T> class [[nodiscard]] Sequence {
public:
    struct promise_type {
        std::optional<T> value;
        std::coroutine_handle<> continuation;

        Sequence get_return_object() {
            return Sequence(std::coroutine_handle<promise_type>::from_promise(*this));
        }
        std::suspend_always initial_suspend() noexcept { return {}; }
        struct Final {
            bool await_ready() noexcept { return false; }
            std::coroutine_handle<> await_suspend(std::coroutine_handle<promise_type> h) noexcept {
                const std::coroutine_handle<> next = h.promise().continuation;
                return next ? next : std::noop_coroutine();
            }
            void await_resume() noexcept {}
        };
        Final final_suspend() noexcept { return {}; }
        void return_value(T v) { value = std::move(v); }
        void unhandled_exception() { std::terminate(); }
    };

    Sequence() = default;
    Sequence(Sequence&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
    Sequence& operator=(Sequence&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, {});
        }
        return *this;
    }
    Sequence(const Sequence&) = delete;
    Sequence& operator=(const Sequence&) = delete;
    ~Sequence() { Reset(); }

    void Start() {
        if (handle_ && !handle_.done())
            handle_.resume();
    }
    bool Valid() const { return static_cast<bool>(handle_); }
    // True also for an empty sequence (default-made, moved from or Reset): nothing waits.
    bool Done() const { return !handle_ || handle_.done(); }
    // The result once the sequence has run to its co_return. T{} for one that never ran (never
    // started, still waiting, Reset or empty): a caller that must tell these apart from a real
    // T{} asks Valid() and Done() before Reset.
    T Result() const {
        if (handle_ && handle_.done() && handle_.promise().value)
            return *handle_.promise().value;
        return T{};
    }
    // Drops a sequence that has run to its end (its owner's look after each step); true when
    // it did, false while it waits or when there is none.
    bool ResetIfDone() {
        if (!handle_ || !handle_.done())
            return false;
        Reset();
        return true;
    }
    // Drops a sequence wherever it waits; whoever paces it must not resume it afterwards.
    void Reset() {
        if (handle_)
            handle_.destroy();
        handle_ = {};
    }

    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> caller) {
        handle_.promise().continuation = caller;
        return handle_;
    }
    T await_resume() { return Result(); }

    // Starts the sequence with its waits spent in place and returns its result. Only for a
    // pacer that waits in place: with one that defers, the sequence still waits on return, and
    // that pacer must be cancelled before this sequence goes out of scope.
    T RunToEnd() {
        Start();
        const bool ended = handle_ && handle_.done();
        Q_ASSERT_X(ended, "Sequence::RunToEnd", "a wait was deferred");
        if (!ended) {
            qWarning("Sequence::RunToEnd: the sequence waits on a deferring pacer; no result");
            return T{};
        }
        return Result();
    }

private:
    explicit Sequence(std::coroutine_handle<promise_type> h) : handle_(h) {}
    std::coroutine_handle<promise_type> handle_;
};

// The pump and pause that pace the polling loops: waiting events get their turn, then the
// pause runs. A deferring pacer spends each as a separate turn of its event loop.
inline Sequence<bool> PumpThenPause(Pacer& pacer, int ms) {
    co_await PumpEvents(pacer);
    co_await Pause(pacer, ms);
    co_return true;
}

} // namespace tarnivel
