// Every fault the simulated controller can produce, against the command set on virtual time:
// what each operation hands back (result code, value or the caller's preset) and how many
// frames it cost. One table, operation x fault.

#include "core/link/focusercommands.h"
#include "core/link/focuserlink.h"
#include "simrig.h"

#include <QtTest>
#include <functional>
#include <vector>

using namespace tarnivel;
using namespace tarnivel::test;
using tarnivel::sim::Fault;

namespace {

// What an operation hands back: its result code (0 / -1; for GetPosition the code is -1
// exactly when it returned -1) and its value (out parameter, return value or 0).
struct Outcome {
    int code = 0;
    double value = 0;
};

struct Operation {
    const char* name;
    int messageId;
    int frames;     // frames of a fault-free run
    int replyBytes; // reply bytes of its last frame
    std::function<Outcome(FocuserCommands&)> run;
    Outcome ok;
    // Only the operation's first frame failed (both attempts); the same as failedAll for
    // one-frame operations.
    Outcome failedFirst;
    // Every frame failed: a silent controller or a vanished port.
    Outcome failedAll;
};

constexpr qint32 kPreset = 7;

Outcome code(int result) {
    return {result, 0};
}

Outcome withValue(int result, double value) {
    return {result, value};
}

const std::vector<Operation>& operations() {
    using C = FocuserCommands;
    static const std::vector<Operation> ops = {
        {"GetPosition",
         msg::GetPosition,
         1,
         3,
         [](C& c) {
             const int p = c.GetPosition();
             return withValue(p == -1 ? -1 : 0, p);
         },
         {0, 4321},
         {-1, -1},
         {-1, -1}},
        {"ProbeFocuser",
         msg::GetFirmwareVersion,
         1,
         2,
         [](C& c) { return code(c.ProbeFocuser() ? 0 : -1); },
         {0, 0},
         {-1, 0},
         {-1, 0}},
        {"GetFirmwareVersion",
         msg::GetFirmwareVersion,
         1,
         2,
         [](C& c) {
             qint32 major = kPreset;
             qint32 minor = kPreset;
             const int r = c.GetFirmwareVersion(major, minor);
             return withValue(r, major * 100 + minor);
         },
         {0, 207},
         {-1, 707},
         {-1, 707}},
        {"IsSlewDone",
         msg::IsSlewDone,
         1,
         1,
         [](C& c) {
             qint32 done = kPreset;
             const int r = c.IsSlewDone(done);
             return withValue(r, done);
         },
         {0, 255},
         {-1, kPreset},
         {-1, kPreset}},
        {"GetLimitMin",
         msg::GetLimitMin,
         1,
         3,
         [](C& c) {
             qint32 v = kPreset;
             const int r = c.GetLimitMin(v);
             return withValue(r, v);
         },
         {0, 2 * 65536},
         {-1, kPreset},
         {-1, kPreset}},
        {"GetCalibrated",
         msg::ReadMemory,
         1,
         1,
         [](C& c) {
             qint32 v = kPreset;
             const int r = c.GetCalibrated(v);
             return withValue(r, v);
         },
         {0, 1},
         {-1, kPreset},
         {-1, kPreset}},
        {"GetSensorSlot",
         msg::GetSensorSlot,
         1,
         1,
         [](C& c) {
             qint32 slot = 0;
             const int r = c.GetSensorSlot(2, slot);
             return withValue(r, slot);
         },
         // The second fitted sensor sits in slot 3; a failed read still adds 1 to the preset.
         {0, 3},
         {-1, 1},
         {-1, 1}},
        {"GetTemperature",
         msg::GetTemperature,
         1,
         2,
         [](C& c) {
             bool ok = false;
             const double t = c.GetTemperature(1, &ok);
             return withValue(ok ? 0 : -1, t);
         },
         {0, -4.5},
         {-1, 0.0},
         {-1, 0.0}},
        {"GetFanState",
         msg::GetFanState,
         1,
         1,
         [](C& c) {
             qint32 running = 0;
             const int r = c.GetFanState(running);
             return withValue(r, running);
         },
         // Off answers 3, read as 0; the unchanged preset 0 maps to 1 (running).
         {0, 0},
         {-1, 1},
         {-1, 1}},
        {"GetMaxTravel",
         msg::ReadMemory,
         3,
         1,
         [](C& c) {
             qint32 v = kPreset;
             const int r = c.GetMaxTravel(v);
             return withValue(r, v);
         },
         // 0x01 0x02 0x03; a byte whose read failed counts as 0.
         {0, 66051},
         {-1, 0x0203},
         {-1, 0}},
        {"GotoPosition",
         msg::GotoPosition,
         1,
         0,
         [](C& c) { return code(c.GotoPosition(4321)); },
         {0, 0},
         {-1, 0},
         {-1, 0}},
        {"MoveAtRate",
         msg::MoveUp,
         1,
         0,
         [](C& c) { return code(c.MoveAtRate(0)); },
         {0, 0},
         {-1, 0},
         {-1, 0}},
        {"SetFan",
         msg::SetFan,
         1,
         0,
         [](C& c) { return code(c.SetFan(true)); },
         {0, 0},
         {-1, 0},
         {-1, 0}},
        {"SetRealLimitMin",
         msg::WriteMemory,
         3,
         0,
         [](C& c) { return code(c.SetRealLimitMin(658188)); },
         {0, 0},
         {-1, 0},
         {-1, 0}},
    };
    return ops;
}

enum class Expect {
    Recovered,   // the second attempt gets through
    FirstFailed, // both attempts of the first frame fail; later frames work
    AllFailed,   // nothing answers any more
};

struct FaultCase {
    const char* name;
    Fault fault;
    int times;
    Expect expect;
};

// Each fault hits the operation's first frame once (the retry recovers) or twice (both
// attempts). A slow answer (500 ms, beyond the 385 ms receive wait) hit twice fails like no
// answer: each late answer arrives while the line is left to go quiet, and is dropped, so
// the next command still reads its own. A silent controller and a vanished port fail every
// later frame.
const std::vector<FaultCase>& faultCases() {
    static const std::vector<FaultCase> cases = {
        {"no answer once", Fault::NoAnswer, 1, Expect::Recovered},
        {"no answer twice", Fault::NoAnswer, 2, Expect::FirstFailed},
        {"wrong terminator once", Fault::WrongTerminator, 1, Expect::Recovered},
        {"wrong terminator twice", Fault::WrongTerminator, 2, Expect::FirstFailed},
        {"dropped byte once", Fault::DropByte, 1, Expect::Recovered},
        {"dropped byte twice", Fault::DropByte, 2, Expect::FirstFailed},
        {"extra byte once", Fault::ExtraByte, 1, Expect::Recovered},
        {"extra byte twice", Fault::ExtraByte, 2, Expect::FirstFailed},
        {"slow answer once", Fault::SlowAnswer, 1, Expect::Recovered},
        {"slow answer twice", Fault::SlowAnswer, 2, Expect::FirstFailed},
        {"goes silent", Fault::GoSilent, 1, Expect::AllFailed},
        {"port vanishes", Fault::PortVanish, 1, Expect::AllFailed},
    };
    return cases;
}

sim::SimConfig MatrixController() {
    sim::SimConfig config;
    config.startPosition = 4321;
    config.registers = {1, 0x01, 0x02, 0x03, 0, 0, 0, 0, 0, 0};
    config.limitMinByte = 2;
    config.sensors = {{{true, -4.5}, {false, 0}, {true, 12.5}}};
    return config;
}

// The longest an operation may take: per frame two attempts, each the frame (88 ms), a
// full receive wait (35 polls of 11 ms) and one more after a wrong terminator.
qint64 WorstCaseMs(int frames) {
    return frames * 2 * (8 * kCharPacingMs + 2 * 36 * kCharPacingMs);
}

} // namespace

class TestCommandFaults : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void matrix_data();
    void matrix();
    void randomFaultsNeverPassAWrongValue_data();
    void randomFaultsNeverPassAWrongValue();
};

void TestCommandFaults::matrix_data() {
    QTest::addColumn<int>("op");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("times");
    QTest::addColumn<int>("code");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("frames");
    // A GetPosition sent afterwards: its frames (0: it fails) and the value it reads.
    QTest::addColumn<int>("nextFrames");
    QTest::addColumn<double>("nextValue");

    const auto& ops = operations();
    for (int i = 0; i < static_cast<int>(ops.size()); ++i) {
        const Operation& op = ops[i];
        for (const FaultCase& f : faultCases()) {
            Outcome expected = op.ok;
            int frames = op.frames + 1;
            int nextFrames = 1;
            double nextValue = 4321;
            if (f.expect == Expect::FirstFailed) {
                expected = op.failedFirst;
            } else if (f.expect == Expect::AllFailed) {
                expected = op.failedAll;
                // Silent: every frame still arrives, twice; vanished: only the first.
                frames = f.fault == Fault::GoSilent ? 2 * op.frames : 1;
                nextFrames = 0;
            }
            QTest::addRow("%s: %s", op.name, f.name)
                << i << int(f.fault) << f.times << expected.code << expected.value << frames
                << nextFrames << nextValue;
        }
    }
}

void TestCommandFaults::matrix() {
    QFETCH(int, op);
    QFETCH(int, fault);
    QFETCH(int, times);
    QFETCH(int, code);
    QFETCH(double, value);
    QFETCH(int, frames);
    QFETCH(int, nextFrames);
    QFETCH(double, nextValue);
    const Operation& operation = operations()[op];

    SimRig rig(MatrixController());
    rig.connect();
    rig.model.injectFault(operation.messageId, static_cast<Fault>(fault), times);
    const qint64 start = rig.platform.nowMs();
    const Outcome got = operation.run(rig.commands);
    QCOMPARE(got.code, code);
    QCOMPARE(got.value, value);
    QCOMPARE(rig.model.frames().size(), frames);
    QVERIFY(rig.platform.nowMs() - start <= WorstCaseMs(operation.frames));
    // The link itself stays usable; only a vanished port or a silent controller keep
    // failing.
    rig.clearFrames();
    const int next = rig.commands.GetPosition();
    if (nextFrames == 0) {
        QCOMPARE(next, -1);
    } else {
        QCOMPARE(double(next), nextValue);
        QCOMPARE(rig.model.frames().size(), nextFrames);
    }
}

void TestCommandFaults::randomFaultsNeverPassAWrongValue_data() {
    QTest::addColumn<quint32>("seed");
    QTest::newRow("seed 1") << 1u;
    QTest::newRow("seed 2") << 2u;
    QTest::newRow("seed 3") << 3u;
}

// Damaged answers at a seeded rate, commands of every reply length in turn: each result
// is the true value or the operation's failure value, never a value made of broken bytes.
void TestCommandFaults::randomFaultsNeverPassAWrongValue() {
    QFETCH(quint32, seed);
    sim::SimConfig config = MatrixController();
    config.faultSeed = seed;
    config.faultRates.noAnswer = 0.1;
    config.faultRates.wrongTerminator = 0.1;
    config.faultRates.dropByte = 0.1;
    config.faultRates.extraByte = 0.1;
    SimRig rig(config);
    rig.connect();

    const QList<int> oneFrame = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    int failures = 0;
    int commands = 0;
    for (int round = 0; round < 30; ++round) {
        for (int i : oneFrame) {
            const Operation& op = operations()[i];
            const Outcome got = op.run(rig.commands);
            ++commands;
            if (got.code == 0) {
                QCOMPARE(got.value, op.ok.value);
            } else {
                QCOMPARE(got.value, op.failedAll.value);
                ++failures;
            }
        }
    }
    // Faults did happen (more frames than commands), and most were recovered by the retry.
    QVERIFY(rig.model.frames().size() > commands + commands / 5);
    QVERIFY(failures > 0);
    QVERIFY2(failures < commands / 5, qPrintable(QString::number(failures)));
}

QTEST_GUILESS_MAIN(TestCommandFaults)
#include "tst_commandfaults.moc"
