#pragma once

#include "core/seams/scheduler.h"
#include "virtualplatform.h"

#include <deque>
#include <functional>
#include <map>
#include <utility>

namespace tarnivel::test {

// The event loop of a served front end on virtual time: timers fire in the order they fall
// due (those due together in the order they were armed), each after the clock has moved to
// its time, so the simulated controller moves with them.
class VirtualScheduler final : public Scheduler {
public:
    explicit VirtualScheduler(VirtualPlatform& platform) : platform_(platform) {}

    int After(int ms, std::function<void()> fn) override {
        const int id = ++lastId_;
        timers_[{platform_.nowMs() + qMax(0, ms), id}] = std::move(fn);
        return id;
    }
    void Cancel(int id) override {
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->first.second == id) {
                timers_.erase(it);
                return;
            }
        }
    }

    // A client's request arriving now (inside a command's wait, say): like INDI's loop once
    // the driver has put its timers behind input, this loop runs it before any timer.
    void Post(std::function<void()> request) { requests_.push_back(std::move(request)); }
    bool RequestWaiting() const override { return !requests_.empty(); }

    // Fires every timer due within ms from now, then leaves the clock at now + ms.
    void RunFor(qint64 ms) {
        const qint64 end = platform_.nowMs() + ms;
        for (;;) {
            while (!requests_.empty()) {
                const std::function<void()> request = std::move(requests_.front());
                requests_.pop_front();
                request();
            }
            if (timers_.empty() || timers_.begin()->first.first > end)
                break;
            const auto it = timers_.begin();
            const qint64 due = it->first.first;
            std::function<void()> fn = std::move(it->second);
            timers_.erase(it);
            if (due > platform_.nowMs())
                platform_.advance(due - platform_.nowMs());
            fn();
        }
        if (end > platform_.nowMs())
            platform_.advance(end - platform_.nowMs());
    }
    // Runs until done() holds, for at most limitMs; whether it held.
    bool RunUntil(const std::function<bool()>& done, qint64 limitMs) {
        for (qint64 spent = 0; spent < limitMs && !done(); spent += 10)
            RunFor(10);
        return done();
    }

private:
    VirtualPlatform& platform_;
    std::map<std::pair<qint64, int>, std::function<void()>> timers_;
    std::deque<std::function<void()>> requests_;
    int lastId_ = 0;
};

} // namespace tarnivel::test
