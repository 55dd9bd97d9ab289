// The mapping between the controller's signed 24-bit counter and INDI's unsigned positions,
// both ways, at the ends and across the wrap of the counter.
#include "core/device/positionmap.h"

#include <QtTest>

using namespace tarnivel;

class TestPositionMap : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void bothWays_data();
    void bothWays();
    void beyondTheEnds_data();
    void beyondTheEnds();
    void readsAgree_data();
    void readsAgree();
};

void TestPositionMap::bothWays_data() {
    QTest::addColumn<bool>("calibrated");
    QTest::addColumn<int>("travel");
    QTest::addColumn<int>("raw");
    QTest::addColumn<uint>("client");
    QTest::addColumn<uint>("max");
    QTest::addColumn<int>("realUpper");

    // Travel 8000: the upper end stop reads +4000, the lower one -4000.
    QTest::newRow("8000, lower end") << true << 8000 << 16773216 << 0u << 8000u << 0;
    QTest::newRow("8000, middle") << true << 8000 << 0 << 4000u << 8000u << 0;
    QTest::newRow("8000, just below 0") << true << 8000 << 16777215 << 3999u << 8000u << 0;
    QTest::newRow("8000, upper end") << true << 8000 << 4000 << 8000u << 8000u << 0;
    // Odd travel: half 500 (halves to even), so the lower end stop reads -501.
    QTest::newRow("1001, lower end") << true << 1001 << 16776715 << 0u << 1001u << 0;
    QTest::newRow("1001, upper end") << true << 1001 << 500 << 1001u << 1001u << 0;
    // Odd travel whose half rounds up: 1003 gives 502, the lower end stop -501.
    QTest::newRow("1003, lower end") << true << 1003 << 16776715 << 0u << 1003u << 0;
    QTest::newRow("1003, upper end") << true << 1003 << 502 << 1003u << 1003u << 0;
    // Not calibrated: the whole signed range, -8388607 at 0.
    QTest::newRow("uncalibrated, lowest") << false << 8000 << 8388609 << 0u << 16777215u << 0;
    QTest::newRow("uncalibrated, -1") << false << 0 << 16777215 << 8388606u << 16777215u << 0;
    QTest::newRow("uncalibrated, 0") << false << 0 << 0 << 8388607u << 16777215u << 0;
    QTest::newRow("uncalibrated, highest") << false << 0 << 8388608 << 16777215u << 16777215u << 0;
    // A Reset at +1500 left the upper end stop reading 2500: the scale stays on the stops.
    QTest::newRow("reset moved the counter, lower end")
        << true << 8000 << 16771716 << 0u << 8000u << 2500;
    QTest::newRow("reset moved the counter, old zero")
        << true << 8000 << 16775716 << 4000u << 8000u << 2500;
    QTest::newRow("reset moved the counter, upper end")
        << true << 8000 << 2500 << 8000u << 8000u << 2500;
    // A calibrated flag with no travel stored anchors on nothing either.
    QTest::newRow("flag without travel") << true << 0 << 0 << 8388607u << 16777215u << 0;
}

void TestPositionMap::bothWays() {
    QFETCH(bool, calibrated);
    QFETCH(int, travel);
    QFETCH(int, raw);
    QFETCH(uint, client);
    QFETCH(uint, max);
    QFETCH(int, realUpper);
    const PositionMap map = PositionMap::FromController(calibrated, travel, realUpper);
    QCOMPARE(map.Max(), max);
    QCOMPARE(map.ToClient(raw), client);
    QCOMPARE(map.ToRaw(client), raw);
}

void TestPositionMap::beyondTheEnds_data() {
    QTest::addColumn<int>("raw");
    QTest::addColumn<uint>("client");
    QTest::newRow("below the lower end stop") << 16773215 << 0u;
    QTest::newRow("above the upper end stop") << 4001 << 8000u;
}

void TestPositionMap::beyondTheEnds() {
    QFETCH(int, raw);
    QFETCH(uint, client);
    const PositionMap map = PositionMap::FromController(true, 8000);
    QCOMPARE(map.ToClient(raw), client);
    // An INDI position past the maximum goes no further than the upper end stop.
    QCOMPARE(map.ToRaw(8001), 4000);
}

void TestPositionMap::readsAgree_data() {
    QTest::addColumn<int>("calibrated");
    QTest::addColumn<int>("travel");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<bool>("agree");
    // A full calibration of 200000 steps: limits -100000 and +100000.
    QTest::newRow("200000 as calibrated") << 1 << 200000 << 0xFE7960 << 100000 << true;
    QTest::newRow("after a Reset at +1500") << 1 << 200000 << 0xFE7384 << 98500 << true;
    QTest::newRow("odd travel") << 1 << 1001 << 0xFFFE0B << 500 << true;
    // The upper limit's middle byte took the next byte's answer (0x01 86 A0 read as 0x01 A0 A0).
    QTest::newRow("a shifted byte") << 1 << 200000 << 0xFE7960 << 0x01A0A0 << false;
    QTest::newRow("flag neither 0 nor 1") << 0x86 << 200000 << 0xFE7960 << 100000 << false;
    QTest::newRow("limits not stored") << 1 << 200000 << 0 << 0 << true;
    QTest::newRow("uncalibrated, anything") << 0 << 12 << 0xFE7960 << 100000 << true;
}

void TestPositionMap::readsAgree() {
    QFETCH(int, calibrated);
    QFETCH(int, travel);
    QFETCH(int, lower);
    QFETCH(int, upper);
    QTEST(PositionMap::ReadsAgree(calibrated, travel, lower, upper), "agree");
}

QTEST_GUILESS_MAIN(TestPositionMap)
#include "tst_positionmap.moc"
