#pragma once

#include <QString>

namespace tarnivel {

// Plays the program's two embedded slew sounds ("BEGSLEW", "ENDSLEW").
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;

    // Stops whatever plays and starts the named sound (matched without regard to case).
    // An unknown name plays nothing, so it only silences.
    virtual void play(const QString& name, bool loop) = 0;
    virtual void stop() = 0;
};

} // namespace tarnivel
