#pragma once

#include "core/seams/soundplayer.h"

#include <QObject>
#include <memory>

class QSoundEffect;

namespace tarnivel {

// SoundPlayer on QSoundEffect with the WAVs embedded as :/sounds/. A machine without
// an audio device plays nothing and carries on.
class QtSoundPlayer : public QObject, public SoundPlayer {
    Q_OBJECT
public:
    explicit QtSoundPlayer(QObject* parent = nullptr);
    ~QtSoundPlayer() override;
    void play(const QString& name, bool loop) override;
    void stop() override;

private:
    QSoundEffect* effect(const QString& upperName);

    QSoundEffect* begSlew_ = nullptr;
    QSoundEffect* endSlew_ = nullptr;
};

} // namespace tarnivel
