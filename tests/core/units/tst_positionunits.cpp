#include "core/units/positionunits.h"

#include <QtTest>
#include <climits>
#include <cmath>
#include <limits>

using namespace tarnivel;

namespace {

constexpr double kMm = 115134.42;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

QString Spaces(int n) {
    return QString(n, QLatin1Char(' '));
}

QLocale German() {
    return QLocale(QLocale::German, QLocale::Germany);
}

} // namespace

class TestPositionUnits : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QLocale::setDefault(QLocale::c()); }
    void cleanup() { QLocale::setDefault(QLocale::c()); }
    void scaleFactorConversion_data();
    void scaleFactorConversion();

    void roundToInt_data();
    void roundToInt();
    void roundHalfEven_data();
    void roundHalfEven();

    void signedSteps_data();
    void signedSteps();
    void wrapSteps_data();
    void wrapSteps();
    void wrapThenSignedIsIdentityOverTheWholeRange();
    void directionTo_data();
    void directionTo();

    void stepsToUnits_data();
    void stepsToUnits();
    void unitsToSteps_data();
    void unitsToSteps();
    void unitsWithinStepRange_data();
    void unitsWithinStepRange();

    void formatPositionText_data();
    void formatPositionText();
    void formatPositionTextFollowsDefaultLocale();
    void formatListEntry_data();
    void formatListEntry();
    void listEntryField_data();
    void listEntryField();

    void parseOperatorNumber_data();
    void parseOperatorNumber();
    void parseFailureKeepsValue();
    void shownTextReadsBackToTheSamePosition_data();
    void shownTextReadsBackToTheSamePosition();
};

void TestPositionUnits::roundToInt_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("2.5 to even 2") << 2.5 << 2;
    QTest::newRow("3.5 to even 4") << 3.5 << 4;
    QTest::newRow("0.5 to even 0") << 0.5 << 0;
    QTest::newRow("-2.5 to even -2") << -2.5 << -2;
    QTest::newRow("-3.5 to even -4") << -3.5 << -4;
    QTest::newRow("2.4999") << 2.4999 << 2;
    QTest::newRow("2.5001") << 2.5001 << 3;
    QTest::newRow("NaN is 0") << kNaN << 0;
    QTest::newRow("+inf saturates") << kInf << INT_MAX;
    QTest::newRow("-inf saturates") << -kInf << INT_MIN;
    QTest::newRow("1e300 saturates") << 1e300 << INT_MAX;
    QTest::newRow("-1e300 saturates") << -1e300 << INT_MIN;
    QTest::newRow("just above int max") << 2147483647.6 << INT_MAX;
    QTest::newRow("int max") << 2147483647.0 << INT_MAX;
    QTest::newRow("int max - 1.5 to even") << 2147483645.5 << 2147483646;
    QTest::newRow("int min") << -2147483648.0 << INT_MIN;
    QTest::newRow("below int min") << -2147483649.0 << INT_MIN;
}

void TestPositionUnits::roundToInt() {
    QFETCH(double, value);
    QFETCH(int, expected);
    QCOMPARE(RoundToInt(value), expected);
}

void TestPositionUnits::roundHalfEven_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("expected");
    // Binary-exact halves, so the tie really is a tie.
    QTest::newRow("0.125 at 2 -> 0.12") << 0.125 << 2 << 0.12;
    QTest::newRow("0.375 at 2 -> 0.38") << 0.375 << 2 << 0.38;
    QTest::newRow("-0.125 at 2 -> -0.12") << -0.125 << 2 << -0.12;
    QTest::newRow("1.25 at 1 -> 1.2") << 1.25 << 1 << 1.2;
    QTest::newRow("1.75 at 1 -> 1.8") << 1.75 << 1 << 1.8;
    QTest::newRow("2.5 at 0 -> 2") << 2.5 << 0 << 2.0;
    QTest::newRow("3.5 at 0 -> 4") << 3.5 << 0 << 4.0;
    QTest::newRow("negative decimals as 0") << 2.5 << -1 << 2.0;
    QTest::newRow("1.000735 at 3") << 1.000735 << 3 << 1.001;
    QTest::newRow("huge unchanged") << 1e300 << 8 << 1e300;
    QTest::newRow("many decimals") << 0.123456789 << 40 << 0.123456789;
}

void TestPositionUnits::roundHalfEven() {
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(double, expected);
    QCOMPARE(RoundHalfEven(value, decimals), expected);
}

void TestPositionUnits::signedSteps_data() {
    QTest::addColumn<int>("raw");
    QTest::addColumn<int>("expected");
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("1") << 1 << 1;
    QTest::newRow("2^23 counts as positive") << 8388608 << 8388608;
    QTest::newRow("2^23 + 1") << 8388609 << -8388607;
    QTest::newRow("2^24 - 1") << 16777215 << -1;
    QTest::newRow("2^24 - 30000") << 16747216 << -30000;
}

void TestPositionUnits::signedSteps() {
    QFETCH(int, raw);
    QFETCH(int, expected);
    QCOMPARE(SignedSteps(raw), expected);
}

void TestPositionUnits::wrapSteps_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("-1") << -1 << 16777215;
    QTest::newRow("-30000") << -30000 << 16747216;
    QTest::newRow("2^24") << 16777216 << 0;
    QTest::newRow("100") << 100 << 100;
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("2^24 - 1") << 16777215 << 16777215;
    QTest::newRow("-2^24") << -16777216 << 0;
    // Beyond one turn the counter still wraps: the target stays one the controller holds.
    QTest::newRow("two turns and 5") << 2 * 16777216 + 5 << 5;
    QTest::newRow("minus two turns and 5") << -(2 * 16777216 + 5) << 16777211;
    QTest::newRow("int max") << INT_MAX << 16777215;
    QTest::newRow("int min") << INT_MIN << 0;
}

void TestPositionUnits::wrapSteps() {
    QFETCH(int, value);
    QFETCH(int, expected);
    QCOMPARE(WrapSteps(value), expected);
}

void TestPositionUnits::wrapThenSignedIsIdentityOverTheWholeRange() {
    for (int x = kMinSignedSteps; x <= kMaxSignedSteps; ++x) {
        const int raw = WrapSteps(x);
        if (raw < 0 || raw >= kRawSteps || SignedSteps(raw) != x)
            QFAIL(qPrintable(QStringLiteral("round trip broke at %1").arg(x)));
    }
}

void TestPositionUnits::directionTo_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("expected");
    QTest::newRow("-1 up to 0") << 16777215 << 0 << 1;
    QTest::newRow("0 down to -1") << 0 << 16777215 << -1;
    QTest::newRow("equal") << 5 << 5 << 0;
    QTest::newRow("up") << 5 << 6 << 1;
    QTest::newRow("down") << 6 << 5 << -1;
    QTest::newRow("most negative up to most positive") << 8388609 << 8388608 << 1;
}

void TestPositionUnits::directionTo() {
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, expected);
    QCOMPARE(DirectionTo(from, to), expected);
}

void TestPositionUnits::stepsToUnits_data() {
    QTest::addColumn<int>("raw");
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("expected");
    QTest::newRow("115134 is 1.000 mm") << 115134 << kMm << 3 << 1.0;
    QTest::newRow("-115219 steps is -1.001 mm") << 16661997 << kMm << 3 << -1.001;
    QTest::newRow("1.500003 at 0 decimals") << 172702 << kMm << 0 << 2.0;
    QTest::newRow("0.499998 at 0 decimals") << 57567 << kMm << 0 << 0.0;
    QTest::newRow("2.5 units to even") << 25 << 10.0 << 0 << 2.0;
    QTest::newRow("3.5 units to even") << 35 << 10.0 << 0 << 4.0;
    QTest::newRow("-2.5 units to even") << 16777191 << 10.0 << 0 << -2.0;
    QTest::newRow("2^23 positive") << 8388608 << 1.0 << 0 << 8388608.0;
    QTest::newRow("thou") << 2924 << 2924.414268 << 3 << 1.0;
    QTest::newRow("scale 0 gives 0") << 1000 << 0.0 << 3 << 0.0;
    QTest::newRow("scale nan gives 0") << 1000 << kNaN << 3 << 0.0;
}

void TestPositionUnits::stepsToUnits() {
    QFETCH(int, raw);
    QFETCH(double, scale);
    QFETCH(int, decimals);
    QFETCH(double, expected);
    const double v = StepsToUnits(raw, scale, decimals);
    QCOMPARE(v, expected);
    QVERIFY(!std::signbit(v) || v != 0.0);
}

void TestPositionUnits::unitsToSteps_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("expected");
    QTest::newRow("1 mm") << 1.0 << kMm << 115134;
    QTest::newRow("-1 mm") << -1.0 << kMm << 16662082;
    QTest::newRow("0.5 mm") << 0.5 << kMm << 57567;
    QTest::newRow("0") << 0.0 << kMm << 0;
    QTest::newRow("tiny negative rounds to 2^24") << -1e-9 << kMm << 16777216;
    QTest::newRow("2.5 steps to even") << 2.5 << 1.0 << 2;
    QTest::newRow("3.5 steps to even") << 3.5 << 1.0 << 4;
    QTest::newRow("-2.5 steps") << -2.5 << 1.0 << 16777214;
    QTest::newRow("huge saturates") << 1e300 << kMm << INT_MAX;
    QTest::newRow("huge negative saturates") << -1e300 << kMm << INT_MIN;
    QTest::newRow("nan is 0") << kNaN << kMm << 0;
}

void TestPositionUnits::unitsToSteps() {
    QFETCH(double, value);
    QFETCH(double, scale);
    QFETCH(int, expected);
    QCOMPARE(UnitsToSteps(value, scale), expected);
}

void TestPositionUnits::unitsWithinStepRange_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("scale");
    QTest::addColumn<bool>("expected");
    QTest::newRow("1 mm") << 1.0 << kMm << true;
    QTest::newRow("upper end") << 8388608.0 << 1.0 << true;
    QTest::newRow("past upper end") << 8388609.0 << 1.0 << false;
    QTest::newRow("lower end") << -8388607.0 << 1.0 << true;
    QTest::newRow("past lower end") << -8388608.0 << 1.0 << false;
    QTest::newRow("rounds into range") << 8388608.4 << 1.0 << true;
    QTest::newRow("72.85 mm") << 72.85 << kMm << true;
    QTest::newRow("73 mm") << 73.0 << kMm << false;
    QTest::newRow("nan") << kNaN << kMm << false;
    QTest::newRow("inf") << kInf << kMm << false;
}

void TestPositionUnits::unitsWithinStepRange() {
    QFETCH(double, value);
    QFETCH(double, scale);
    QFETCH(bool, expected);
    QCOMPARE(UnitsWithinStepRange(value, scale), expected);
}

void TestPositionUnits::formatPositionText_data() {
    QTest::addColumn<int>("raw");
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("expected");
    QTest::newRow("1.000") << 115134 << kMm << 3 << Spaces(5) + "1.000";
    QTest::newRow("-1.001") << 16661997 << kMm << 3 << Spaces(4) + "-1.001";
    QTest::newRow("0 decimals 1.5 -> 2") << 172702 << kMm << 0 << Spaces(9) + "2";
    QTest::newRow("0 decimals 0.5 -> 0") << 57567 << kMm << 0 << Spaces(9) + "0";
    QTest::newRow("zero") << 0 << kMm << 3 << Spaces(5) + "0.000";
    QTest::newRow("one step below zero has no minus")
        << 16777215 << kMm << 3 << Spaces(5) + "0.000";
    QTest::newRow("no grouping") << 8388608 << 1.0 << 2 << "8388608.00";
    QTest::newRow("no grouping, padded") << 838860 << 1.0 << 2 << " 838860.00";
    // Wider than ten characters: padded, never cut (a cut text would drop the sign or the
    // leading digit, and the editor would store the wrong value).
    QTest::newRow("-12.5 at 7 keeps its minus")
        << WrapSteps(-12500) << 1000.0 << 7 << "-12.5000000";
    QTest::newRow("12.5 at 8 keeps its 1") << 12500 << 1000.0 << 8 << "12.50000000";
    QTest::newRow("exactly ten") << 12500 << 1000.0 << 7 << "12.5000000";
}

void TestPositionUnits::formatPositionText() {
    QFETCH(int, raw);
    QFETCH(double, scale);
    QFETCH(int, decimals);
    QFETCH(QString, expected);
    QCOMPARE(FormatPositionText(raw, scale, decimals), expected);
}

void TestPositionUnits::formatPositionTextFollowsDefaultLocale() {
    QLocale::setDefault(German());
    QCOMPARE(FormatPositionText(115134, kMm, 3), Spaces(5) + "1,000");
    QCOMPARE(FormatPositionText(16661997, kMm, 3), Spaces(4) + "-1,001");
    // No thousands grouping even where the locale groups.
    QCOMPARE(FormatPositionText(8388608, 1.0, 2), "8388608,00");
    QCOMPARE(FormatFixed(1234.5, 1, QLocale::c()), "1234.5");
    QCOMPARE(FormatFixed(-0.0001, 3), "0,000");
}

void TestPositionUnits::formatListEntry_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Focus A 1.250") << "Focus A"
                                   << "1.250"
                                   << "Focus A" + Spaces(13) + Spaces(5) + "1.250";
    QTest::newRow("surrounding blanks trimmed") << "  Focus A  "
                                                << "  1.250 "
                                                << "Focus A" + Spaces(13) + Spaces(5) + "1.250";
    QTest::newRow("only spaces trimmed") << "\tFocus A\t "
                                         << "1.250"
                                         << "\tFocus A\t" + Spaces(11) + Spaces(5) + "1.250";
    QTest::newRow("25-character name cut to 20") << "ABCDEFGHIJKLMNOPQRSTUVWXY"
                                                 << "0.000"
                                                 << "ABCDEFGHIJKLMNOPQRST" + Spaces(5) + "0.000";
    QTest::newRow("empty name") << ""
                                << "0.000" << Spaces(20) + Spaces(5) + "0.000";
    QTest::newRow("long value not cut") << "n"
                                        << "-12.5000000"
                                        << "n" + Spaces(19) + "-12.5000000";
    QTest::newRow("ten-character value") << "n"
                                         << "12.5000000"
                                         << "n" + Spaces(19) + "12.5000000";
    QTest::newRow("full name, long value") << "Focus with a very long name"
                                           << "287836.00000000"
                                           << "Focus with a very lo 287836.00000000";
    QTest::newRow("full name, ten-character value") << "ABCDEFGHIJKLMNOPQRST"
                                                    << "12.5000000"
                                                    << "ABCDEFGHIJKLMNOPQRST 12.5000000";
    QTest::newRow("full name, short value") << "ABCDEFGHIJKLMNOPQRST"
                                            << "1.250"
                                            << "ABCDEFGHIJKLMNOPQRST" + Spaces(5) + "1.250";
}

void TestPositionUnits::formatListEntry() {
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(QString, expected);
    QCOMPARE(FormatListEntry(name, value), expected);
}

void TestPositionUnits::listEntryField_data() {
    const QString row = FormatListEntry("Focus A", "1.250");
    QTest::addColumn<QString>("row");
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("expected");
    QTest::newRow("name column") << row << 0 << "Focus A" + Spaces(13);
    QTest::newRow("value column") << row << 1 << Spaces(5) + "1.250";
    QTest::newRow("field 2") << row << 2 << "";
    QTest::newRow("field -1") << row << -1 << "";
    QTest::newRow("wide value column") << FormatListEntry("x", "-12.5000000") << 1 << "-12.5000000";
    QTest::newRow("short row") << "abc" << 0 << "abc";
    QTest::newRow("short row value") << "abc" << 1 << "";
}

void TestPositionUnits::listEntryField() {
    QFETCH(QString, row);
    QFETCH(int, field);
    QFETCH(QString, expected);
    QCOMPARE(ListEntryField(row, field), expected);
}

void TestPositionUnits::parseOperatorNumber_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("expected");
    QTest::newRow("C 1.5") << "C"
                           << "1.5" << true << 1.5;
    QTest::newRow("C blanks") << "C"
                              << "  1.5 " << true << 1.5;
    QTest::newRow("C minus") << "C"
                             << "-1.5" << true << -1.5;
    QTest::newRow("C plus") << "C"
                            << "+2" << true << 2.0;
    QTest::newRow("C exponent") << "C"
                                << "1e3" << true << 1000.0;
    QTest::newRow("C signed exponent") << "C"
                                       << "1.5E-2" << true << 0.015;
    QTest::newRow("C leading point") << "C"
                                     << ".5" << true << 0.5;
    QTest::newRow("C trailing point") << "C"
                                      << "5." << true << 5.0;
    QTest::newRow("C comma is grouping") << "C"
                                         << "1,5" << false << 0.0;
    QTest::newRow("C grouped") << "C"
                               << "1,234.5" << false << 0.0;
    QTest::newRow("C empty") << "C"
                             << "" << false << 0.0;
    QTest::newRow("C blanks only") << "C"
                                   << "   " << false << 0.0;
    QTest::newRow("C letters") << "C"
                               << "abc" << false << 0.0;
    QTest::newRow("C trailing garbage") << "C"
                                        << "1.5mm" << false << 0.0;
    QTest::newRow("C inner blank") << "C"
                                   << "1 5" << false << 0.0;
    QTest::newRow("C two signs") << "C"
                                 << "--1" << false << 0.0;
    QTest::newRow("C lone sign") << "C"
                                 << "-" << false << 0.0;
    QTest::newRow("C lone point") << "C"
                                  << "." << false << 0.0;
    QTest::newRow("C exponent without digits") << "C"
                                               << "1e" << false << 0.0;
    QTest::newRow("C overflow") << "C"
                                << "1e999" << false << 0.0;
    QTest::newRow("C inf") << "C"
                           << "inf" << false << 0.0;
    QTest::newRow("C nan") << "C"
                           << "nan" << false << 0.0;
    QTest::newRow("C two points") << "C"
                                  << "1.2.3" << false << 0.0;
    QTest::newRow("de comma") << "de_DE"
                              << "1,5" << true << 1.5;
    QTest::newRow("de minus comma") << "de_DE"
                                    << " -12,25 " << true << -12.25;
    QTest::newRow("de point too") << "de_DE"
                                  << "1.5" << true << 1.5;
    QTest::newRow("de grouped") << "de_DE"
                                << "1.234,5" << false << 0.0;
    QTest::newRow("de two commas") << "de_DE"
                                   << "1,2,3" << false << 0.0;
    QTest::newRow("de exponent") << "de_DE"
                                 << "2,5e1" << true << 25.0;
}

void TestPositionUnits::parseOperatorNumber() {
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(double, expected);
    QLocale::setDefault(locale == "C" ? QLocale::c() : QLocale(locale));
    double value = 0;
    QCOMPARE(ParseOperatorNumber(text, value), ok);
    if (ok)
        QCOMPARE(value, expected);
}

void TestPositionUnits::parseFailureKeepsValue() {
    double value = 42.0;
    QVERIFY(!ParseOperatorNumber("x", value));
    QCOMPARE(value, 42.0);
}

void TestPositionUnits::shownTextReadsBackToTheSamePosition_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("decimals");
    for (const char* loc : {"C", "de_DE"}) {
        QTest::addRow("%s mm 3", loc) << loc << kMm << 3;
        QTest::addRow("%s thou 1", loc) << loc << 2924.414268 << 1;
        QTest::addRow("%s user 0", loc) << loc << 1.0 << 0;
        QTest::addRow("%s mm 8", loc) << loc << kMm << 8;
    }
}

void TestPositionUnits::shownTextReadsBackToTheSamePosition() {
    QFETCH(QString, locale);
    QFETCH(double, scale);
    QFETCH(int, decimals);
    QLocale::setDefault(locale == "C" ? QLocale::c() : QLocale(locale));
    // Half a shown digit, in steps, plus the rounding of the steps themselves.
    const double tolerance = 0.5 * std::pow(10.0, -decimals) * scale + 0.5;
    for (int raw : {0, 1, 115134, 16661997, 8388608, 8388609, 16777215, 1234567, 15000000}) {
        const QString shown = FormatPositionText(raw, scale, decimals);
        double value = 0;
        QVERIFY2(ParseOperatorNumber(shown, value), qPrintable(shown));
        const int back = UnitsToSteps(value, scale);
        // On the counter's circle: near 2^23 a rounded-up text may read back past the end.
        const int diff = SignedSteps(WrapSteps(back - raw));
        QVERIFY2(std::abs(diff) <= tolerance,
                 qPrintable(QStringLiteral("%1 -> %2 -> %3").arg(raw).arg(shown).arg(back)));
    }
}

void TestPositionUnits::scaleFactorConversion_data() {
    QTest::addColumn<double>("factor");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<double>("expected");
    QTest::newRow("thou to mm, 6 decimals") << 5.0 << "thou"
                                            << "mm" << 196.850394;
    QTest::newRow("mm to thou, 6 decimals") << 115134.42 << "mm"
                                            << "thou" << 2924.414268;
    QTest::newRow("mm to user") << 115134.42 << "mm"
                                << "user" << 1.0;
    QTest::newRow("user to thou") << 7.0 << "user"
                                  << "thou" << 2924.414268;
    QTest::newRow("user to mm") << 7.0 << "user"
                                << "mm" << 115134.42;
    QTest::newRow("same unit keeps it") << 12.5 << "mm"
                                        << "mm" << 12.5;
    QTest::newRow("unknown stored unit") << 100.0 << "inch"
                                         << "mm" << 0.0;
}

void TestPositionUnits::scaleFactorConversion() {
    QFETCH(double, factor);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(double, expected);
    QCOMPARE(ConvertScaleFactor(factor, from, to), expected);
}

QTEST_APPLESS_MAIN(TestPositionUnits)
#include "tst_positionunits.moc"
