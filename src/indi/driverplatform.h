#pragma once

#include "core/seams/scheduler.h"
#include "core/seams/platform.h"
#include "core/seams/soundplayer.h"

#include <functional>
#include <map>
#include <memory>

namespace tarnivel {

// Time for the link inside one command: a real sleep. There are no window events to pump;
// requests reach the driver between commands, from INDI's event loop.
class DriverPlatform final : public Platform {
public:
    void sleepMs(int ms) override;
    void pumpEvents() override {}
    qint64 nowMs() const override;
};

// The device's timers on INDI's event loop. INDI's loop runs every due timer before it reads
// its input, so a step that became due while a command waited would go out ahead of an abort
// the client sent meanwhile: a timer that finds input waiting goes back behind it.
class IndiScheduler final : public Scheduler {
public:
    // input: the descriptor the client's requests arrive on.
    explicit IndiScheduler(int input = 0) : input_(input) {}
    IndiScheduler(const IndiScheduler&) = delete;
    IndiScheduler& operator=(const IndiScheduler&) = delete;
    ~IndiScheduler() override;

    int After(int ms, std::function<void()> fn) override;
    void Cancel(int id) override;
    bool RequestWaiting() const override;

private:
    static void Fire(void* entry);

    struct Entry {
        IndiScheduler* owner;
        int id;        // ours, kept while the timer is put back
        int loopTimer; // INDI's
        std::function<void()> fn;
    };
    int input_;
    int nextId_ = 1;
    std::map<int, std::unique_ptr<Entry>> pending_;
};

// A driver has no speaker.
class SilentSoundPlayer final : public SoundPlayer {
public:
    void play(const QString&, bool) override {}
    void stop() override {}
};

} // namespace tarnivel
