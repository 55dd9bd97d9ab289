#include "tst_positions.h"

#include "core/units/positionunits.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QListView>
#include <QLocale>
#include <QTest>

namespace tarnivel::test {

PositionsRig::PositionsRig(const sim::SimConfig& config) : rig(config) {
    rig.sim.connect();
    rig.motion.CurrentPosition = static_cast<int>(rig.sim.model.position());
    frame = std::make_unique<PositionsFrame>(rig.console);
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    // An editor that nobody scripted must not block the test in a modal loop.
    rig.console.RunModal = [this](QDialog&) {
        ++editorRuns;
        QFAIL("editor opened without a script");
    };
}

void PositionsRig::addRow(const QString& name, int raw) {
    const FocuserSettings& s = rig.settings;
    rig.positions.AddItem(FormatListEntry(name, FormatPositionText(raw, s.ScaleFactor, s.Decimals)),
                          raw);
}

QStringList PositionsRig::names() const {
    QStringList out;
    for (int i = 0; i < rig.positions.ListCount(); ++i)
        out << ListEntryField(rig.positions.List(i), 0).trimmed();
    return out;
}

QList<int> PositionsRig::itemData() const {
    QList<int> out;
    for (int i = 0; i < rig.positions.ListCount(); ++i)
        out << rig.positions.ItemData(i);
    return out;
}

QStringList PositionsRig::frames() const {
    QStringList out;
    for (const QString& f : rig.sim.framesHex())
        out << f.toUpper();
    return out;
}

int PositionsRig::viewRow() const {
    const QModelIndexList rows = frame->lstPosition->selectionModel()->selectedIndexes();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void PositionsRig::onEditor(EditorScript script) {
    rig.console.RunModal = [this, script](QDialog& dialog) {
        ++editorRuns;
        auto& editor = static_cast<frmEditPosition&>(dialog);
        editor.show();
        editor.activateWindow();
        // Not qWaitForWindowActive: a dialog shares its parent's activation, so that would
        // return before the dialog has the keyboard.
        QVERIFY(QTest::qWaitFor([&] { return QApplication::activeWindow() == &editor; }));
        script(editor);
    };
}

namespace {

QtMessageHandler testlibHandler = nullptr;

// The offscreen platform warns about every window whose layout sets a minimum size; that
// says nothing about the code under test.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.contains(QLatin1String("does not support propagateSizeHints")))
        return;
    testlibHandler(type, context, text);
}

} // namespace

void TestPositions::initTestCase() {
    testlibHandler = qInstallMessageHandler(QuietHandler);
}

void TestPositions::cleanupTestCase() {
    qInstallMessageHandler(testlibHandler);
}

void TestPositions::init() {
    QLocale::setDefault(QLocale::c());
}

void TestPositions::cleanup() {
    QLocale::setDefault(QLocale::c());
}

} // namespace tarnivel::test

QTEST_MAIN(tarnivel::test::TestPositions)
