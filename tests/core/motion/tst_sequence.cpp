#include "core/seams/sequence.h"

#include <QtTest>
#include <deque>

using namespace tarnivel;

namespace {

// Defers every wait, as the driver's timers do; the test fires them oldest first.
class QueuePacer final : public Pacer {
public:
    bool WaitInPlace(int) override { return false; }
    void Resume(int ms, std::coroutine_handle<> next) override {
        waits << ms;
        pending.push_back(next);
    }
    void Fire() {
        const std::coroutine_handle<> next = pending.front();
        pending.pop_front();
        next.resume();
    }
    QList<int> waits;
    std::deque<std::coroutine_handle<>> pending;
};

Sequence<int> Inner(Pacer& pacer, QStringList& log) {
    log << "inner";
    co_await Pause(pacer, 30);
    co_return 11;
}

Sequence<int> Outer(Pacer& pacer, QStringList& log) {
    log << "outer";
    const int got = co_await Inner(pacer, log);
    log << QStringLiteral("outer got %1").arg(got);
    co_await PumpThenPause(pacer, 20);
    co_return got * 2;
}

struct Unwound {
    int& count;
    ~Unwound() { ++count; }
};

Sequence<int> Polling(Pacer& pacer, const bool& abort, int& passes, int& unwound) {
    const Unwound guard{unwound};
    while (!abort) {
        ++passes;
        co_await PumpThenPause(pacer, 50);
    }
    co_return -1;
}

} // namespace

class TestSequence : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void nestedResumeOrder() {
        QueuePacer pacer;
        QStringList log;
        Sequence<int> s = Outer(pacer, log);
        s.Start();
        QCOMPARE(log, (QStringList{"outer", "inner"}));
        pacer.Fire();
        QCOMPARE(log, (QStringList{"outer", "inner", "outer got 11"}));
        pacer.Fire();
        QVERIFY(!s.Done());
        QCOMPARE(s.Result(), 0);
        pacer.Fire();
        QVERIFY(s.Done());
        QCOMPARE(s.Result(), 22);
        QCOMPARE(pacer.waits, (QList<int>{30, Pacer::kPumpOnly, 20}));
        QVERIFY(pacer.pending.empty());
    }
    void resetWhileWaitingInNestedSequence() {
        QueuePacer pacer;
        bool abort = false;
        int passes = 0;
        int unwound = 0;
        Sequence<int> s = Polling(pacer, abort, passes, unwound);
        s.Start();
        pacer.Fire(); // now in the pause of the nested pump-then-pause
        QCOMPARE(pacer.waits, (QList<int>{Pacer::kPumpOnly, 50}));
        pacer.pending.clear(); // the pacer's timer goes first
        s.Reset();
        QCOMPARE(unwound, 1);
        QVERIFY(!s.Valid());
        QCOMPARE(s.Result(), 0);
    }
    void abortSeenAtTheNextCheck() {
        QueuePacer pacer;
        bool abort = false;
        int passes = 0;
        int unwound = 0;
        Sequence<int> s = Polling(pacer, abort, passes, unwound);
        s.Start();
        abort = true;
        pacer.Fire(); // the pump; the pause still follows
        QVERIFY(!s.Done());
        QVERIFY(!s.ResetIfDone());
        QVERIFY(s.Valid());
        pacer.Fire();
        QVERIFY(s.Done());
        QCOMPARE(s.Result(), -1);
        QCOMPARE(passes, 1);
        QCOMPARE(unwound, 1);
        QVERIFY(pacer.pending.empty());
        QVERIFY(s.ResetIfDone());
        QVERIFY(!s.Valid());
    }
    void neverRanGivesTheEmptyResult() {
        QueuePacer pacer;
        QStringList log;
        const Sequence<int> s = Outer(pacer, log);
        QVERIFY(s.Valid());
        QVERIFY(!s.Done());
        QCOMPARE(s.Result(), 0);
        QVERIFY(log.isEmpty()); // created, not started
        QVERIFY(Sequence<int>().Done());
        QCOMPARE(Sequence<int>().Result(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSequence)
#include "tst_sequence.moc"
