#include "indi/driverplatform.h"

#include <eventloop.h>

#include <poll.h>

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
        rmTimer(entry->loopTimer);
}

int IndiScheduler::After(int ms, std::function<void()> fn) {
    const int id = nextId_++;
    auto entry = std::make_unique<Entry>(Entry{this, id, -1, std::move(fn)});
    entry->loopTimer = addTimer(qMax(0, ms), &IndiScheduler::Fire, entry.get());
    pending_[id] = std::move(entry);
    return id;
}

void IndiScheduler::Cancel(int id) {
    const auto it = pending_.find(id);
    if (it == pending_.end())
        return;
    rmTimer(it->second->loopTimer);
    pending_.erase(it);
}

bool IndiScheduler::RequestWaiting() const {
    pollfd input{input_, POLLIN, 0};
    return ::poll(&input, 1, 0) > 0 && (input.revents & POLLIN) != 0;
}

void IndiScheduler::Fire(void* p) {
    auto* entry = static_cast<Entry*>(p);
    IndiScheduler* owner = entry->owner;
    const auto it = owner->pending_.find(entry->id);
    if (it == owner->pending_.end())
        return;
    // The loop reads its input before the timers it runs next time round.
    if (owner->RequestWaiting()) {
        entry->loopTimer = addTimer(0, &IndiScheduler::Fire, entry);
        return;
    }
    const std::unique_ptr<Entry> fired = std::move(it->second);
    owner->pending_.erase(it);
    fired->fn();
}

} // namespace tarnivel
