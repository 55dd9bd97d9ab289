#include "indi/driverplatform.h"

#include <eventloop.h>

#include <chrono>
#include <thread>

namespace tarnivel {

void DriverPlatform::sleepMs(int ms) {
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

qint64 DriverPlatform::nowMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void TimerPacer::Resume(int ms, std::coroutine_handle<> next) {
    next_ = next;
    timer_ = addTimer(ms == kPumpOnly ? 0 : ms, &TimerPacer::Fire, this);
}

void TimerPacer::Fire(void* self) {
    auto* pacer = static_cast<TimerPacer*>(self);
    pacer->timer_ = -1;
    pacer->ResumeNow();
}

void TimerPacer::ResumeNow() {
    if (timer_ != -1) {
        rmTimer(timer_);
        timer_ = -1;
    }
    const std::coroutine_handle<> next = next_;
    next_ = {};
    if (next)
        next.resume();
    if (afterStep)
        afterStep();
}

void TimerPacer::Cancel() {
    if (timer_ != -1)
        rmTimer(timer_);
    timer_ = -1;
    next_ = {};
}

} // namespace tarnivel
