// Manual adjust (jog while a button is held) and quick adjust (step moves). The handlers
// never talk to the controller while jogging: the poll tick sends the requested rate.

#include "window/app/frmtarnivel.h"

#include "core/link/focuserlink.h"
#include "core/motion/gotocontroller.h"
#include "core/motion/motionstate.h"
#include "core/seams/platform.h"
#include "core/units/positionunits.h"
#include "window/app/console.h"
#include "window/app/mainwidgets.h"
#include "window/ui/colours.h"
#include "window/ui/inputgate.h"

#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <cmath>

namespace tarnivel {

namespace {
constexpr double kStepSixteenth = 0.0625;
constexpr double kMaxStep = 100000;
constexpr int kStepTextDigits = 15;

// Shortest plain decimal text, written with the operator's decimal mark so that it reads
// back the way the operator types.
QString StepText(double value) {
    QString text = QString::number(value, 'g', kStepTextDigits);
    const QString point = QLocale().decimalPoint();
    if (point != QStringLiteral("."))
        text.replace(QLatin1Char('.'), point);
    return text;
}
} // namespace

void frmTarnivel::JogPress(JogButton* button, int rate) {
    if (!console_.link.LinkOpen())
        return;
    console_.motion.JogRate = rate;
    SetBackColour(button, ColourOn);
    ClearShortNote();
}

void frmTarnivel::JogRelease(JogButton* button) {
    if (console_.link.LinkOpen()) {
        SetBackColour(button, ColourOff);
        console_.motion.JogRate = 0;
    }
    cmdDummy->setFocus();
}

bool frmTarnivel::ReadStep(double& value) const {
    const QString text = txtAdjust->text().trimmed();
    double v = 0;
    if (text.isEmpty() || !ParseOperatorNumber(text, v) || !std::isfinite(v) || v <= 0)
        return false;
    value = v;
    return true;
}

void frmTarnivel::UpDownAdjust_Press(int y) {
    double g = 0;
    if (!ReadStep(g))
        return;
    const int half = UpDownAdjust->height() / 2;
    if (y <= half)
        g = g < 1 ? g + kStepSixteenth : g * 2;
    else
        g = g <= 1 ? g - kStepSixteenth : g / 2;
    if (g > kMaxStep)
        g = kMaxStep;
    if (g < kStepSixteenth)
        g = kStepSixteenth;
    txtAdjust->setText(StepText(g));
}

void frmTarnivel::ConvertStepEntry(double oldScaleFactor) {
    // The step means a distance: kept in steps, it would become a move of another size in
    // the new units (50 "user" steps read as 50 mm is millions of steps).
    const FocuserSettings& s = console_.settings;
    double step = 0;
    if (!ReadStep(step) || !UnitsWithinStepRange(step, oldScaleFactor))
        return;
    const int raw = UnitsToSteps(step, oldScaleFactor);
    txtAdjust->setText(StepText(StepsToUnits(raw, s.ScaleFactor, s.Decimals)));
}

void frmTarnivel::cmdIncrement_Click() {
    StepMove(1);
}

void frmTarnivel::cmdDecrement_Click() {
    StepMove(-1);
}

void frmTarnivel::StepMove(int sign) {
    const FocuserSettings& s = console_.settings;
    MotionState& m = console_.motion;
    // Taken at the click: a STOP handled while events are pumped below cancels this move.
    const quint64 stopCount = console_.link.StopCount();
    double step = 0;
    // A step the controller's counter cannot hold ("1e12") is as invalid as letters.
    if (!ReadStep(step) || !UnitsWithinStepRange(step, s.ScaleFactor)) {
        cmdDummy->setFocus();
        return;
    }
    EnableMotionControls(false);
    const int stepSteps = SignedSteps(UnitsToSteps(step, s.ScaleFactor));
    const int target = WrapSteps(SignedSteps(m.CurrentPosition) + sign * stepSteps);
    {
        // A dialog opened from the pump would keep the goto from starting until it closed.
        const InputGate::Scope starting(inputGate);
        console_.platform.pumpEvents();
        console_.device.BeginGoto(target, stopCount);
    }
    cmdDummy->setFocus();
}

} // namespace tarnivel
