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
    // Steps past the target of a correction against the approach side (0: straight there).
    int overshoot = 0;
    int approach = 1;   // the final approach: 0 upward, 1 downward, as the goto's
    QString sensorName; // the operator's name for the sensor; "" reads "sensor N"
    int degrees = 0;    // the operator's degrees for texts: 0 Celsius, 1 Fahrenheit

    static TempCompParameters From(const FocuserSettings& settings);
    // "Primary", or "sensor 2" for a sensor without a name.
    QString SensorText() const;
};

// What the device knows at a temperature reading, besides the reading itself.
struct TempCompConditions {
    bool connected = false;
    bool idle = false;           // nothing moves: no goto, jog, step or approach
    bool calibrating = false;    // a calibration runs
    bool exchanging = false;     // the options dialog talks to the controller
    bool commandWaiting = false; // a front end's command is queued
    bool ready = true;           // the controller has been read since the connect
    bool positionRead = true;    // the last position read was answered
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
    // A new connection: readings of the last one say nothing of this night.
    void ClearReadings() { samples_.clear(); }
    // The chosen sensor's average over the last averageSeconds (the latest reading for 0);
    // empty when the latest reading of that sensor is missing or older than the window.
    std::optional<double> AverageCelsius(qint64 nowMs) const;

    // Switching on takes the reference at position, or at the first reading once ready when
    // not ready or without a fresh reading. False (and off) when unavailable.
    bool SwitchOn(int position, qint64 nowMs, bool ready = true);
    // The switch turned off by the operator, a connect or a disconnect: no message.
    void SwitchOff();
    // STOP from any front end; shortBy: the steps a correction under way was left from its
    // target.
    void Stop(std::optional<int> shortBy = std::nullopt);
    // The port closed itself.
    void LinkLost();
    bool On() const { return on_; }

    // After every move the compensation did not start (goto, step, jog, calibration,
    // Reset/Sync, ReAlign): the next reading while idle takes the reference, so a focuser
    // still coasting or a position not yet read back cannot be taken for it. Its last move's
    // text goes: that move no longer says where the focuser stands.
    void ReferenceDue() {
        referenceDue_ = true;
        lastMoveText_.clear();
    }

    // What to do at this reading. A Move counts what it will travel against the cap at once.
    TempCompDecision Decide(const TempCompConditions& conditions, int position,
                            const StepLimits& limits, qint64 nowMs);

    // State for the front ends.
    std::optional<double> ReferenceCelsius() const { return referenceCelsius_; }
    int ReferencePosition() const { return referencePosition_; }
    int Travelled() const { return travelled_; }
    // The last compensation move ("Temp comp: +12 steps at 14.3 °C") while it is the last
    // move of the focuser and compensation is on; empty otherwise.
    const QString& LastMoveText() const { return lastMoveText_; }
    // Why it last waited or switched off; empty while it follows.
    const QString& StatusText() const { return statusText_; }

    // The steps a correction from position to target really runs: straight when it ends
    // moving toward the approach side, else out past the target (inside limits) and back.
    qint64 PathSteps(int position, int target, const StepLimits& limits) const;

    // degrees: 0 Celsius, 1 Fahrenheit for the temperature shown; steps carry their sign.
    // averageSeconds other than 0 says the temperature is an average.
    static QString MoveText(int steps, double celsius, int degrees = 0,
                            const QLocale& locale = QLocale(), int averageSeconds = 0);

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
    int count = 0;       // the points fitted
    int before = 0;      // points of the sensor left out: marked before a calibration
    double spread = 0;   // °C between the coldest and the warmest point
    double rSquared = 0;
};
inline constexpr int kFitMinPoints = 3;
inline constexpr double kFitMinSpreadCelsius = 1.0;

// sensor 0 fits every point; 1..3 only that sensor's. Points marked before a calibration are
// left out: the counter has moved under them by an unknown amount.
FocusFit FitFocusPoints(const QList<FocusPoint>& points, int sensor = 0);
// What the options show of a fit: "-80.0 steps/°C from 4 points over 3.0 °C, r² 0.982", or
// what is still missing ("2 points over 0.5 °C: at least 3 over 1.0 °C are needed"); with a
// sensor's name, whose points ("from 4 points of Primary"), and the points left out.
QString FitText(const FocusFit& fit, const QLocale& locale = QLocale(),
                const QString& sensorName = QString());
// The counter reads shift more than it did: the points keep their place on the focuser.
void ShiftFocusPoints(QList<FocusPoint>& points, qint64 shift);
// A calibration moved the counter by an amount nobody knows.
void MarkFocusPointsBefore(QList<FocusPoint>& points);

// The point Mark focus records: the chosen sensor's average, the position, the time
// (whole seconds, as the settings file keeps it). Empty without a reading.
std::optional<FocusPoint> MarkFocusPoint(const TempCompensation& compensation, int position,
                                         qint64 nowMs, const QDateTime& when);

} // namespace tarnivel
