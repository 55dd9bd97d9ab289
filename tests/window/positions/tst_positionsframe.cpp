// The saved-positions frame: default names, sorted rows, selection, redraw and goto.

#include "tst_positions.h"

#include "core/units/positionunits.h"
#include "window/ui/qtmessagebox.h"

#include <QApplication>
#include <QFontInfo>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

namespace tarnivel::test {

namespace {

// The conversation as one line: "P" a position read, "D" a slew-done query, any other
// frame in brackets.
QString Conversation(const QStringList& frames) {
    QString out;
    for (const QString& f : frames) {
        if (f == QLatin1String("50 01 12 01 00 00 00 03"))
            out += QLatin1Char('P');
        else if (f == QLatin1String("50 01 12 13 00 00 00 01"))
            out += QLatin1Char('D');
        else
            out += QLatin1Char('[') + f + QLatin1Char(']');
    }
    return out;
}

// Each move: read the position, send the move, then poll (done?, read) until done; the
// finish reads the position once more.
QString ExpectedConversation(const QStringList& moves) {
    QString pattern = QStringLiteral("^");
    for (const QString& m : moves)
        pattern += QStringLiteral("P") +
                   QRegularExpression::escape(QLatin1Char('[') + m + QLatin1Char(']')) +
                   QStringLiteral("(DP)+");
    return pattern + QStringLiteral("P$");
}

void TypeName(frmEditPosition& e, const QString& name) {
    // The name entry has the focus with its text selected, so typing replaces it.
    QTest::keyClicks(e.txtPositionName, name);
}

} // namespace

void TestPositions::captionAndFont() {
    PositionsRig r;
    QCOMPARE(r.frame->objectName(), QStringLiteral("fraPositions"));
    QCOMPARE(r.frame->title(), QStringLiteral("Saved Positions (mm)"));
    r.frame->SetUnits(QStringLiteral("thou"));
    QCOMPARE(r.frame->title(), QStringLiteral("Saved Positions (thou)"));
    QVERIFY(QFontInfo(r.frame->lstPosition->font()).fixedPitch());
    QCOMPARE(r.frame->lstPosition->objectName(), QStringLiteral("lstPosition"));
    const QList<QPair<QPushButton*, QString>> buttons = {{r.frame->cmdGoto, "Goto"},
                                                         {r.frame->cmdAdd, "Add"},
                                                         {r.frame->cmdEdit, "Edit"},
                                                         {r.frame->cmdDelete, "Delete"}};
    for (const auto& [button, caption] : buttons)
        QCOMPARE(button->text(), caption);
    QCOMPARE(r.frame->cmdDelete->objectName(), QStringLiteral("cmdDelete"));
}

void TestPositions::defaultNumber_data() {
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<int>("expected");
    QTest::newRow("empty list") << QStringList() << 1;
    QTest::newRow("gap at 2") << QStringList{"Position1", "position3"} << 2;
    QTest::newRow("1 and 2 taken") << QStringList{"Position1", "Position2"} << 3;
    QTest::newRow("any case") << QStringList{"POSITION1", "pOsItIoN2"} << 3;
    QTest::newRow("taken out of order") << QStringList{"Position3", "Position2", "Position1"} << 4;
    QTest::newRow("only 2 taken") << QStringList{"Position2"} << 1;
    QTest::newRow("leading zero is another name") << QStringList{"Position01"} << 1;
    QTest::newRow("other names") << QStringList{"Focus", "Position 1", "Position1x"} << 1;
}

void TestPositions::defaultNumber() {
    QFETCH(QStringList, rows);
    QFETCH(int, expected);
    PositionsRig r;
    for (const QString& name : rows)
        r.addRow(name, 0);
    QCOMPARE(r.frame->NextDefaultPositionNumber(), expected);

    // Add proposes it.
    QString proposed;
    r.onEditor([&](frmEditPosition& e) { proposed = e.txtPositionName->text(); });
    r.frame->cmdAdd_Click();
    QCOMPARE(proposed, QStringLiteral("Position") + QString::number(expected));
    QCOMPARE(r.rig.positions.ListCount(), rows.size()); // dialog left without Set Value
}

void TestPositions::addProposesPresentPosition() {
    sim::SimConfig config;
    config.startPosition = 1234;
    PositionsRig r(config);
    r.addRow(QStringLiteral("Position1"), 0);
    QCOMPARE(r.rig.motion.CurrentPosition, 1234);
    r.onEditor([&](frmEditPosition& e) {
        QCOMPARE(e.Action, QStringLiteral("A"));
        QCOMPARE(e.PositionTable, &r.rig.positions);
        QCOMPARE(e.txtOldPosition->text(), QString());
        // 1234 steps = 0.010718 mm.
        QCOMPARE(e.txtNewPosition->text(), QStringLiteral("0.011"));
        QVERIFY(!e.optUseOld->isEnabled());
        QVERIFY(e.optUseNew->isEnabled());
        QVERIFY(e.optUseNew->isChecked());
        QVERIFY(!e.cmdReAlign->isEnabled());
        QTest::mouseClick(e.cmdOk, Qt::LeftButton);
        QVERIFY(!e.isVisible());
    });
    r.frame->cmdAdd_Click();
    QCOMPARE(r.editorRuns, 1);
    QCOMPARE(r.names(), (QStringList{"Position1", "Position2"}));
    // Stored from the text as shown: 0.011 mm = 1266.48 steps.
    QCOMPARE(r.rig.positions.ItemData(1), 1266);
    QCOMPARE(r.rig.positions.List(1), QStringLiteral("Position2                0.011"));
    QCOMPARE(r.rig.positions.ListIndex(), 1);
    QCOMPARE(r.viewRow(), 1);
    QVERIFY(r.frames().isEmpty());
}

void TestPositions::addOutsideActiveLimits_data() {
    QTest::addColumn<QList<int>>("upperLimitsSet"); // SetLimitMax calls before the Add
    QTest::addColumn<QString>("typed");             // mm
    QTest::addColumn<QStringList>("notices");

    const QStringList outside{QStringLiteral("Position1 lies outside the focuser's active "
                                             "limits: a Goto to it stops at the limit.")};
    // Upper limit byte 2: the controller stops at 131072 steps (1.138 mm).
    QTest::newRow("beyond the upper limit") << QList<int>{131072} << "2" << outside;
    QTest::newRow("inside the limits") << QList<int>{131072} << "1" << QStringList();
    QTest::newRow("limits off") << QList<int>{0} << "2" << QStringList();
    QTest::newRow("limits never read") << QList<int>{} << "2" << QStringList();
}

void TestPositions::addOutsideActiveLimits() {
    QFETCH(QList<int>, upperLimitsSet);
    QFETCH(QString, typed);
    QFETCH(QStringList, notices);
    PositionsRig r;
    for (const int steps : upperLimitsSet)
        QCOMPARE(r.rig.sim.commands.SetLimitMax(steps, 0), 0);
    r.onEditor([&](frmEditPosition& e) {
        e.txtNewPosition->setText(typed);
        QTest::mouseClick(e.cmdOk, Qt::LeftButton);
    });
    r.frame->cmdAdd_Click();
    QStringList shown;
    for (const ShownMessage& m : r.rig.messages.shown)
        shown << m.text;
    QCOMPARE(shown, notices);
}

void TestPositions::sortedInsert_data() {
    QTest::addColumn<QStringList>("order");
    QTest::newRow("alpha Beta gamma") << QStringList{"alpha", "Beta", "gamma"};
    QTest::newRow("gamma Beta alpha") << QStringList{"gamma", "Beta", "alpha"};
    QTest::newRow("Beta gamma alpha") << QStringList{"Beta", "gamma", "alpha"};
    QTest::newRow("gamma alpha Beta") << QStringList{"gamma", "alpha", "Beta"};
}

void TestPositions::sortedInsert() {
    QFETCH(QStringList, order);
    PositionsRig r;
    for (const QString& name : order) {
        r.onEditor([&](frmEditPosition& e) {
            TypeName(e, name);
            QTest::mouseClick(e.cmdOk, Qt::LeftButton);
        });
        r.frame->cmdAdd_Click();
        // The new row is the selected one, wherever it landed.
        const int selected = r.rig.positions.ListIndex();
        QVERIFY(selected >= 0);
        QCOMPARE(ListEntryField(r.rig.positions.List(selected), 0).trimmed(), name);
        QCOMPARE(r.viewRow(), selected);
    }
    QCOMPARE(r.names(), (QStringList{"alpha", "Beta", "gamma"}));
}

void TestPositions::deleteSelection_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("selected");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QStringList>("remaining");
    QTest::addColumn<int>("selectedAfter");
    QTest::newRow("only row") << 1 << 0 << true << QStringList() << -1;
    QTest::newRow("last of three") << 3 << 2 << true << QStringList{"a1", "b2"} << 1;
    QTest::newRow("first of three") << 3 << 0 << true << QStringList{"b2", "c3"} << 0;
    QTest::newRow("middle of three") << 3 << 1 << true << QStringList{"a1", "c3"} << 1;
    QTest::newRow("declined") << 3 << 1 << false << QStringList{"a1", "b2", "c3"} << 1;
}

void TestPositions::deleteSelection() {
    QFETCH(int, count);
    QFETCH(int, selected);
    QFETCH(bool, confirm);
    QFETCH(QStringList, remaining);
    QFETCH(int, selectedAfter);
    PositionsRig r;
    const QStringList all{"a1", "b2", "c3"};
    for (int i = 0; i < count; ++i)
        r.addRow(all[i], 1000 * (i + 1));
    r.rig.positions.SetListIndex(selected);
    r.rig.messages.answer(confirm ? MsgAnswer::Yes : MsgAnswer::No);

    QTest::mouseClick(r.frame->cmdDelete, Qt::LeftButton);

    QCOMPARE(r.rig.messages.shown.size(), 1);
    const ShownMessage& m = r.rig.messages.shown.first();
    QCOMPARE(m.icon, MsgIcon::None);
    QCOMPARE(m.title, QStringLiteral("Delete Position"));
    QCOMPARE(m.text, QStringLiteral("Are you sure you want to Delete '") + all[selected] +
                         QStringLiteral("' ?"));
    QCOMPARE(m.buttons, MsgButtons::YesNo);
    QCOMPARE(r.names(), remaining);
    QCOMPARE(r.rig.positions.ListIndex(), selectedAfter);
    QCOMPARE(r.viewRow(), selectedAfter);
    // The item data travelled with the rows.
    for (int i = 0; i < remaining.size(); ++i)
        QCOMPARE(r.rig.positions.ItemData(i), 1000 * (all.indexOf(remaining[i]) + 1));
}

void TestPositions::nothingSelectedDoesNothing() {
    PositionsRig r;
    r.addRow(QStringLiteral("a1"), 1000);
    r.addRow(QStringLiteral("b2"), 2000);
    QCOMPARE(r.rig.positions.ListIndex(), -1);
    for (QPushButton* button : {r.frame->cmdEdit, r.frame->cmdDelete, r.frame->cmdGoto})
        QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(r.editorRuns, 0);
    QVERIFY(r.rig.messages.shown.isEmpty());
    QVERIFY(r.rig.motionControlsCalls.isEmpty());
    QVERIFY(r.rig.motion.GotoMode == GotoKind::None);
    QVERIFY(r.frames().isEmpty());
    QCOMPARE(r.names(), (QStringList{"a1", "b2"}));
}

void TestPositions::viewFollowsListIndex() {
    PositionsRig r;
    r.addRow(QStringLiteral("b"), 2000);
    r.addRow(QStringLiteral("d"), 4000);
    r.rig.positions.SetListIndex(1);
    QCOMPARE(r.viewRow(), 1);
    // A row inserted above keeps the selection on the same position.
    r.addRow(QStringLiteral("a"), 1000);
    QCOMPARE(r.rig.positions.ListIndex(), 2);
    QCOMPARE(r.viewRow(), 2);
    // Removing a row above shifts it back; removing another row leaves it alone.
    r.rig.positions.RemoveItem(0);
    QCOMPARE(r.viewRow(), 1);
    r.addRow(QStringLiteral("e"), 5000);
    QCOMPARE(r.viewRow(), 1);
    QCOMPARE(r.rig.positions.ListIndex(), 1);
    r.rig.positions.SetListIndex(-1);
    QCOMPARE(r.viewRow(), -1);
}

void TestPositions::clickSelectsRow() {
    PositionsRig r;
    r.addRow(QStringLiteral("a"), 1000);
    r.addRow(QStringLiteral("b"), 2000);
    r.addRow(QStringLiteral("c"), 3000);
    QListView* view = r.frame->lstPosition;
    const QRect second = view->visualRect(r.rig.positions.index(1));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, second.center());
    QCOMPARE(r.rig.positions.ListIndex(), 1);
    QTest::keyClick(view, Qt::Key_Down);
    QCOMPARE(r.rig.positions.ListIndex(), 2);
    QCOMPARE(r.viewRow(), 2);
}

void TestPositions::decimalsChangeRedrawsRows() {
    PositionsRig r;
    // 12.346 mm.
    const int raw = 1421450;
    r.addRow(QStringLiteral("Camera"), raw);
    r.addRow(QStringLiteral("Eyepiece"), 16661997); // -1.001 mm
    QCOMPARE(r.rig.positions.List(0), QStringLiteral("Camera                  12.346"));
    r.rig.positions.SetListIndex(1);

    r.rig.settings.Decimals = 1;
    r.frame->RefreshPositionRows();

    QCOMPARE(r.rig.positions.List(0), QStringLiteral("Camera                    12.3"));
    QCOMPARE(r.rig.positions.List(1), QStringLiteral("Eyepiece                  -1.0"));
    QCOMPARE(r.itemData(), (QList<int>{raw, 16661997}));
    QCOMPARE(r.rig.positions.ListIndex(), 1);
    QCOMPARE(r.frame->lstPosition->model()->data(r.rig.positions.index(0)).toString(),
             QStringLiteral("Camera                    12.3"));
}

void TestPositions::scaleChangeRedrawsRows() {
    PositionsRig r;
    r.addRow(QStringLiteral("Camera"), 115134); // 1.000 mm
    r.rig.settings.ScaleFactor = 2924.414268;   // thou
    r.rig.settings.ScaleUnits = QStringLiteral("thou");
    r.frame->RefreshPositionRows();
    // 115134 / 2924.414268 = 39.37
    QCOMPARE(r.rig.positions.List(0), QStringLiteral("Camera                  39.370"));
    QCOMPARE(r.rig.positions.ItemData(0), 115134);
}

void TestPositions::editKeepingOldKeepsSteps() {
    PositionsRig r;
    // 1.000573 mm, shown as 1.001.
    r.addRow(QStringLiteral("Camera"), 115200);
    r.addRow(QStringLiteral("Guider"), 300000);
    r.rig.positions.SetListIndex(0);
    r.onEditor([&](frmEditPosition& e) {
        QCOMPARE(e.txtOldPosition->text(), QStringLiteral("1.001"));
        QVERIFY(e.optUseOld->isChecked());
        QTest::keyClick(e.txtPositionName, Qt::Key_Return);
    });
    QTest::mouseClick(r.frame->cmdEdit, Qt::LeftButton);
    QCOMPARE(r.names(), (QStringList{"Camera", "Guider"}));
    // Not 115250, the 1.001 mm the row shows.
    QCOMPARE(r.itemData(), (QList<int>{115200, 300000}));
    QCOMPARE(r.rig.positions.ListIndex(), 0);
    QVERIFY(r.frames().isEmpty());
}

void TestPositions::editRenamesAndReSorts() {
    PositionsRig r;
    r.addRow(QStringLiteral("alpha"), 1000);
    r.addRow(QStringLiteral("beta"), 2000);
    r.addRow(QStringLiteral("gamma"), 3000);
    r.rig.positions.SetListIndex(0);
    r.rig.motion.CurrentPosition = 57567; // 0.500 mm
    r.onEditor([&](frmEditPosition& e) {
        TypeName(e, QStringLiteral("zeta"));
        QTest::mouseClick(e.txtNewPosition, Qt::LeftButton);
        QVERIFY(e.optUseNew->isChecked());
        QTest::mouseClick(e.cmdOk, Qt::LeftButton);
    });
    r.frame->cmdEdit_Click();
    QCOMPARE(r.names(), (QStringList{"beta", "gamma", "zeta"}));
    QCOMPARE(r.itemData(), (QList<int>{2000, 3000, 57567}));
    QCOMPARE(r.rig.positions.ListIndex(), 2);
    QCOMPARE(r.viewRow(), 2);
}

void TestPositions::gotoFromList_data() {
    QTest::addColumn<int>("start");  // signed steps
    QTest::addColumn<int>("target"); // raw
    QTest::addColumn<int>("approach");
    QTest::addColumn<int>("overshoot");
    QTest::addColumn<int>("direction");
    QTest::addColumn<QStringList>("moves");
    // ApproachPosition (23 = 0x17) frames.
    QTest::newRow("down, final move down")
        << 20000 << 10000 << 1 << 3000 << -1 << QStringList{"50 04 12 17 00 27 10 00"};
    QTest::newRow("up, final move down: overshoot above")
        << -5000 << 5000 << 1 << 3000 << 1
        << QStringList{"50 04 12 17 00 1F 40 00", "50 04 12 17 00 13 88 00"};
    QTest::newRow("to a negative position, final move up: overshoot wraps")
        << 0 << 16767216 << 0 << 3000 << -1
        << QStringList{"50 04 12 17 FF CD 38 00", "50 04 12 17 FF D8 F0 00"};
    QTest::newRow("no overshoot") << -5000 << 5000 << 1 << 0 << 1
                                  << QStringList{"50 04 12 17 00 13 88 00"};
}

void TestPositions::gotoFromList() {
    QFETCH(int, start);
    QFETCH(int, target);
    QFETCH(int, approach);
    QFETCH(int, overshoot);
    QFETCH(int, direction);
    QFETCH(QStringList, moves);
    sim::SimConfig config;
    config.startPosition = start;
    PositionsRig r(config);
    r.rig.settings.Approach = approach;
    r.rig.settings.Overshoot = overshoot;
    r.addRow(QStringLiteral("Camera"), target);
    r.addRow(QStringLiteral("Other"), 123);
    r.rig.positions.SetListIndex(0);
    r.rig.sim.clearFrames();

    QTest::mouseClick(r.frame->cmdGoto, Qt::LeftButton);

    QCOMPARE(r.rig.motionControlsCalls, (QList<bool>{false}));
    QCOMPARE(r.rig.motion.MotionDirection, direction);
    QCOMPARE(r.rig.motion.GotoMode, kGotoModeGoto);
    QCOMPARE(r.rig.motion.GotoTarget, target);
    QVERIFY(r.frames().isEmpty()); // the poll ticks do the talking

    int ticks = 0;
    while (r.rig.motion.GotoMode == kGotoModeGoto && ticks < 200) {
        r.rig.gotos.RunStage();
        r.rig.sim.platform.advance(250); // the rest of a 250 ms poll tick
        ++ticks;
    }
    QVERIFY(r.rig.motion.GotoDone);
    QCOMPARE(r.rig.sim.model.position(), static_cast<quint32>(target));
    const QString conversation = Conversation(r.frames());
    QVERIFY2(QRegularExpression(ExpectedConversation(moves)).match(conversation).hasMatch(),
             qPrintable(conversation));
}

void TestPositions::doubleClickStartsGoto() {
    PositionsRig r;
    r.addRow(QStringLiteral("a"), 1000);
    r.addRow(QStringLiteral("b"), 2000);
    QListView* view = r.frame->lstPosition;
    const QPoint second = view->visualRect(r.rig.positions.index(1)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, second);
    QCOMPARE(r.rig.positions.ListIndex(), 1);
    QCOMPARE(r.rig.motionControlsCalls, (QList<bool>{false}));
    QCOMPARE(r.rig.motion.GotoMode, kGotoModeGoto);
    QCOMPARE(r.rig.motion.GotoTarget, 2000);
    QCOMPARE(r.rig.motion.MotionDirection, 1);
}

void TestPositions::doubleClickWhileDisabledDoesNothing() {
    PositionsRig r;
    r.addRow(QStringLiteral("a"), 1000);
    r.rig.positions.SetListIndex(0);
    r.frame->setEnabled(false);
    r.frame->lstPosition_DblClick();
    QVERIFY(r.rig.motionControlsCalls.isEmpty());
    QVERIFY(r.rig.motion.GotoMode == GotoKind::None);
}

// Delete, both ReAlign questions and Reset ask through the one real box: Enter answers No.
void TestPositions::questionsDefaultToNo() {
    QtMessageBox boxes;
    QTimer enter;
    QObject::connect(&enter, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            QTest::keyClick(modal, Qt::Key_Return);
    });
    enter.start(10);
    const MsgAnswer answer =
        boxes.show(MsgIcon::None, QStringLiteral("Delete Position"),
                   QStringLiteral("Are you sure you want to Delete 'alpha' ?"), MsgButtons::YesNo);
    QCOMPARE(int(answer), int(MsgAnswer::No));
}

} // namespace tarnivel::test
