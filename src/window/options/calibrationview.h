#pragma once

#include "core/device/calibration.h"

namespace tarnivel {

inline const QString kLabelCalibrationNeeded =
    QStringLiteral("Focuser requires Calibrating before using.");

class frmOptions;

// The options dialog's face of a calibration: the progress label, the check boxes and the
// buttons that are locked while it runs.
class CalibrationView final : public CalibrationObserver {
public:
    explicit CalibrationView(frmOptions& dialog) : dialog_(dialog) {}

    void CalibrationStarting() override;
    void CancelWithdrawn() override;
    void CalibrationEnded() override;
    QString ProgressText() const override;
    void SetProgressText(const QString& text) override;
    void ShowAutoStop(bool on) override;
    void ShowLimits(bool on) override;
    bool CompletionSound() const override;
    void CalibrationLost() override;

private:
    frmOptions& dialog_;
};

} // namespace tarnivel
