#include "window/options/calibrationview.h"

#include "window/options/frmoptions.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace tarnivel {

void CalibrationView::CalibrationStarting() {
    dialog_.EnableOptionControls(false);
    // The state report talks to the controller too; its frames must not land between
    // the calibration's.
    dialog_.cmdShowStates->setEnabled(false);
    dialog_.cmdCancelCalibrate->setVisible(true);
    dialog_.fraLimits->setEnabled(false);
}

void CalibrationView::CancelWithdrawn() {
    dialog_.cmdCancelCalibrate->setVisible(false);
}

void CalibrationView::CalibrationEnded() {
    dialog_.EnableOptionControls(true);
    dialog_.cmdShowStates->setEnabled(true);
}

QString CalibrationView::ProgressText() const {
    return dialog_.lblCalibrate->text();
}

void CalibrationView::SetProgressText(const QString& text) {
    dialog_.lblCalibrate->setText(text);
}

void CalibrationView::ShowAutoStop(bool on) {
    dialog_.chkAutoStop->setChecked(on);
}

void CalibrationView::ShowLimits(bool on) {
    dialog_.ShowLimitsWritten(on);
}

void CalibrationView::CalibrationLost() {
    dialog_.CalibrationNeeded = true;
    dialog_.lblCalibrate->setText(dialog_.lblCalibrate->text() + QStringLiteral("\r\n") +
                                  kLabelCalibrationNeeded);
}

bool CalibrationView::CompletionSound() const {
    return dialog_.CompletionSound;
}

} // namespace tarnivel
