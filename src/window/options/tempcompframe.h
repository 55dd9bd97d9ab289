#pragma once

#include "core/settings/focusersettings.h"

#include <QGroupBox>
#include <QList>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tarnivel {

// The options' "Temperature Compensation" frame: the five settings, the line fitted through
// the marked focus points with "Use" (its slope becomes the coefficient) and "Clear points".
// Works on a copy; Store hands it back when the dialog's Ok is taken.
class TempCompFrame : public QGroupBox {
    Q_OBJECT
public:
    explicit TempCompFrame(QWidget* parent = nullptr);

    void Load(const FocuserSettings& settings);
    // False, with the focus in the first box that holds no number or one out of its range.
    bool Validate();
    void Store(FocuserSettings& settings) const;
    // The controls in reading order, for the dialog's tab order.
    QList<QWidget*> TabChain() const;

    QLineEdit* txtCoefficient = nullptr;
    QComboBox* cboSensor = nullptr;
    QLineEdit* txtDeadband = nullptr;
    QLineEdit* txtAverage = nullptr;
    QLineEdit* txtMaxTravel = nullptr;
    QLabel* lblFit = nullptr;
    QPushButton* cmdUseFit = nullptr;
    QPushButton* cmdClearPoints = nullptr;

private:
    void ShowFit();
    void cmdUseFit_Click();
    void cmdClearPoints_Click();

    QList<FocusPoint> points_;
    // Only Clear changes the points here: a calibration or ReAlign in the same dialog moves
    // the settings' own points with the counter, and Ok must not put the old ones back.
    bool pointsCleared_ = false;
};

} // namespace tarnivel
