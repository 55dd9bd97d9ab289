// The position editor: controls, focus rules, entry errors, Set Value, ReAlign, cancel.

#include "frames.h"
#include "tst_positions.h"

#include "core/units/positionunits.h"

#include <QApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>

namespace tarnivel::test {

namespace {

const QString kGetCalibrated = kGetCalibratedFrame;

QString FocusName() {
    const QWidget* w = QApplication::focusWidget();
    return w ? w->objectName() : QString();
}

void PressEscape() {
    QWidget* target = QApplication::focusWidget();
    QVERIFY(target);
    QTest::keyClick(target, Qt::Key_Escape);
}

// Chooses an option the way the operator can: its button when enabled, else by clicking
// into its entry.
void Choose(frmEditPosition& e, bool useOld) {
    QRadioButton* option = useOld ? e.optUseOld : e.optUseNew;
    if (option->isEnabled())
        QTest::mouseClick(option, Qt::LeftButton);
    else
        QTest::mouseClick(useOld ? e.txtOldPosition : e.txtNewPosition, Qt::LeftButton);
    QVERIFY(option->isChecked());
}

QString RealignQuestion(bool byDelta) {
    if (byDelta)
        return QStringLiteral(
            "This ReAlignment process will adjust all Positions in the table\r\n"
            "based on the delta of this New position.\r\n\r\nAre you sure you want to do this?");
    return QStringLiteral(
        "This ReAlignment process will set the current position of the\r\n"
        "focuser based on the value of the Old position.\r\n\r\nAre you sure you want to do "
        "this?");
}

// Rows alpha (selected, edited in Edit) and focus.
void AddTwoRows(PositionsRig& r) {
    r.addRow(QStringLiteral("alpha"), 1000);
    r.addRow(QStringLiteral("focus"), 2000);
    r.rig.positions.SetListIndex(0);
}

} // namespace

void TestPositions::editorLayout() {
    PositionsRig r;
    AddTwoRows(r);
    frmEditPosition e(r.rig.console);
    e.PositionTable = &r.rig.positions;
    e.Action = QStringLiteral("E");
    r.onEditor([&](frmEditPosition& d) {
        QCOMPARE(d.windowTitle(), QStringLiteral("Save Position"));
        QCOMPARE(d.Frame1->title(), QStringLiteral("Name"));
        QCOMPARE(d.fraPosition->title(), QStringLiteral("Position (mm)"));
        QCOMPARE(d.optUseOld->text(), QStringLiteral("Use Old Position"));
        QCOMPARE(d.optUseNew->text(), QStringLiteral("Use New Position"));
        QCOMPARE(d.cmdOk->text(), QStringLiteral("Set Value"));
        QCOMPARE(d.cmdCancel->text(), QStringLiteral("Cancel"));
        QCOMPARE(d.cmdReAlign->text(), QStringLiteral("ReAlign"));
        QVERIFY(d.cmdOk->isDefault());
        QCOMPARE(d.txtPositionName->maxLength(), 20);
        QVERIFY(d.txtOldPosition->isReadOnly());
        QVERIFY(!d.txtNewPosition->isReadOnly());
        QCOMPARE(FocusName(), QStringLiteral("txtPositionName"));

        QStringList chain;
        QWidget* w = d.txtPositionName;
        do {
            if (w->focusPolicy() & Qt::TabFocus)
                chain << w->objectName();
            w = w->nextInFocusChain();
        } while (w != d.txtPositionName && chain.size() < 20);
        QCOMPARE(chain, (QStringList{"txtPositionName", "optUseOld", "optUseNew", "txtOldPosition",
                                     "txtNewPosition", "cmdOk", "cmdCancel", "cmdReAlign"}));
        d.close();
    });
    r.rig.settings.ScaleUnits = QStringLiteral("mm");
    e.Display();
    QCOMPARE(r.editorRuns, 1);
}

void TestPositions::editorOpensAtFormPlace() {
    PositionsRig r;
    {
        frmEditPosition e(r.rig.console);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(e.FormLeft, (screen.width() - e.width()) / 2);
        QCOMPARE(e.FormTop, (screen.height() - e.height()) / 2);
    }
    frmEditPosition e(r.rig.console);
    e.Action = QStringLiteral("A");
    e.FormLeft = 40;
    e.FormTop = 30;
    QPoint shownAt;
    r.onEditor([&](frmEditPosition& d) {
        shownAt = d.pos();
        d.move(60, 70); // the operator drags it
        d.close();
    });
    e.Display();
    QCOMPARE(shownAt, QPoint(40, 30));
    QCOMPARE(e.FormLeft, 60);
    QCOMPARE(e.FormTop, 70);
}

void TestPositions::nameSelectedOnFocus() {
    PositionsRig r;
    r.onEditor([&](frmEditPosition& e) {
        QCOMPARE(FocusName(), QStringLiteral("txtPositionName"));
        QCOMPARE(e.txtPositionName->selectedText(), QStringLiteral("Position1"));
        // Away and back with the keyboard.
        QTest::keyClick(e.txtPositionName, Qt::Key_Tab);
        QVERIFY(!e.txtPositionName->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(FocusName(), QStringLiteral("txtPositionName"));
        QCOMPARE(e.txtPositionName->selectedText(), QStringLiteral("Position1"));
        // Away with the mouse and back with a click.
        QTest::mouseClick(e.txtNewPosition, Qt::LeftButton);
        QTest::mouseClick(e.txtPositionName, Qt::LeftButton);
        QCOMPARE(e.txtPositionName->selectedText(), QStringLiteral("Position1"));
        // A second click into the focused entry places the cursor for editing.
        QTest::mouseClick(e.txtPositionName, Qt::LeftButton);
        QVERIFY(!e.txtPositionName->hasSelectedText());
        e.close();
    });
    r.frame->cmdAdd_Click();
    QCOMPARE(r.editorRuns, 1);
}

void TestPositions::positionEntryFocusChoosesOption() {
    PositionsRig r;
    r.onEditor([&](frmEditPosition& e) {
        QVERIFY(e.optUseNew->isChecked());
        QTest::mouseClick(e.txtOldPosition, Qt::LeftButton);
        QVERIFY(e.optUseOld->isChecked()); // although the option itself is disabled
        QVERIFY(!e.optUseOld->isEnabled());
        QVERIFY(!e.optUseNew->isChecked());
        QTest::mouseClick(e.cmdOk, Qt::LeftButton);
        QCOMPARE(r.rig.messages.texts(), QStringList{"Position is required"});
        QCOMPARE(FocusName(), QStringLiteral("txtOldPosition"));
        QTest::mouseClick(e.txtNewPosition, Qt::LeftButton);
        QVERIFY(e.optUseNew->isChecked());
        QVERIFY(!e.optUseOld->isChecked());
        QVERIFY(!e.cmdReAlign->isEnabled());
        e.close();
    });
    r.frame->cmdAdd_Click();

    // Typing a new position chooses it; the keyboard's focus alone does not.
    AddTwoRows(r);
    r.onEditor([&](frmEditPosition& e) {
        QVERIFY(e.optUseOld->isChecked());
        e.txtNewPosition->setFocus(Qt::TabFocusReason);
        e.txtOldPosition->setFocus(Qt::BacktabFocusReason);
        QVERIFY(e.optUseOld->isChecked());
        QTest::keyClicks(e.txtNewPosition, "5");
        QVERIFY(e.optUseNew->isChecked());
        QVERIFY(e.cmdReAlign->isEnabled());
        e.close();
    });
    r.frame->cmdEdit_Click();
    QCOMPARE(r.editorRuns, 2);
}

void TestPositions::tabbingThroughKeepsTheChoice_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<int>>("rows");
    // The edited row keeps its old 1000 steps (shown as 0.009 mm); an added one takes the
    // present 0.500 mm.
    QTest::newRow("Edit") << "E" << QStringList{"beta", "focus"} << QList<int>{1000, 2000};
    QTest::newRow("Add") << "A" << QStringList{"alpha", "beta", "focus"}
                         << QList<int>{1000, 57567, 2000};
}

void TestPositions::tabbingThroughKeepsTheChoice() {
    QFETCH(QString, action);
    QFETCH(QStringList, names);
    QFETCH(QList<int>, rows);
    PositionsRig r;
    AddTwoRows(r);
    r.rig.motion.CurrentPosition = 57567;
    QStringList passed;
    r.onEditor([&](frmEditPosition& e) {
        QTest::keyClicks(e.txtPositionName, "beta");
        for (int i = 0; i < 10 && !e.cmdOk->hasFocus(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            passed << FocusName();
        }
        QTest::keyClick(e.cmdOk, Qt::Key_Space);
    });
    if (action == QLatin1String("E"))
        r.frame->cmdEdit_Click();
    else
        r.frame->cmdAdd_Click();
    QVERIFY2(passed.contains("txtOldPosition") && passed.contains("txtNewPosition"),
             qPrintable(passed.join(' ')));
    QVERIFY(r.rig.messages.shown.isEmpty());
    QCOMPARE(r.names(), names);
    QCOMPARE(r.itemData(), rows);
}

void TestPositions::optionClicksAndReAlign() {
    PositionsRig r;
    AddTwoRows(r);
    r.onEditor([&](frmEditPosition& e) {
        QTest::mouseClick(e.optUseNew, Qt::LeftButton);
        QVERIFY(e.optUseNew->isChecked());
        QVERIFY(e.cmdReAlign->isEnabled());
        QTest::mouseClick(e.optUseOld, Qt::LeftButton);
        QVERIFY(e.optUseOld->isChecked());
        QVERIFY(e.cmdReAlign->isEnabled());
        e.close();
    });
    r.frame->cmdEdit_Click();

    // Outside Edit an option click takes ReAlign away, however it got enabled.
    r.onEditor([&](frmEditPosition& e) {
        QVERIFY(!e.cmdReAlign->isEnabled());
        e.cmdReAlign->setEnabled(true);
        QTest::mouseClick(e.optUseNew, Qt::LeftButton);
        QVERIFY(!e.cmdReAlign->isEnabled());
        e.close();
    });
    r.frame->cmdAdd_Click();
    QCOMPARE(r.editorRuns, 2);
}

void TestPositions::entryErrors_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("oldText");
    QTest::addColumn<QString>("newText");
    QTest::addColumn<bool>("useOld");
    QTest::addColumn<bool>("realign");
    QTest::addColumn<QString>("message"); // empty: accepted
    QTest::addColumn<QString>("focus");

    const QString name = QStringLiteral("txtPositionName");
    const QString oldEntry = QStringLiteral("txtOldPosition");
    const QString newEntry = QStringLiteral("txtNewPosition");
    const QString required = QStringLiteral("Position is required");
    const QString invalid = QStringLiteral("Invalid Position");

    QTest::newRow("add: name empty") << "A"
                                     << ""
                                     << ""
                                     << "0.011" << false << false << "Name is required" << name;
    QTest::newRow("add: name blank") << "A"
                                     << "   "
                                     << ""
                                     << "0.011" << false << false << "Name is required" << name;
    QTest::newRow("add: name of a row in other case")
        << "A"
        << "FOCUS"
        << ""
        << "0.011" << false << false << "Name 'FOCUS' already used" << name;
    QTest::newRow("add: name tested before the position")
        << "A"
        << ""
        << ""
        << "abc" << false << false << "Name is required" << name;
    QTest::newRow("edit: other row's name quoted as typed")
        << "E"
        << " Focus "
        << "0.009"
        << "0.011" << true << false << "Name ' Focus ' already used" << name;
    QTest::newRow("realign: other row's name")
        << "E"
        << "focus"
        << "0.009"
        << "0.011" << true << true << "Name 'focus' already used" << name;
    QTest::newRow("add: old chosen and empty") << "A"
                                               << "Camera"
                                               << ""
                                               << "0.011" << true << false << required << oldEntry;
    QTest::newRow("add: new empty") << "A"
                                    << "Camera"
                                    << ""
                                    << "  " << false << false << required << newEntry;
    QTest::newRow("add: new not a number") << "A"
                                           << "Camera"
                                           << ""
                                           << "1.2.3" << false << false << invalid << newEntry;
    QTest::newRow("add: new only a point") << "A"
                                           << "Camera"
                                           << ""
                                           << "." << false << false << invalid << newEntry;
    QTest::newRow("add: new huge") << "A"
                                   << "Camera"
                                   << ""
                                   << "1e12" << false << false << invalid << newEntry;
    QTest::newRow("add: new one step past the counter")
        << "A"
        << "Camera"
        << ""
        << "72.8593" << false << false << invalid << newEntry;
    QTest::newRow("add: new far below") << "A"
                                        << "Camera"
                                        << ""
                                        << "-73" << false << false << invalid << newEntry;
    QTest::newRow("edit: old not a number") << "E"
                                            << "alpha"
                                            << "x"
                                            << "0.011" << true << false << invalid << oldEntry;
    QTest::newRow("realign: old empty, tested first")
        << "E"
        << "alpha"
        << ""
        << "abc" << false << true << required << oldEntry;
    QTest::newRow("realign: new tested whatever the option")
        << "E"
        << "alpha"
        << "0.009"
        << "" << true << true << required << newEntry;
    QTest::newRow("realign: new huge") << "E"
                                       << "alpha"
                                       << "0.009"
                                       << "-1e12" << true << true << invalid << newEntry;

    QTest::newRow("set value tests only the chosen entry") << "E"
                                                           << "alpha"
                                                           << "0.009"
                                                           << "abc" << true << false << ""
                                                           << "";
    QTest::newRow("add: edge of the counter") << "A"
                                              << "Camera"
                                              << ""
                                              << "72.8592" << false << false << ""
                                              << "";
    QTest::newRow("add: exponent") << "A"
                                   << "Camera"
                                   << ""
                                   << " +1.5e-1 " << false << false << ""
                                   << "";
}

void TestPositions::entryErrors() {
    QFETCH(QString, action);
    QFETCH(QString, name);
    QFETCH(QString, oldText);
    QFETCH(QString, newText);
    QFETCH(bool, useOld);
    QFETCH(bool, realign);
    QFETCH(QString, message);
    QFETCH(QString, focus);

    PositionsRig r;
    AddTwoRows(r);
    r.rig.sim.clearFrames();
    frmEditPosition e(r.rig.console);
    e.PositionTable = &r.rig.positions;
    e.Action = action;
    e.PositionName = QStringLiteral("Position1");
    e.OldPosition = oldText;
    e.NewPosition = newText;
    QString focusAtMessage;
    r.rig.messages.onShow = [&](const ShownMessage&) { focusAtMessage = FocusName(); };
    r.rig.messages.answer(MsgAnswer::No); // a realignment that gets this far goes no further
    r.onEditor([&](frmEditPosition& d) {
        d.txtPositionName->selectAll();
        if (name.isEmpty())
            QTest::keyClick(d.txtPositionName, Qt::Key_Delete);
        else
            QTest::keyClicks(d.txtPositionName, name);
        Choose(d, useOld);
        QPushButton* button = realign ? d.cmdReAlign : d.cmdOk;
        QTest::mouseClick(button, Qt::LeftButton);
        if (message.isEmpty()) {
            QVERIFY(r.rig.messages.shown.isEmpty());
            QVERIFY(!d.isVisible());
            return;
        }
        QCOMPARE(r.rig.messages.shown.size(), 1);
        const ShownMessage& m = r.rig.messages.shown.first();
        QCOMPARE(m.text, message);
        QCOMPARE(m.title, QStringLiteral("Entry Error"));
        QCOMPARE(m.icon, MsgIcon::Warning);
        QCOMPARE(m.buttons, MsgButtons::Ok);
        QCOMPARE(focusAtMessage, button->objectName());
        QCOMPARE(FocusName(), focus);
        if (focus == QLatin1String("txtPositionName"))
            QCOMPARE(d.txtPositionName->selectedText(), d.txtPositionName->text());
        QVERIFY(d.isVisible());
        QVERIFY(d.Cancel);
        PressEscape();
    });
    e.Display();
    QCOMPARE(e.Cancel, !message.isEmpty());
    // No test talks to the controller.
    QVERIFY(r.frames().isEmpty());
}

void TestPositions::editKeepsOwnName() {
    PositionsRig r;
    AddTwoRows(r);
    r.rig.positions.SetListIndex(1);
    r.onEditor([&](frmEditPosition& e) {
        QTest::keyClicks(e.txtPositionName, QStringLiteral("FOCUS"));
        QTest::mouseClick(e.cmdOk, Qt::LeftButton);
        QVERIFY(r.rig.messages.shown.isEmpty());
    });
    r.frame->cmdEdit_Click();
    QCOMPARE(r.names(), (QStringList{"alpha", "FOCUS"}));
    QCOMPARE(r.rig.positions.ListIndex(), 1);
}

void TestPositions::nameStoredTrimmed() {
    PositionsRig r;
    AddTwoRows(r);
    r.onEditor([&](frmEditPosition& e) {
        QTest::keyClicks(e.txtPositionName, QStringLiteral("  Guider  "));
        QTest::mouseClick(e.cmdOk, Qt::LeftButton);
        QCOMPARE(e.PositionName, QStringLiteral("Guider"));
    });
    r.frame->cmdAdd_Click();
    QCOMPARE(r.names(), (QStringList{"alpha", "focus", "Guider"}));
    QCOMPARE(r.rig.positions.List(2).left(20), QStringLiteral("Guider              "));

    // A blank-padded name that matches a row is that row's name.
    r.onEditor([&](frmEditPosition& e) {
        QTest::keyClicks(e.txtPositionName, QStringLiteral(" ALPHA "));
        QTest::mouseClick(e.cmdOk, Qt::LeftButton);
        QVERIFY(e.isVisible());
        e.close();
    });
    r.frame->cmdAdd_Click();
    QCOMPARE(r.rig.messages.texts(), QStringList{"Name ' ALPHA ' already used"});

    // Only spaces go: a tab is part of the name, so this is no duplicate of "alpha".
    r.rig.messages.shown.clear();
    r.onEditor([&](frmEditPosition& e) {
        e.txtPositionName->setText(QStringLiteral(" \talpha "));
        QTest::mouseClick(e.cmdOk, Qt::LeftButton);
        QCOMPARE(e.PositionName, QStringLiteral("\talpha"));
    });
    r.frame->cmdAdd_Click();
    QVERIFY(r.rig.messages.shown.isEmpty());
    QCOMPARE(r.rig.positions.List(0).left(20), QStringLiteral("\talpha              "));
}

void TestPositions::enterSetsValue() {
    PositionsRig r;
    r.onEditor([&](frmEditPosition& e) {
        QTest::mouseClick(e.txtNewPosition, Qt::LeftButton);
        e.txtNewPosition->selectAll();
        QTest::keyClicks(e.txtNewPosition, QStringLiteral("-0.5"));
        QTest::keyClick(e.txtNewPosition, Qt::Key_Return);
        QVERIFY(!e.isVisible());
        QVERIFY(!e.Cancel);
        QCOMPARE(e.Position, QStringLiteral("-0.5"));
        QCOMPARE(e.PositionName, QStringLiteral("Position1"));
    });
    r.frame->cmdAdd_Click();
    QCOMPARE(r.names(), QStringList{"Position1"});
    // -0.5 mm = -57567.21 steps, held as the raw count 16777216 - 57567.
    QCOMPARE(r.rig.positions.ItemData(0), 16719649);
    QCOMPARE(r.rig.positions.List(0), QStringLiteral("Position1               -0.500"));
}

void TestPositions::cancelPaths_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("failFirst");
    for (const char* how : {"cancel button", "escape", "close box"}) {
        QTest::newRow(how) << QString::fromLatin1(how) << false;
        QTest::newRow(qPrintable(QString::fromLatin1(how) + QStringLiteral(" after an error")))
            << QString::fromLatin1(how) << true;
    }
}

void TestPositions::cancelPaths() {
    QFETCH(QString, how);
    QFETCH(bool, failFirst);
    PositionsRig r;
    AddTwoRows(r);
    r.onEditor([&](frmEditPosition& e) {
        QTest::keyClicks(e.txtPositionName, QStringLiteral("Renamed"));
        if (failFirst) {
            Choose(e, false);
            e.txtNewPosition->setText(QStringLiteral("1e12"));
            QTest::mouseClick(e.cmdOk, Qt::LeftButton);
            QCOMPARE(r.rig.messages.texts(), QStringList{"Invalid Position"});
        }
        if (how == QLatin1String("cancel button"))
            QTest::mouseClick(e.cmdCancel, Qt::LeftButton);
        else if (how == QLatin1String("escape"))
            PressEscape();
        else
            QVERIFY(e.close());
        QVERIFY(!e.isVisible());
        QVERIFY(e.Cancel);
        QVERIFY(e.Position.isEmpty());
    });
    r.frame->cmdEdit_Click();
    QCOMPARE(r.editorRuns, 1);
    QCOMPARE(r.names(), (QStringList{"alpha", "focus"}));
    QCOMPARE(r.itemData(), (QList<int>{1000, 2000}));
    QCOMPARE(r.rig.positions.ListIndex(), 0);
}

void TestPositions::realignByDelta_data() {
    QTest::addColumn<QList<int>>("rows"); // a, b, c; b is edited
    QTest::addColumn<int>("current");
    QTest::addColumn<QList<int>>("shifted"); // a and c afterwards
    // At 115134.42 steps per mm and 3 decimals.
    QTest::addColumn<QString>("present");     // the current position as the editor returns it
    QTest::addColumn<int>("reinserted");      // b's steps after it is put back from that text
    QTest::addColumn<QStringList>("columns"); // a's and c's value columns afterwards
    QTest::newRow("up by 100") << QList<int>{1000, 2000, 3000} << 2100 << QList<int>{1100, 3100}
                               << "0.018" << 2072 << QStringList{"     0.010", "     0.027"};
    QTest::newRow("down past zero")
        << QList<int>{100, 5000, 16777000} << 1000 << QList<int>{16773316, 16773000} << "0.009"
        << 1036 << QStringList{"    -0.034", "    -0.037"};
    QTest::newRow("up past zero") << QList<int>{16777000, 5000, 8000} << 9000
                                  << QList<int>{3784, 12000} << "0.078" << 8980
                                  << QStringList{"     0.033", "     0.104"};
}

void TestPositions::realignByDelta() {
    QFETCH(QList<int>, rows);
    QFETCH(int, current);
    QFETCH(QList<int>, shifted);
    QFETCH(QString, present);
    QFETCH(int, reinserted);
    QFETCH(QStringList, columns);
    PositionsRig r;
    const QStringList names{"a", "b", "c"};
    for (int i = 0; i < 3; ++i)
        r.addRow(names[i], rows[i]);
    r.rig.positions.SetListIndex(1);
    r.rig.motion.CurrentPosition = current;
    r.rig.sim.clearFrames();
    r.rig.messages.answer(MsgAnswer::Yes);
    r.onEditor([&](frmEditPosition& e) {
        QTest::mouseClick(e.optUseNew, Qt::LeftButton);
        QTest::mouseClick(e.cmdReAlign, Qt::LeftButton);
        QVERIFY(!e.isVisible());
        QVERIFY(!e.Cancel);
        QCOMPARE(e.Position, present);
        QCOMPARE(e.PositionName, QStringLiteral("b"));
        // The other rows moved while the dialog was still up; the edited one waits.
        QCOMPARE(r.itemData(), (QList<int>{shifted[0], rows[1], shifted[1]}));
    });
    r.frame->cmdEdit_Click();

    QCOMPARE(r.rig.messages.shown.size(), 1);
    const ShownMessage& m = r.rig.messages.shown.first();
    QCOMPARE(m.icon, MsgIcon::Question);
    QCOMPARE(m.title, QStringLiteral("ReAlign All Positions"));
    QCOMPARE(m.text, RealignQuestion(true));
    QCOMPARE(m.buttons, MsgButtons::YesNo);
    QCOMPARE(r.names(), names);
    QCOMPARE(r.itemData(), (QList<int>{shifted[0], reinserted, shifted[1]}));
    QCOMPARE(r.rig.positions.List(0), QStringLiteral("a                   ") + columns[0]);
    QCOMPARE(r.rig.positions.List(2), QStringLiteral("c                   ") + columns[1]);
    QCOMPARE(r.rig.positions.ListIndex(), 1);
    QVERIFY(r.frames().isEmpty());
}

void TestPositions::realignDeclined_data() {
    QTest::addColumn<bool>("byDelta");
    QTest::newRow("use new position") << true;
    QTest::newRow("use old position") << false;
}

void TestPositions::realignDeclined() {
    QFETCH(bool, byDelta);
    PositionsRig r;
    r.rig.sim.model.setMemory(0x40, 1);
    AddTwoRows(r);
    r.rig.motion.CurrentPosition = 5000;
    r.rig.sim.clearFrames();
    r.rig.messages.answer(MsgAnswer::No);
    r.onEditor([&](frmEditPosition& e) {
        if (byDelta)
            QTest::mouseClick(e.optUseNew, Qt::LeftButton);
        QTest::mouseClick(e.cmdReAlign, Qt::LeftButton);
        QCOMPARE(r.rig.messages.texts(), QStringList{RealignQuestion(byDelta)});
        QVERIFY(e.isVisible());
        QVERIFY(e.Cancel);
        QVERIFY(e.cmdReAlign->isEnabled());
        QCOMPARE(r.itemData(), (QList<int>{1000, 2000}));
        e.close();
    });
    r.frame->cmdEdit_Click();
    QCOMPARE(r.itemData(), (QList<int>{1000, 2000}));
    QCOMPARE(r.frames(), byDelta ? QStringList() : QStringList{kGetCalibrated});
    QCOMPARE(r.rig.sim.model.position(), 0u);
}

void TestPositions::realignByCounter() {
    PositionsRig r;
    r.rig.sim.model.setMemory(0x40, 1);
    // Real limits +4000 (0x000FA0) and -4000 (0xFFF060): they move with the counter.
    for (const auto& [reg, value] : {std::pair{0x44, 0xFF},
                                     {0x45, 0xF0},
                                     {0x46, 0x60},
                                     {0x47, 0x00},
                                     {0x48, 0x0F},
                                     {0x49, 0xA0}})
        r.rig.sim.model.setMemory(reg, static_cast<quint8>(value));
    r.addRow(QStringLiteral("Camera"), 250000); // 2.171 mm
    r.addRow(QStringLiteral("Guider"), 7000);
    r.rig.positions.SetListIndex(0);
    r.rig.sim.clearFrames();
    r.rig.messages.answer(MsgAnswer::Yes);
    r.onEditor([&](frmEditPosition& e) {
        QVERIFY(e.optUseOld->isChecked());
        QTest::mouseClick(e.cmdReAlign, Qt::LeftButton);
        QVERIFY(!e.isVisible());
        QVERIFY(!e.Cancel);
        QCOMPARE(e.Position, QStringLiteral("2.171"));
    });
    r.frame->cmdEdit_Click();

    QCOMPARE(r.rig.messages.shown.size(), 1);
    const ShownMessage& m = r.rig.messages.shown.first();
    QCOMPARE(m.icon, MsgIcon::Question);
    QCOMPARE(m.title, QStringLiteral("ReAlign All Positions"));
    QCOMPARE(m.text, RealignQuestion(false));
    // GetCalibrated, the limits read, then SetPosition (4) with 250000 = 0x03D090 and the
    // real limits shifted by as much: 254000 = 0x03E030, 246000 = 0x03C0F0.
    QCOMPARE(r.frames().first(), kGetCalibrated);
    QVERIFY(r.frames().contains(QStringLiteral("50 04 12 04 03 D0 90 00")));
    QCOMPARE(r.rig.sim.model.memory(0x47), quint8(0x03));
    QCOMPARE(r.rig.sim.model.memory(0x48), quint8(0xE0));
    QCOMPARE(r.rig.sim.model.memory(0x49), quint8(0x30));
    QCOMPARE(r.rig.sim.model.memory(0x44), quint8(0x03));
    QCOMPARE(r.rig.sim.model.memory(0x45), quint8(0xC0));
    QCOMPARE(r.rig.sim.model.memory(0x46), quint8(0xF0));
    QCOMPARE(r.rig.sim.model.position(), 250000u);
    QCOMPARE(r.rig.sim.model.place(), 0); // the counter moved, the focuser did not
    // The table keeps its values; the edited row comes back from the text: 2.171 mm.
    QCOMPARE(r.names(), (QStringList{"Camera", "Guider"}));
    QCOMPARE(r.itemData(), (QList<int>{249957, 7000}));
}

void TestPositions::realignByCounterRefused_data() {
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QString>("message");
    QTest::newRow("controller not calibrated") << false << "Please Calibrate your focuser first.";
    QTest::newRow("flag cannot be read")
        << true << "The focuser did not answer; nothing was realigned.";
}

void TestPositions::realignByCounterRefused() {
    QFETCH(bool, silent);
    QFETCH(QString, message);
    PositionsRig r;
    AddTwoRows(r);
    r.rig.sim.clearFrames();
    r.rig.sim.model.setSilent(silent);
    r.onEditor([&](frmEditPosition& e) {
        QTest::mouseClick(e.cmdReAlign, Qt::LeftButton);
        QCOMPARE(r.rig.messages.shown.size(), 1);
        const ShownMessage& m = r.rig.messages.shown.first();
        QCOMPARE(m.icon, MsgIcon::Warning);
        QCOMPARE(m.title, QStringLiteral("tarnivel"));
        QCOMPARE(m.text, message);
        QVERIFY(e.isVisible());
        QVERIFY(e.Cancel);
        PressEscape();
    });
    r.frame->cmdEdit_Click();
    const QStringList frames = r.frames();
    QVERIFY(!frames.isEmpty());
    for (const QString& f : frames)
        QCOMPARE(f, kGetCalibrated); // no SetPosition
    QCOMPARE(r.rig.sim.model.position(), 0u);
    QCOMPARE(r.itemData(), (QList<int>{1000, 2000}));
}

void TestPositions::realignWaitsForTheLink() {
    PositionsRig r;
    r.rig.sim.model.setMemory(0x40, 1);
    AddTwoRows(r);
    bool clicked = false;
    r.rig.sim.platform.onPump([&] {
        if (clicked || !r.rig.sim.link.Busy())
            return;
        clicked = true;
        QTest::mouseClick(r.frame->findChild<frmEditPosition*>()->cmdReAlign, Qt::LeftButton);
    });
    r.onEditor([&](frmEditPosition& e) {
        r.rig.sim.commands.GetPosition(); // the poll tick's read, with the click in its wait
        QVERIFY(clicked);
        QVERIFY(r.rig.messages.shown.isEmpty());
        QTRY_VERIFY(!e.isVisible());
    });
    r.frame->cmdEdit_Click();
    QCOMPARE(r.rig.messages.shown.size(), 1);
    QCOMPARE(r.rig.messages.shown.first().text, RealignQuestion(false));
}

void TestPositions::localeRoundTrip_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("shown"); // old position of the edited row
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("stored"); // -1: refused
    QTest::newRow("C, point") << "C"
                              << "1.001"
                              << "0.5" << 57567;
    QTest::newRow("C, comma refused") << "C"
                                      << "1.001"
                                      << "0,5" << -1;
    QTest::newRow("German, comma") << "de_DE"
                                   << "1,001"
                                   << "0,5" << 57567;
    QTest::newRow("German, point as well") << "de_DE"
                                           << "1,001"
                                           << "0.5" << 57567;
    QTest::newRow("French, comma") << "fr_FR"
                                   << "1,001"
                                   << "-0,5" << 16719649;
}

void TestPositions::localeRoundTrip() {
    QFETCH(QString, locale);
    QFETCH(QString, shown);
    QFETCH(QString, typed);
    QFETCH(int, stored);
    QLocale::setDefault(QLocale(locale));
    PositionsRig r;
    r.addRow(QStringLiteral("Camera"), 115200);
    r.rig.positions.SetListIndex(0);

    // Keeping the old value: the shown text parses back.
    r.onEditor([&](frmEditPosition& e) {
        QCOMPARE(e.txtOldPosition->text(), shown);
        QTest::mouseClick(e.cmdOk, Qt::LeftButton);
    });
    r.frame->cmdEdit_Click();
    QCOMPARE(r.rig.positions.ItemData(0), 115200);
    QCOMPARE(ListEntryField(r.rig.positions.List(0), 1).trimmed(), shown);

    // A typed value.
    r.onEditor([&](frmEditPosition& e) {
        QTest::mouseClick(e.txtNewPosition, Qt::LeftButton);
        e.txtNewPosition->setText(typed);
        QTest::mouseClick(e.cmdOk, Qt::LeftButton);
        if (e.isVisible())
            e.close();
    });
    r.frame->cmdEdit_Click();
    if (stored < 0) {
        QCOMPARE(r.rig.messages.texts(), QStringList{"Invalid Position"});
        QCOMPARE(r.rig.positions.ItemData(0), 115200);
    } else {
        QVERIFY(r.rig.messages.shown.isEmpty());
        QCOMPARE(r.rig.positions.ItemData(0), stored);
    }
}

} // namespace tarnivel::test
