// Bad input wherever a person types or a file feeds the console, one table per surface:
// the step entry, the fan limit boxes, the scale factor, the position editor, names that
// reach the settings file, and settings files that are damaged, hand-edited or not
// settings files at all. Each input gets its documented behaviour or a clear message;
// nothing crashes, and the file written at the close is never silently damaged.

#include "windowrig.h"

#include "core/link/focuserlink.h"
#include "core/motion/motionstate.h"
#include "core/settings/savedpositionlist.h"
#include "core/units/positionunits.h"
#include "window/app/mainwidgets.h"
#include "window/app/ratetimer.h"
#include "window/app/temperaturepanel.h"
#include "window/options/frmoptions.h"
#include "window/positions/frmeditposition.h"
#include "window/positions/positionsframe.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace tarnivel;
using namespace tarnivel::test;

namespace {

const QString kNotNumeric = QStringLiteral("SensorLimit1 must be Numeric!");

// Keys can type plain ASCII; anything else arrives as a paste.
bool Typeable(const QString& text) {
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    }
    return text.size() <= 100;
}

// Text as long as a line edit holds (a paste of a page of digits).
QString Digits(int n) {
    return QString(n, QLatin1Char('7'));
}

// The settings and positions as the settings file writes them, the window place and the
// port left out (they follow the window and the port chosen at the connect).
QByteArray Fingerprint(const FocuserSettings& s, const SavedPositionList& list) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.ini"));
    if (!SaveSettings(path, s, list))
        return "(not written)";
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "(not read)";
    QList<QByteArray> lines = f.readAll().split('\n');
    lines.removeIf([](const QByteArray& l) {
        return l.startsWith("   Top ") || l.startsWith("   Left ") || l.startsWith("   COMport ");
    });
    return lines.join('\n');
}

QByteArray FingerprintOfFile(const QByteArray& text, FocuserSettings* settings = nullptr) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.ini"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return "(not written)";
    f.write(text);
    f.close();
    FocuserSettings s;
    SavedPositionList list;
    LoadSettings(path, s, list, WindowGeometryTwips());
    if (settings)
        *settings = s;
    return Fingerprint(s, list);
}

template <typename W> W* Child(QObject* parent, const char* name) {
    return parent->findChild<W*>(QString::fromLatin1(name));
}

} // namespace

class TestBadInput : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void stepEntry_data();
    void stepEntry();
    void limitBox_data();
    void limitBox();
    void scaleFactor_data();
    void scaleFactor();
    void positionEntry_data();
    void positionEntry();
    void typedNamesKeepTheFileWhole_data();
    void typedNamesKeepTheFileWhole();
    void settingsFile_data();
    void settingsFile();
};

// ---- Step entry ------------------------------------------------------------------------------

void TestBadInput::stepEntry_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("press"); // "+", "-", "up", "down"
    // For "+" and "-": the step in controller steps of the goto started, or -1 for none.
    // For "up" and "down": the text afterwards.
    QTest::addColumn<int>("steps");
    QTest::addColumn<QString>("after");

    QTest::newRow("nan +") << "nan"
                           << "+" << -1 << "nan";
    QTest::newRow("inf +") << "inf"
                           << "+" << -1 << "inf";
    QTest::newRow("-inf -") << "-inf"
                            << "-" << -1 << "-inf";
    QTest::newRow("exponent beyond a double +") << "1e400"
                                                << "+" << -1 << "1e400";
    QTest::newRow("hexadecimal +") << "0x10"
                                   << "+" << -1 << "0x10";
    QTest::newRow("digit grouping -") << "1 000"
                                      << "-" << -1 << "1 000";
    QTest::newRow("comma in the C locale +") << "1,5"
                                             << "+" << -1 << "1,5";
    QTest::newRow("Arabic-Indic digits +")
        << QString::fromUtf8("\u0661\u0662") << "+" << -1 << QString::fromUtf8("\u0661\u0662");
    QTest::newRow("a page of digits +") << Digits(40000) << "+" << -1 << QString();
    QTest::newRow("plus sign") << "+2"
                               << "+" << 230269 << "+2";
    QTest::newRow("exponent") << "2e0"
                              << "-" << 230269 << "2e0";
    QTest::newRow("tiny step rounds to no steps") << "1e-300"
                                                  << "+" << 0 << "1e-300";
    QTest::newRow("nan up") << "nan"
                            << "up" << 0 << "nan";
    QTest::newRow("inf down") << "inf"
                              << "down" << 0 << "inf";
    QTest::newRow("tiny up") << "1e-300"
                             << "up" << 0 << "0.0625";
    QTest::newRow("tiny down stays at the floor") << "1e-300"
                                                  << "down" << 0 << "0.0625";
    QTest::newRow("huge up caps") << "1e300"
                                  << "up" << 0 << "100000";
    QTest::newRow("huge down caps") << "1e300"
                                    << "down" << 0 << "100000";
    QTest::newRow("a page of digits up") << Digits(40000) << "up" << 0 << QString();
}

void TestBadInput::stepEntry() {
    QFETCH(QString, text);
    QFETCH(QString, press);
    QFETCH(int, steps);
    QFETCH(QString, after);
    WindowRig r;
    r.w->show();
    r.connectTo(1);
    r.tick();
    QLineEdit* entry = r.w->txtAdjust;
    entry->clear();
    if (!Typeable(text)) {
        // Pasted: the entry keeps what it can hold.
        entry->setText(text);
        QVERIFY(entry->text().size() <= entry->maxLength());
        if (after.isEmpty())
            after = entry->text();
    } else {
        QTest::keyClicks(entry, text);
        QCOMPARE(entry->text(), text);
    }
    const int current = r.rig->motion.CurrentPosition;
    r.rig->messages.clear();
    if (press == QLatin1String("up") || press == QLatin1String("down")) {
        const int y = press == QLatin1String("up") ? 1 : r.w->UpDownAdjust->height() - 1;
        r.w->UpDownAdjust_Press(y);
        QCOMPARE(entry->text(), after);
        QVERIFY(r.rig->motion.GotoMode == GotoKind::None);
    } else {
        (press == QLatin1String("+") ? r.w->cmdIncrement : r.w->cmdDecrement)->click();
        QCOMPARE(entry->text(), after);
        if (steps < 0) {
            QVERIFY(r.rig->motion.GotoMode == GotoKind::None);
            QVERIFY(r.w->cmdIncrement->isEnabled());
            QCOMPARE(r.w->focusWidget(), r.w->cmdDummy);
        } else {
            QCOMPARE(r.rig->motion.GotoMode, kGotoModeGoto);
            const int sign = press == QLatin1String("+") ? 1 : -1;
            QCOMPARE(r.rig->motion.GotoTarget, WrapSteps(SignedSteps(current) + sign * steps));
        }
    }
    // Never a message: an invalid step is ignored silently.
    QVERIFY(r.rig->messages.shown.isEmpty());
}

// ---- Fan limit boxes --------------------------------------------------------------------------

void TestBadInput::limitBox_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message"); // empty: taken
    QTest::addColumn<double>("limit");
    QTest::addColumn<QByteArray>("written"); // the line in the settings file

    const QByteArray kept = "   SensorLimit1         = 40\r\n";
    QTest::newRow("nan") << "nan" << kNotNumeric << 40.0 << kept;
    QTest::newRow("inf") << "inf" << kNotNumeric << 40.0 << kept;
    QTest::newRow("exponent beyond a double") << "1e400" << kNotNumeric << 40.0 << kept;
    QTest::newRow("hexadecimal") << "0x10" << kNotNumeric << 40.0 << kept;
    // The box takes any length: a pasted page of digits is a number beyond any double.
    QTest::newRow("a page of digits") << Digits(40000) << kNotNumeric << 40.0 << kept;
    QTest::newRow("huge") << "1e308" << QString() << 1e308
                          << QByteArray("   SensorLimit1         = 1E+308\r\n");
    QTest::newRow("huge negative")
        << "-1e300" << QString() << -1e300 << QByteArray("   SensorLimit1         = -1E+300\r\n");
    QTest::newRow("tiny") << "1e-300" << QString() << 1e-300
                          << QByteArray("   SensorLimit1         = 1E-300\r\n");
    QTest::newRow("blanks around")
        << " 12 " << QString() << 12.0 << QByteArray("   SensorLimit1         = 12\r\n");
}

void TestBadInput::limitBox() {
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(double, limit);
    QFETCH(QByteArray, written);
    WindowRig r;
    r.w->show();
    QApplication::setActiveWindow(r.w.get());
    QVERIFY(QTest::qWaitForWindowActive(r.w.get()));
    QLineEdit* box = r.w->temperatures->txtSensorLimit[0];
    box->setFocus();
    box->selectAll();
    if (!Typeable(text))
        box->setText(text);
    else
        QTest::keyClicks(box, text);
    r.w->cboComPort->setFocus(); // the operator leaves the box
    r.settle();
    QCOMPARE(r.rig->settings.SensorLimit1, limit);
    if (message.isEmpty()) {
        QVERIFY(r.rig->messages.shown.isEmpty());
    } else {
        QCOMPARE(r.rig->messages.texts(), QStringList{message});
        QCOMPARE(int(r.rig->messages.shown[0].icon), int(MsgIcon::Warning));
        QCOMPARE(r.w->focusWidget(), box);
        box->setText(QStringLiteral("40"));
        r.w->cboComPort->setFocus();
    }
    r.w->close();
    QVERIFY(r.w->unloaded());
    QVERIFY2(r.settingsFileText().contains(written), r.settingsFileText().constData());
}

// ---- Scale factor -------------------------------------------------------------------------

void TestBadInput::scaleFactor_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message"); // empty: taken
    QTest::addColumn<double>("factor");
    QTest::addColumn<QString>("expectedReadout"); // at raw 100000; empty: too long to write out

    const QString notNumeric = QStringLiteral("Scale Factor not numeric");
    const QString notPositive = QStringLiteral("Scale Factor must be greater than zero");
    QTest::newRow("nan") << "nan" << notNumeric << 0.0 << QString();
    QTest::newRow("inf") << "inf" << notNumeric << 0.0 << QString();
    QTest::newRow("exponent beyond a double") << "1e400" << notNumeric << 0.0 << QString();
    QTest::newRow("hexadecimal") << "0x10" << notNumeric << 0.0 << QString();
    QTest::newRow("a page of digits") << Digits(40000) << notNumeric << 0.0 << QString();
    QTest::newRow("minus zero") << "-0" << notPositive << 0.0 << QString();
    QTest::newRow("huge") << "1e300" << QString() << 1e300 << "     0.000";
    QTest::newRow("one step per unit") << "1" << QString() << 1.0 << "100000.000";
    QTest::newRow("tiny: the readout shows 309 digits")
        << "1e-300" << QString() << 1e-300 << QString();
}

void TestBadInput::scaleFactor() {
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(double, factor);
    QFETCH(QString, expectedReadout);
    WindowRig r(ReadyController(), "[POSITIONS]\r\n   Position = 100000,Focus\r\n");
    r.w->show();
    r.connectTo(1);
    r.tick(5);
    QStringList shown;
    bool refusedKeptOpen = false;
    r.rig->console.RunModal = [&](QDialog& dialog) {
        dialog.show();
        auto* entry = Child<QLineEdit>(&dialog, "txtScaleFactor");
        entry->setText(text);
        const QString typed = entry->text();
        Child<QPushButton>(&dialog, "cmdOk")->click();
        shown = r.rig->messages.texts();
        if (!shown.isEmpty()) {
            refusedKeptOpen = dialog.isVisible() && entry->text() == typed;
            Child<QPushButton>(&dialog, "cmdCancel")->click();
        }
    };
    r.w->cmdOptions->click();
    r.tick();
    if (!message.isEmpty()) {
        QCOMPARE(shown, QStringList{message});
        QVERIFY(refusedKeptOpen);
        QCOMPARE(r.rig->settings.ScaleFactor, 115134.42);
        return;
    }
    QVERIFY(shown.isEmpty());
    QCOMPARE(r.rig->settings.ScaleFactor, factor);
    // Positions and the readout follow the new factor; every text is a plain number.
    r.tick(5);
    const QString readout = r.w->NumLED->text();
    QCOMPARE(r.rig->motion.CurrentPosition, 100000);
    if (!expectedReadout.isEmpty())
        QCOMPARE(readout, expectedReadout);
    // A factor this small gives numbers of hundreds of digits, but numbers still.
    QVERIFY(
        QRegularExpression(QStringLiteral("^ *-?[0-9]+\\.[0-9]{3}$")).match(readout).hasMatch());
    // The saved row sits at the same raw position as the focuser.
    QCOMPARE(ListEntryField(r.rig->positions.List(0), 1).trimmed(), readout.trimmed());
    r.w->close();
    r.tick();
    QVERIFY(r.w->unloaded());
    FocuserSettings reread;
    FingerprintOfFile(r.settingsFileText(), &reread);
    QCOMPARE(reread.ScaleFactor, factor);
}

// ---- Position editor ------------------------------------------------------------------------

void TestBadInput::positionEntry_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message"); // empty: taken

    const QString invalid = QStringLiteral("Invalid Position");
    QTest::newRow("nan") << "nan" << invalid;
    QTest::newRow("inf") << "inf" << invalid;
    QTest::newRow("exponent beyond a double") << "1e400" << invalid;
    QTest::newRow("hexadecimal") << "0x10" << invalid;
    QTest::newRow("a page of digits") << Digits(40000) << invalid;
    QTest::newRow("beyond the counter below") << "-1e30" << invalid;
    QTest::newRow("tiny") << "1e-300" << QString();
}

void TestBadInput::positionEntry() {
    QFETCH(QString, text);
    QFETCH(QString, message);
    WindowRig r;
    r.w->show();
    r.connectTo(1);
    r.tick();
    QStringList shown;
    QString focus;
    r.rig->console.RunModal = [&](QDialog& dialog) {
        auto& editor = static_cast<frmEditPosition&>(dialog);
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        editor.txtNewPosition->setText(text);
        editor.cmdOk->click();
        shown = r.rig->messages.texts();
        if (!shown.isEmpty()) {
            focus =
                QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
            editor.cmdCancel->click();
        }
    };
    r.w->fraPositions->cmdAdd->click();
    if (message.isEmpty()) {
        QVERIFY(shown.isEmpty());
        QCOMPARE(r.rig->positions.ListCount(), 1);
        QCOMPARE(r.rig->positions.ItemData(0), 0);
    } else {
        QCOMPARE(shown, QStringList{message});
        QCOMPARE(r.rig->messages.shown[0].title, QStringLiteral("Entry Error"));
        QCOMPARE(focus, QStringLiteral("txtNewPosition"));
        QCOMPARE(r.rig->positions.ListCount(), 0);
    }
}

// ---- Names on their way into the settings file ---------------------------------------------

void TestBadInput::typedNamesKeepTheFileWhole_data() {
    QTest::addColumn<QString>("where"); // "position" or "sensor"
    QTest::addColumn<QString>("name");
    QTest::newRow("position name with a line break")
        << "position" << QStringLiteral("A\r\n[TARNIVEL]\r\nDevice=9");
    QTest::newRow("position name with a lone LF") << "position" << QStringLiteral("A\nDevice=9");
    QTest::newRow("sensor name with a line break")
        << "sensor" << QStringLiteral("Tube\r\nDevice = 9\r\n[POSITIONS]\r\nPosition = 5,X");
    QTest::newRow("sensor name with a lone CR") << "sensor" << QStringLiteral("Tube\rDevice=9");
}

// A name pasted with line breaks must not become lines of the settings file: the file
// would come back with other settings, or with positions nobody saved.
void TestBadInput::typedNamesKeepTheFileWhole() {
    QFETCH(QString, where);
    QFETCH(QString, name);
    WindowRig r;
    r.w->show();
    r.connectTo(1);
    r.tick();
    if (where == QLatin1String("position")) {
        r.rig->console.RunModal = [&](QDialog& dialog) {
            auto& editor = static_cast<frmEditPosition&>(dialog);
            dialog.show();
            editor.txtPositionName->clear();
            editor.txtPositionName->setFocus();
            QApplication::clipboard()->setText(name);
            editor.txtPositionName->paste();
            editor.cmdOk->click();
        };
        r.w->fraPositions->cmdAdd->click();
        QCOMPARE(r.rig->positions.ListCount(), 1);
    } else {
        r.rig->console.RunModal = [&](QDialog& dialog) {
            dialog.show();
            auto* entry = Child<QLineEdit>(&dialog, "txtSensor1");
            entry->clear();
            entry->setFocus();
            QApplication::clipboard()->setText(name);
            entry->paste();
            Child<QPushButton>(&dialog, "cmdOk")->click();
        };
        r.w->cmdOptions->click();
        r.tick();
    }
    const QByteArray before = Fingerprint(r.rig->settings, r.rig->positions);
    r.w->close();
    r.tick();
    QVERIFY(r.w->unloaded());
    FocuserSettings reread;
    QCOMPARE(FingerprintOfFile(r.settingsFileText(), &reread), before);
    QCOMPARE(reread.Device, 18);
}

// ---- Settings files -------------------------------------------------------------------------

namespace {

QByteArray Junk(int size, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random.bounded(256));
    return bytes;
}

QByteArray Utf16LeWithMark(const QByteArray& latin) {
    QByteArray out("\xFF\xFE", 2);
    for (char c : latin) {
        out += c;
        out += '\0';
    }
    return out;
}

const QByteArray kGood = "[TARNIVEL]\r\n"
                         "   Device               = 20\r\n"
                         "   ScaleUnits           = thou\r\n"
                         "   ScaleFactor          = 2924.414268\r\n"
                         "   Decimals             = 2\r\n"
                         "   SensorName1          = Tube\r\n"
                         "\r\n"
                         "[POSITIONS]\r\n"
                         "   Position             = 1234,Focus A, left\r\n"
                         "   Position             = 16000000,Below\r\n";

QByteArray WithLineEnds(QByteArray text, const char* end) {
    text.replace("\r\n", end);
    return text;
}

} // namespace

void TestBadInput::settingsFile_data() {
    QTest::addColumn<QByteArray>("file");
    // Lines the file written at the close must hold; "!" first: must not hold.
    QTest::addColumn<QList<QByteArray>>("expect");

    const QList<QByteArray> good = {"   Device               = 20\r\n",
                                    "   ScaleUnits           = thou\r\n",
                                    "   Position             = 1234,Focus A, left\r\n",
                                    "   Position             = 16000000,Below\r\n"};
    QTest::newRow("CR LF") << kGood << good;
    QTest::newRow("LF only") << WithLineEnds(kGood, "\n") << good;
    QTest::newRow("CR only") << WithLineEnds(kGood, "\r") << good;
    QTest::newRow("UTF-16 with byte-order mark") << Utf16LeWithMark(kGood) << good;
    QTest::newRow("empty") << QByteArray("")
                           << QList<QByteArray>{"   Device               = 18\r\n"};
    QTest::newRow("binary junk") << Junk(65536, 7) << QList<QByteArray>{"[TARNIVEL]\r\n"};
    QTest::newRow("binary junk inside good lines")
        << QByteArray("[TARNIVEL]\r\nDevice = 20\r\n") + Junk(4096, 8) +
               QByteArray("\r\n[POSITIONS]\r\nPosition = 77,Kept\r\n")
        << QList<QByteArray>{"   Position             = 77,Kept\r\n"};
    const QByteArray nul(1, '\0');
    QTest::newRow("NUL and control bytes in names")
        << QByteArray("[TARNIVEL]\r\nSensorName1 = T") + nul +
               QByteArray("u\x01\x1b"
                          "be\r\n[POSITIONS]\r\nPosition = 5,N") +
               nul + QByteArray("ame\r\n")
        << QList<QByteArray>{QByteArray("   Position             = 5,N") + nul +
                             QByteArray("ame\r\n")};
    QTest::newRow("missing sections")
        << QByteArray("Device = 20\r\nPosition = 5,Lost\r\n")
        << QList<QByteArray>{"   Device               = 18\r\n", "!Lost"};
    QTest::newRow("positions only")
        << QByteArray("[POSITIONS]\r\nPosition = 5,A\r\nPosition = 6\r\nPosition = ,B\r\n")
        << QList<QByteArray>{"   Position             = 0,B\r\n",
                             "   Position             = 5,A\r\n",
                             "   Position             = 6,\r\n"};
    QTest::newRow("huge values")
        << QByteArray("[TARNIVEL]\r\nTop = 1e30\r\nLeft = -1e30\r\nDevice2 = 1e300\r\n"
                      "Frequency = 1e9\r\nScaleFactor = 1e308\r\nDecimals = 1e9\r\n"
                      "Approach = 1e10\r\nOvershoot = 2147483647\r\nDegrees = 1e99\r\n"
                      "SensorLimit1 = 1e308\r\n[POSITIONS]\r\nPosition = 1e30,Far\r\n"
                      "Position = -99999999999,Below\r\n")
        << QList<QByteArray>{
               "   Device2              = 19\r\n",     "   Frequency            = 4\r\n",
               "   ScaleFactor          = 1E+308\r\n", "   Decimals             = 8\r\n",
               "   Approach             = 1\r\n",      "   Overshoot            = 2147483647\r\n",
               "   Degrees              = 0\r\n",      "   SensorLimit1         = 1E+308\r\n"};
    QTest::newRow("jog rates the controller does not know")
        << QByteArray("[TARNIVEL]\r\nSlowSlewSpeed = 300\r\nFastSlewSpeed = -9\r\n")
        << QList<QByteArray>{"   SlowSlewSpeed        = 4\r\n", "   FastSlewSpeed        = 9\r\n"};
    QByteArray lines = "[TARNIVEL]\r\n";
    for (int i = 0; i < 100000; ++i)
        lines += "garbage line " + QByteArray::number(i) + " without an equals sign\r\n";
    lines += "Device = 20\r\n";
    QTest::newRow("100,000 lines")
        << lines << QList<QByteArray>{"   Device               = 20\r\n"};
    QTest::newRow("one line of a megabyte")
        << QByteArray("[TARNIVEL]\r\nSensorName2 = ") + QByteArray(1 << 20, 'x') +
               QByteArray("\r\nDevice = 20\r\n")
        << QList<QByteArray>{"   Device               = 20\r\n"};
}

// The window starts on whatever the file holds, and the file it writes at the close holds
// exactly the settings and positions the window started with, in the fixed layout.
void TestBadInput::settingsFile() {
    QFETCH(QByteArray, file);
    QFETCH(QList<QByteArray>, expect);
    QElapsedTimer timer;
    timer.start();
    WindowRig r(ReadyController(), file);
    QVERIFY(r.rig->messages.shown.isEmpty());
    const QByteArray loaded = Fingerprint(r.rig->settings, r.rig->positions);
    r.w->show();
    r.connectTo(1);
    r.tick(6);
    r.w->close();
    r.tick();
    QVERIFY(r.w->unloaded());
    QVERIFY(timer.elapsed() < 20000);

    const QByteArray written = r.settingsFileText();
    QVERIFY(written.startsWith("[TARNIVEL]\r\n   Top "));
    QCOMPARE(written.count("\r\n[POSITIONS]\r\n"), 1);
    // Nothing changed between the start and the close, nothing was lost on the way ...
    QCOMPARE(FingerprintOfFile(written), loaded);
    // ... and the file reads back as it was written.
    FocuserSettings s;
    SavedPositionList list;
    QTemporaryDir dir;
    const QString again = dir.filePath(QStringLiteral("again.ini"));
    QFile copy(again);
    QVERIFY(copy.open(QIODevice::WriteOnly));
    copy.write(written);
    copy.close();
    LoadSettings(again, s, list, WindowGeometryTwips());
    QVERIFY(SaveSettings(again, s, list));
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), written);

    for (const QByteArray& line : expect) {
        if (line.startsWith('!'))
            QVERIFY2(!written.contains(line.mid(1)), line.constData());
        else
            QVERIFY2(written.contains(line), line.constData());
    }
}

QTEST_MAIN(TestBadInput)
#include "tst_badinput.moc"
