#include "platform/qt/qtscheduler.h"

#include <QTimerEvent>

namespace tarnivel {

QtScheduler::~QtScheduler() {
    for (const auto& [id, entry] : entries_)
        killTimer(entry.qtTimer);
}

int QtScheduler::After(int ms, std::function<void()> fn) {
    const int qtTimer = startTimer(qMax(0, ms), Qt::PreciseTimer);
    if (qtTimer == 0)
        return -1;
    const int id = ++next_;
    entries_.emplace(id, Entry{qtTimer, std::move(fn)});
    byQtTimer_[qtTimer] = id;
    return id;
}

void QtScheduler::Cancel(int id) {
    const auto it = entries_.find(id);
    if (it == entries_.end())
        return;
    killTimer(it->second.qtTimer);
    byQtTimer_.erase(it->second.qtTimer);
    entries_.erase(it);
}

void QtScheduler::timerEvent(QTimerEvent* event) {
    const auto found = byQtTimer_.find(event->timerId());
    if (found == byQtTimer_.end())
        return;
    const int id = found->second;
    killTimer(event->timerId());
    byQtTimer_.erase(found);
    const auto it = entries_.find(id);
    std::function<void()> fn = std::move(it->second.fn);
    entries_.erase(it);
    fn();
}

} // namespace tarnivel
