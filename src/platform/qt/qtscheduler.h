#pragma once

#include "core/seams/scheduler.h"

#include <QObject>

#include <functional>
#include <unordered_map>

namespace tarnivel {

// Timers on a Qt event loop: the served device's (the Alpaca server's QCoreApplication) and
// the console window's poll tick.
class QtScheduler final : public QObject, public Scheduler {
public:
    QtScheduler() = default;
    ~QtScheduler() override;
    QtScheduler(const QtScheduler&) = delete;
    QtScheduler& operator=(const QtScheduler&) = delete;

    int After(int ms, std::function<void()> fn) override;
    void Cancel(int id) override;
    // Whether a request handed to this loop from another thread is still waiting.
    void SetRequestWaiting(std::function<bool()> waiting) { requestWaiting_ = std::move(waiting); }
    bool RequestWaiting() const override { return requestWaiting_ && requestWaiting_(); }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    struct Entry {
        int qtTimer;
        std::function<void()> fn;
    };
    // Ids of our own that are never reused: Qt hands a killed timer's id out again, and a
    // late Cancel of a fired id must not hit a newer timer.
    std::unordered_map<int, Entry> entries_;
    std::unordered_map<int, int> byQtTimer_;
    int next_ = 0;
    std::function<bool()> requestWaiting_;
};

} // namespace tarnivel
