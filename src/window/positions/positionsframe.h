#pragma once

#include <QGroupBox>

class QListView;
class QPushButton;

namespace tarnivel {

struct Console;

// The "Saved Positions" frame of the main window: the sorted list of named positions
// (console.positions shown in lstPosition) and its Add, Edit, Delete and Goto buttons.
class PositionsFrame : public QGroupBox {
    Q_OBJECT
public:
    explicit PositionsFrame(Console& console, QWidget* parent = nullptr);

    // Caption "Saved Positions (" + units + ")".
    void SetUnits(const QString& units);
    // Rebuilds every row text from its name and position (scale factor or decimals changed).
    void RefreshPositionRows();
    int NextDefaultPositionNumber() const;

    void cmdAdd_Click();
    void cmdEdit_Click();
    void cmdDelete_Click();
    void cmdGoto_Click();
    void lstPosition_DblClick();

    QListView* lstPosition = nullptr;
    QPushButton* cmdGoto = nullptr;
    QPushButton* cmdAdd = nullptr;
    QPushButton* cmdEdit = nullptr;
    QPushButton* cmdDelete = nullptr;

private:
    // The model's ListIndex is the truth; the view's selection follows it, and a row the
    // operator picks in the view becomes the new ListIndex.
    void ShowListIndex();
    void TakeViewSelection();
    // Inserts the editor's outcome at its sorted place and selects it.
    // steps: the row's exact steps, or -1 to take them from value.
    void InsertEditedRow(const QString& name, double value, int steps = -1);

    Console& console_;
    bool followingModel_ = false; // the view is being set from the model, or rows change
};

} // namespace tarnivel
