#pragma once

#include "core/seams/platform.h"

#include <QElapsedTimer>

namespace tarnivel {

class QtPlatform : public Platform {
public:
    QtPlatform();
    void sleepMs(int ms) override;
    void pumpEvents() override;
    qint64 nowMs() const override;

private:
    QElapsedTimer clock_;
};

} // namespace tarnivel
