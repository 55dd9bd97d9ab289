#pragma once

// Lets the event loop wait for input, as it does between the operator's actions, until no
// call under `root` waits for such a quiet moment any more.

#include "window/ui/quietcall.h"

#include <QEventLoop>
#include <QList>
#include <QObject>
#include <QTimer>
#include <algorithm>

namespace tarnivel::test {

inline void Settle(const QObject* root) {
    const auto waiting = [root] {
        const QList<QuietCall*> calls = root->findChildren<QuietCall*>();
        return std::any_of(calls.begin(), calls.end(),
                           [](const QuietCall* c) { return c->pending(); });
    };
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (!waiting())
            loop.quit();
    });
    check.start(1);
    // A bound for a broken build only; a quiet moment comes within a few passes.
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace tarnivel::test
