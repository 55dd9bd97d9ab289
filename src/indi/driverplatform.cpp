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

IndiScheduler::~IndiScheduler() {
    for (auto& [id, entry] : pending_)
        rmTimer(id);
}

int IndiScheduler::After(int ms, std::function<void()> fn) {
    auto entry = std::make_unique<Entry>(Entry{this, -1, std::move(fn)});
    Entry* raw = entry.get();
    raw->id = addTimer(qMax(0, ms), &IndiScheduler::Fire, raw);
    pending_[raw->id] = std::move(entry);
    return raw->id;
}

void IndiScheduler::Cancel(int id) {
    const auto it = pending_.find(id);
    if (it == pending_.end())
        return;
    rmTimer(id);
    pending_.erase(it);
}

void IndiScheduler::Fire(void* p) {
    auto* entry = static_cast<Entry*>(p);
    IndiScheduler* owner = entry->owner;
    const auto it = owner->pending_.find(entry->id);
    if (it == owner->pending_.end())
        return;
    // Out of the table before it runs: the callback may arm the next timer with the same id.
    const std::unique_ptr<Entry> fired = std::move(it->second);
    owner->pending_.erase(it);
    fired->fn();
}

} // namespace tarnivel
