#pragma once

#include "core/device/temperaturelog.h"
#include "core/settings/focusersettings.h"

#include <QList>
#include <QLocale>
#include <QString>
#include <QtGlobal>
#include <deque>
#include <optional>

namespace tarnivel {

// The settings the rule works with, as loaded into FocuserSettings.
struct TempCompParameters {
    double coefficient = 0; // steps per °C; 0: unavailable
    int sensor = 1;         // 1..3
    int deadband = 10;      // steps
    int averageSeconds = 60;
    int maxTravel = 2000; // steps in total since switch-on

    static TempCompParameters From(const FocuserSettings& settings);
};

// What the device knows at a temperature reading, besides the reading itself.
struct TempCompConditions {
    bool connected = false;
    bool idle = false;           // nothing moves: no goto, jog, step or approach
    bool calibrating = false;    // a calibration runs
    bool exchanging = false;     // the options dialog talks to the controller
    bool commandWaiting = false; // a front end's command is queued
};

// Move: start a goto to target through the goto engine. Wait: nothing now, text says why.
// Following: on and within the dead band. SwitchedOff: it just switched itself off; text
// says why. Off: it was not on.
enum class TempCompAction { Off, Following, Wait, Move, SwitchedOff };

struct TempCompDecision {
    TempCompAction action = TempCompAction::Off;
    int target = 0; // signed steps, for Move
    QString text;   // the status line's text
};

// Signed steps between two limits, both included.
struct StepLimits {
    int lower = kNoLowerLimit;
    int upper = kNoUpperLimit;
    static constexpr int kNoLowerLimit = -8388607;
    static constexpr int kNoUpperLimit = 8388608;
};

// The focus compensation rule with no I/O: the device feeds it every temperature reading
// and the position, asks it once per reading whether to move, and tells it about every
// move it did not start. Positions are signed steps; temperatures Celsius; times are the
// platform's milliseconds.
class TempCompensation {
public:
    void setParameters(const TempCompParameters& parameters);
    const TempCompParameters& parameters() const { return parameters_; }
    // Whether switching on can work: a coefficient other than 0.
    bool Available() const { return parameters_.coefficient != 0; }

    // Every reading of the three sensors, compensation on or off (Mark focus averages too).
    void AddReading(qint64 nowMs, const TemperatureReadings& celsius);
    // The chosen sensor's average over the last averageSeconds (the latest reading for 0);
    // empty when the latest reading of that sensor is missing.
    std::optional<double> AverageCelsius(qint64 nowMs) const;

    // Switching on takes the reference at position. False (and off) when unavailable.
    bool SwitchOn(int position, qint64 nowMs);
    // The switch turned off by the operator, a connect or a disconnect: no message.
    void SwitchOff();
    // STOP from any front end.
    void Stop();
    bool On() const { return on_; }

    // After every move the compensation did not start (goto, step, jog, calibration,
    // Reset/Sync, ReAlign): the next reading while idle takes the reference, so a focuser
    // still coasting or a position not yet read back cannot be taken for it.
    void ReferenceDue() { referenceDue_ = true; }

    // What to do at this reading. A Move counts against the cap at once.
    TempCompDecision Decide(const TempCompConditions& conditions, int position,
                            const StepLimits& limits, qint64 nowMs);

    // State for the front ends.
    std::optional<double> ReferenceCelsius() const { return referenceCelsius_; }
    int ReferencePosition() const { return referencePosition_; }
    int Travelled() const { return travelled_; }
    // The last compensation move ("Temp comp: +12 steps at 14.3 °C"), empty before one.
    const QString& LastMoveText() const { return lastMoveText_; }
    // Why it last waited or switched off; empty while it follows.
    const QString& StatusText() const { return statusText_; }

    // degrees: 0 Celsius, 1 Fahrenheit for the temperature shown; steps carry their sign.
    static QString MoveText(int steps, double celsius, int degrees = 0,
                            const QLocale& locale = QLocale());

private:
    struct Sample {
        qint64 ms;
        TemperatureReadings celsius;
    };
    TempCompDecision Wait(const QString& why);
    TempCompDecision Off(const QString& why);

    TempCompParameters parameters_;
    std::deque<Sample> samples_;
    bool on_ = false;
    void TakeReference(int position, qint64 nowMs);

    bool referenceDue_ = false;
    std::optional<double> referenceCelsius_;
    int referencePosition_ = 0;
    int travelled_ = 0;
    QString lastMoveText_;
    QString statusText_;
};

// The line through the focus points (position against temperature), by least squares.
struct FocusFit {
    bool usable = false; // at least three points spanning at least 1 °C
    double slope = 0;    // steps per °C
    int count = 0;
    double spread = 0; // °C between the coldest and the warmest point
    double rSquared = 0;
};
inline constexpr int kFitMinPoints = 3;
inline constexpr double kFitMinSpreadCelsius = 1.0;

FocusFit FitFocusPoints(const QList<FocusPoint>& points);
// What the options show of a fit: "-80.0 steps/°C from 4 points over 3.0 °C, r² 0.982", or
// what is still missing ("2 points over 0.5 °C: at least 3 over 1.0 °C are needed").
QString FitText(const FocusFit& fit, const QLocale& locale = QLocale());

// The point Mark focus records: the chosen sensor's average, the position, the time
// (whole seconds, as the settings file keeps it). Empty without a reading.
std::optional<FocusPoint> MarkFocusPoint(const TempCompensation& compensation, int position,
                                         qint64 nowMs, const QDateTime& when);

} // namespace tarnivel
