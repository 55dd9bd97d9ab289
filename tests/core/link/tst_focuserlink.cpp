#include "core/link/focuserlink.h"
#include "frames.h"
#include "scriptedport.h"
#include "virtualplatform.h"

#include <QtTest>

using namespace tarnivel;
using namespace tarnivel::test;

namespace {

using Rig = ScriptedLinkRig;

// One attempt that gets no answer: the frame, then 35 empty polls.
constexpr qint64 kSilentAttemptMs = kFrameLength * kCharPacingMs + 35 * kCharPacingMs;

} // namespace

class TestFocuserLink : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void frameLayout_data();
    void frameLayout();
    void positionRequestOnTheWire();
    void replyDecoding_data();
    void replyDecoding();
    void replyLengthZeroKeepsValue();
    void silentController();
    void wrongTerminatorRetries();
    void wrongTerminatorTwiceFails();
    void closedLinkSendsNothing();
    void oversizedRequestsSendNothing_data();
    void oversizedRequestsSendNothing();
    void closedPortTimesOut();
    void pacingAndNoPumpInsideFrame();
    void pollsPumpEvents();
    void staleInputDiscardedBeforeFrame();
    void slowAnswerWithinLimit_data();
    void slowAnswerWithinLimit();
    void oneAnswerPerQuestion_data();
    void oneAnswerPerQuestion();
};

void TestFocuserLink::frameLayout_data() {
    QTest::addColumn<int>("device");
    QTest::addColumn<int>("messageId");
    QTest::addColumn<int>("data");
    QTest::addColumn<int>("nData");
    QTest::addColumn<int>("nReply");
    QTest::addColumn<QString>("frame");

    QTest::newRow("get position") << 18 << 1 << 0 << 0 << 3 << "50 01 12 01 00 00 00 03";
    QTest::newRow("three bytes 70000") << 18 << 2 << 70000 << 3 << 0 << "50 04 12 02 01 11 70 00";
    QTest::newRow("two bytes 16385") << 18 << 49 << 16385 << 2 << 0 << "50 03 12 31 40 01 00 00";
    QTest::newRow("one byte keeps only the low byte")
        << 18 << 38 << 0x1234 << 1 << 2 << "50 02 12 26 34 00 00 02";
    QTest::newRow("unused data bytes are zero")
        << 19 << 40 << 0x777777 << 0 << 1 << "50 01 13 28 00 00 00 01";
    QTest::newRow("largest raw position")
        << 18 << 4 << 16777215 << 3 << 0 << "50 04 12 04 FF FF FF 00";
    QTest::newRow("negative data in two's complement")
        << 18 << 4 << -2 << 3 << 0 << "50 04 12 04 FF FF FE 00";
}

void TestFocuserLink::frameLayout() {
    QFETCH(int, device);
    QFETCH(int, messageId);
    QFETCH(int, data);
    QFETCH(int, nData);
    QFETCH(int, nReply);
    QFETCH(QString, frame);
    QCOMPARE(HexOf(FocuserLink::CommandFrame(device, messageId, data, nData, nReply)), frame);
}

void TestFocuserLink::positionRequestOnTheWire() {
    Rig rig;
    rig.port.answer(bytesFromHex("01 02 03 23"));
    qint32 value = 0;
    QCOMPARE(rig.link.SendCommand(18, 1, 0, 0, 3, value), 0);
    QCOMPARE(rig.port.framesHex(), QStringList{"50 01 12 01 00 00 00 03"});
    QCOMPARE(value, 66051);
    QCOMPARE(rig.port.bytesRead, 4);
}

void TestFocuserLink::replyDecoding_data() {
    QTest::addColumn<int>("nReply");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("value");

    QTest::newRow("three bytes") << 3 << bytesFromHex("01 02 03 23") << 66051;
    QTest::newRow("two bytes") << 2 << bytesFromHex("FE 10 23") << 65040;
    QTest::newRow("one byte") << 1 << bytesFromHex("FF 23") << 255;
    QTest::newRow("largest three bytes") << 3 << bytesFromHex("FF FF FF 23") << 16777215;
    QTest::newRow("zero") << 3 << bytesFromHex("00 00 00 23") << 0;
    QTest::newRow("terminator as data byte") << 1 << bytesFromHex("23 23") << 0x23;
}

void TestFocuserLink::replyDecoding() {
    QFETCH(int, nReply);
    QFETCH(QByteArray, answer);
    QFETCH(int, value);
    Rig rig;
    rig.port.answer(answer);
    qint32 out = -5;
    QCOMPARE(rig.link.SendCommand(18, 1, 0, 0, nReply, out), 0);
    QCOMPARE(out, value);
    QCOMPARE(rig.port.frames.size(), 1);
}

void TestFocuserLink::replyLengthZeroKeepsValue() {
    Rig rig;
    rig.port.answer("#");
    qint32 value = 1234;
    QCOMPARE(rig.link.SendCommand(18, 36, 0, 1, 0, value), 0);
    QCOMPARE(value, 1234);
    QCOMPARE(rig.port.bytesRead, 1);
}

void TestFocuserLink::silentController() {
    Rig rig;
    qint32 value = 4711;
    QCOMPARE(rig.link.SendCommand(18, 1, 0, 0, 3, value), -1);
    QCOMPARE(value, 4711);
    QCOMPARE(rig.port.framesHex(),
             (QStringList{"50 01 12 01 00 00 00 03", "50 01 12 01 00 00 00 03"}));
    // Two attempts of 88 + 385 ms, a quiet line of 220 ms between them.
    QCOMPARE(rig.platform.nowMs(), qint64(1166));
}

void TestFocuserLink::wrongTerminatorRetries() {
    Rig rig;
    // Three data bytes, then 'X' where '#' belongs, then two more characters.
    rig.port.answer(bytesFromHex("01 02 03 58 59 5A"));
    rig.port.answer(bytesFromHex("0A 0B 0C 23"));
    qint32 value = 99;
    QCOMPARE(rig.link.SendCommand(18, 1, 0, 0, 3, value), 0);
    QCOMPARE(value, 0x0A0B0C);
    QCOMPARE(rig.port.frames.size(), 2);
    QCOMPARE(rig.port.frames.at(0), rig.port.frames.at(1));
    // The first attempt read its four characters plus exactly one more ('Y'); the 'Z'
    // still waiting was dropped before the second frame went out.
    QCOMPARE(rig.port.bytesRead, 5 + 4);
    QCOMPARE(rig.port.discardedBytes, 1);
}

void TestFocuserLink::wrongTerminatorTwiceFails() {
    Rig rig;
    rig.port.answer(bytesFromHex("01 58 00"));
    rig.port.answer(bytesFromHex("01 58 00"));
    qint32 value = 7;
    QCOMPARE(rig.link.SendCommand(18, 19, 0, 0, 1, value), -1);
    QCOMPARE(value, 7);
    QCOMPARE(rig.port.frames.size(), 2);
}

void TestFocuserLink::closedLinkSendsNothing() {
    Rig rig;
    rig.link.SetLinkOpen(false);
    rig.port.answer(bytesFromHex("01 02 03 23"));
    qint32 value = 3;
    QCOMPARE(rig.link.SendCommand(18, 1, 0, 0, 3, value), -1);
    QCOMPARE(value, 3);
    QVERIFY(rig.port.written.isEmpty());
    QCOMPARE(rig.port.discardCalls, 0);
    QCOMPARE(rig.platform.sleepCalls, 0);
    QCOMPARE(rig.platform.pumpCalls, 0);
}

void TestFocuserLink::oversizedRequestsSendNothing_data() {
    QTest::addColumn<int>("nData");
    QTest::addColumn<int>("nReply");
    QTest::newRow("four data bytes") << 4 << 0;
    QTest::newRow("four reply bytes") << 0 << 4;
    QTest::newRow("negative data count") << -1 << 0;
    QTest::newRow("negative reply count") << 0 << -1;
}

void TestFocuserLink::oversizedRequestsSendNothing() {
    QFETCH(int, nData);
    QFETCH(int, nReply);
    Rig rig;
    qint32 value = 12;
    QCOMPARE(rig.link.SendCommand(18, 1, 0, nData, nReply, value), -1);
    QCOMPARE(value, 12);
    QVERIFY(rig.port.written.isEmpty());
    QCOMPARE(rig.platform.nowMs(), 0);
}

void TestFocuserLink::closedPortTimesOut() {
    // The port closed itself (device pulled) while the link still counts as open.
    Rig rig;
    rig.port.close();
    rig.port.inject(bytesFromHex("01 02 03 23"));
    qint32 value = 8;
    QCOMPARE(rig.link.SendCommand(18, 1, 0, 0, 3, value), -1);
    QCOMPARE(value, 8);
    QVERIFY(rig.port.written.isEmpty());
    QCOMPARE(rig.port.bytesRead, 0);
    QCOMPARE(rig.platform.nowMs(), 2 * kSilentAttemptMs);
}

void TestFocuserLink::pacingAndNoPumpInsideFrame() {
    Rig rig;
    rig.port.silence();
    rig.port.answer(bytesFromHex("05 23"));
    qint32 value = 0;
    QCOMPARE(rig.link.SendCommand(18, 19, 0, 0, 1, value), 0);
    QCOMPARE(value, 5);
    const auto& w = rig.port.written;
    QCOMPARE(w.size(), 2 * kFrameLength);
    for (int f = 0; f < 2; ++f) {
        for (int i = 1; i < kFrameLength; ++i) {
            const auto& prev = w.at(f * kFrameLength + i - 1);
            const auto& cur = w.at(f * kFrameLength + i);
            QCOMPARE(cur.atMs - prev.atMs, qint64(kCharPacingMs));
            // No window event may run between two bytes of one frame.
            QCOMPARE(cur.pumpsBefore, prev.pumpsBefore);
        }
    }
    QCOMPARE(w.at(0).atMs, qint64(0));
    // The second frame follows the first attempt's full time-out and 220 ms of quiet.
    QCOMPARE(w.at(kFrameLength).atMs, qint64(693));
    // Answer read at the first poll, 11 ms after the last byte's own 11 ms.
    QCOMPARE(rig.platform.nowMs(), qint64(693 + 8 * 11 + 2 * 11));
}

void TestFocuserLink::pollsPumpEvents() {
    Rig rig;
    int pumpsInsideFrame = 0;
    rig.platform.onPump([&] {
        if (rig.port.written.size() % kFrameLength != 0)
            ++pumpsInsideFrame;
    });
    // A handler's command from the pump of that wait is refused at once, with no frame.
    int refused = 0;
    rig.platform.onPump([&] {
        qint32 inner = 0;
        refused += rig.link.SendCommand(18, 19, 0, 0, 1, inner) == -1 ? 1 : 0;
    });
    rig.port.silence();
    rig.port.silence();
    qint32 value = 0;
    QCOMPARE(rig.link.SendCommand(18, 1, 0, 0, 3, value), -1);
    QCOMPARE(pumpsInsideFrame, 0);
    // One pump per poll: 35 polls per attempt, 20 while the line stays quiet between them.
    QCOMPARE(rig.platform.pumpCalls, 35 + 20 + 35);
    QCOMPARE(refused, 35 + 20 + 35);
    QCOMPARE(rig.port.frames.size(), 2);
}

void TestFocuserLink::staleInputDiscardedBeforeFrame() {
    Rig rig;
    // The late end of an earlier answer.
    rig.port.inject(bytesFromHex("05 23"));
    rig.port.answer(bytesFromHex("07 23"));
    qint32 value = 0;
    QCOMPARE(rig.link.SendCommand(18, 19, 0, 0, 1, value), 0);
    QCOMPARE(value, 7);
    QCOMPARE(rig.port.discardedBytes, 2);
    QCOMPARE(rig.port.frames.size(), 1);
}

void TestFocuserLink::slowAnswerWithinLimit_data() {
    QTest::addColumn<int>("arrivesAtMs");
    QTest::addColumn<int>("frames");
    QTest::addColumn<qint64>("doneAtMs");
    QTest::newRow("prompt") << 77 << 1 << qint64(88 + 11 + 11);
    QTest::newRow("at the 35th poll") << 88 + 385 << 1 << qint64(88 + 385 + 11);
}

void TestFocuserLink::slowAnswerWithinLimit() {
    QFETCH(int, arrivesAtMs);
    QFETCH(int, frames);
    QFETCH(qint64, doneAtMs);
    Rig rig;
    // The frame's last byte is written at 77 ms.
    rig.port.answer(bytesFromHex("2A 23"), arrivesAtMs - 77);
    rig.port.silence();
    qint32 value = -1;
    QCOMPARE(rig.link.SendCommand(18, 43, 0, 0, 1, value), 0);
    QCOMPARE(value, 42);
    QCOMPARE(rig.port.frames.size(), frames);
    QCOMPARE(rig.platform.nowMs(), doneAtMs);
}

void TestFocuserLink::oneAnswerPerQuestion_data() {
    // What the far end does with each frame in turn: "hex" answers at once, "hex@ms" that
    // many ms after the frame's last byte, "-" not at all.
    QTest::addColumn<QByteArray>("stray");
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QString>("results"); // message 43, then message 44
    QTest::addColumn<int>("frames");

    QTest::newRow("late answer dropped before the second attempt")
        << QByteArray() << QStringList{"2A 23@400", "2B 23", "07 23"} << "43 7" << 3;
    QTest::newRow("late answer during the second attempt's frame")
        << QByteArray() << QStringList{"2A 23@640", "2B 23", "07 23"} << "43 7" << 3;
    QTest::newRow("late answer after the next command went out")
        << QByteArray() << QStringList{"2A 23@1403", "-", "07 23@30", "08 23"} << "-1 8" << 4;
    QTest::newRow("stray bytes before a frame")
        << bytesFromHex("05 23") << QStringList{"2B 23", "07 23"} << "43 7" << 2;
    QTest::newRow("longer answer without its terminator")
        << QByteArray() << QStringList{"01 02 23", "2B 23", "07 23"} << "43 7" << 3;
    QTest::newRow("terminator followed by another answer")
        << QByteArray() << QStringList{"05 23 06 23", "2B 23", "07 23"} << "43 7" << 3;
}

void TestFocuserLink::oneAnswerPerQuestion() {
    QFETCH(QByteArray, stray);
    QFETCH(QStringList, script);
    QFETCH(QString, results);
    QFETCH(int, frames);
    Rig rig;
    rig.port.inject(stray);
    for (const QString& step : std::as_const(script)) {
        const QStringList parts = step.split(QLatin1Char('@'));
        if (parts.at(0) == QLatin1String("-"))
            rig.port.silence();
        else
            rig.port.answer(bytesFromHex(parts.at(0).toLatin1().constData()),
                            parts.value(1, QStringLiteral("0")).toInt());
    }
    qint32 first = -1;
    qint32 second = -1;
    const int r1 = rig.link.SendCommand(18, 43, 0, 0, 1, first);
    const int r2 = rig.link.SendCommand(18, 44, 0, 0, 1, second);
    QCOMPARE(QStringLiteral("%1 %2").arg(r1 == 0 ? first : r1).arg(r2 == 0 ? second : r2), results);
    QCOMPARE(rig.port.frames.size(), frames);
}

QTEST_GUILESS_MAIN(TestFocuserLink)
#include "tst_focuserlink.moc"
