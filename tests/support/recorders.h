#pragma once

#include "core/seams/soundplayer.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>

namespace tarnivel::test {

struct SoundCall {
    QString name; // empty for stop()
    bool loop = false;
    bool operator==(const SoundCall& o) const { return name == o.name && loop == o.loop; }
};

class RecordingSoundPlayer : public SoundPlayer {
public:
    void play(const QString& name, bool loop) override { calls.append({name, loop}); }
    void stop() override { calls.append({QString(), false}); }
    QList<SoundCall> calls;
};

} // namespace tarnivel::test
