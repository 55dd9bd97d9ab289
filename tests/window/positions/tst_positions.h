#pragma once

#include "consolerig.h"
#include "window/positions/frmeditposition.h"
#include "window/positions/positionsframe.h"

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

namespace tarnivel::test {

using EditorScript = std::function<void(frmEditPosition&)>;

// One console on the simulated controller with the positions frame built on it. The editor
// that Add and Edit open is driven by `script` in place of a modal loop.
struct PositionsRig {
    explicit PositionsRig(const sim::SimConfig& config = sim::SimConfig());

    // Row as the settings loader would add it.
    void addRow(const QString& name, int raw);
    QStringList names() const;
    QList<int> itemData() const;
    // Frames received by the controller, upper-case hex.
    QStringList frames() const;
    // Row selected in the view, -1 for none.
    int viewRow() const;
    // Makes `script` the editor's modal run; runs counts the dialogs shown.
    void onEditor(EditorScript script);

    ConsoleRig rig;
    std::unique_ptr<PositionsFrame> frame;
    int editorRuns = 0;
};

class TestPositions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    // The list frame.
    void captionAndFont();
    void defaultNumber_data();
    void defaultNumber();
    void addProposesPresentPosition();
    void addOutsideActiveLimits_data();
    void addOutsideActiveLimits();
    void sortedInsert_data();
    void sortedInsert();
    void deleteSelection_data();
    void deleteSelection();
    void nothingSelectedDoesNothing();
    void viewFollowsListIndex();
    void clickSelectsRow();
    void decimalsChangeRedrawsRows();
    void scaleChangeRedrawsRows();
    void editKeepingOldKeepsSteps();
    void editRenamesAndReSorts();
    void gotoFromList_data();
    void gotoFromList();
    void doubleClickStartsGoto();
    void doubleClickWhileDisabledDoesNothing();
    void questionsDefaultToNo();

    // The editor.
    void editorLayout();
    void editorOpensAtFormPlace();
    void nameSelectedOnFocus();
    void positionEntryFocusChoosesOption();
    void tabbingThroughKeepsTheChoice_data();
    void tabbingThroughKeepsTheChoice();
    void optionClicksAndReAlign();
    void entryErrors_data();
    void entryErrors();
    void editKeepsOwnName();
    void nameStoredTrimmed();
    void enterSetsValue();
    void cancelPaths_data();
    void cancelPaths();
    void realignByDelta_data();
    void realignByDelta();
    void realignDeclined_data();
    void realignDeclined();
    void realignByCounter();
    void realignByCounterRefused_data();
    void realignByCounterRefused();
    void realignWaitsForTheLink();
    void localeRoundTrip_data();
    void localeRoundTrip();
};

} // namespace tarnivel::test
