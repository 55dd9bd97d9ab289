#pragma once

#include <QDialog>
#include <QString>

class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tarnivel {

struct Console;
class SavedPositionList;

// "Save Position": names a position and chooses between the row's old value and the
// focuser's present one; in Edit it can also reconcile the whole table with the focuser's
// counter (ReAlign). Driven through its properties: the caller sets them, calls Display
// and reads Cancel, PositionName and Position back.
class frmEditPosition : public QDialog {
    Q_OBJECT
public:
    explicit frmEditPosition(Console& console, QWidget* parent = nullptr);
    ~frmEditPosition() override;

    // Fills the controls from the properties and shows the dialog modally (through
    // console.RunModal); returns when it is hidden.
    void Display();

    // Properties.
    SavedPositionList* PositionTable = nullptr;
    int FormLeft = 0; // centred on the screen until the caller moves it
    int FormTop = 0;
    QString PositionName;
    QString OldPosition; // display units
    QString NewPosition; // display units
    QString Position;    // out: the chosen position in display units, empty after Cancel
    QString Action;      // "A" add, "E" edit
    bool Cancel = true;
    // out: Set Value kept the old position as shown, so the row keeps its exact steps.
    bool OldPositionKept = false;

    // Event handlers, public so that tests can drive them like a click would.
    void cmdOk_Click();
    void cmdReAlign_Click();
    void cmdCancel_Click();
    void optUseOld_Click();
    void optUseNew_Click();

    QGroupBox* Frame1 = nullptr;
    QLineEdit* txtPositionName = nullptr;
    QGroupBox* fraPosition = nullptr;
    QRadioButton* optUseOld = nullptr;
    QRadioButton* optUseNew = nullptr;
    QLineEdit* txtOldPosition = nullptr;
    QLineEdit* txtNewPosition = nullptr;
    QPushButton* cmdOk = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdReAlign = nullptr;

public Q_SLOTS:
    // Esc and the close box end here as well as Cancel.
    void reject() override;

    // Every way out records where the dialog stood (FormLeft, FormTop are in/out).
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool NameTestPasses();
    // "Position is required" / "Invalid Position" for one entry; the entry gets the focus
    // after a failure.
    bool PositionEntryPasses(QLineEdit* entry);
    void EntryError(const QString& text, QLineEdit* focusTo);
    // Selects the option of that entry as its click would.
    void ChooseOld();
    void ChooseNew();
    bool IsEdit() const { return Action == QLatin1String("E"); }
    void RealignByDelta(int editedRow);
    void Finish(const QString& position);
    // ReAlign by the counter, once no other command waits for its answer.
    void RealignByCounter(int editedRow);

    Console& console_;
    // A mouse click that focuses the name entry would otherwise undo the selection made on
    // focus-in; the release re-selects once.
    bool selectNameOnRelease_ = false;
    bool realignWaiting_ = false;
};

} // namespace tarnivel
