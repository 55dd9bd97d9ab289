#pragma once

#include "core/seams/sequence.h"

#include <QString>
#include <QtGlobal>

namespace tarnivel {

class FocuserDevice;

inline constexpr int kCalibrationRate = 9;
inline constexpr int kEdgeStillMs = 1000; // no change for this long marks an end stop
inline constexpr int kEdgePollMs = 100;
inline constexpr int kRightEdgeRearmMs = 5000;
inline constexpr int kMiddleRunMs = 5000;
inline constexpr int kPhasePauseMs = 1000;
inline constexpr int kSettlePauseMs = 500;

inline const QString kLabelLeftEdge = QStringLiteral("<<<< Finding Left Edge <<<<");
inline const QString kLabelRightEdge = QStringLiteral(">>>> Finding Right Edge >>>>");
inline const QString kLabelMiddle = QStringLiteral(">>>> Finding Middle <<<<");
inline const QString kLabelComplete = QStringLiteral("Calibration Complete\r\n-- Ready --");
inline const QString kLabelCancelled = QStringLiteral("Cancelled!");
inline const QString kLabelNotResponding =
    QStringLiteral("Calibration failed: focuser not responding");
inline const QString kLabelNoTravel = QStringLiteral("Calibration failed: no travel measured");
// What the completion stores, as its failure texts name it.
inline const QString kLabelActiveLimitsUnconfirmed = QStringLiteral(
    "Calibration failed: the controller did not confirm the active limits; calibrate again");
inline const QString kLabelRealLimitsUnconfirmed = QStringLiteral(
    "Calibration failed: the controller did not confirm the real limits; calibrate again");
inline const QString kLabelAutoStopUnconfirmed = QStringLiteral(
    "Calibration failed: the controller did not confirm the auto-stop; calibrate again");
inline const QString kLabelTravelUnconfirmed = QStringLiteral(
    "Calibration failed: the controller did not confirm the travel; calibrate again");
inline const QString kLabelFlagUnconfirmed = QStringLiteral(
    "Calibration failed: the controller did not confirm the Calibrated flag; calibrate again");

// Where a calibration shows its progress: the options dialog with its label, check boxes
// and buttons, the INDI driver with properties.
class CalibrationObserver {
public:
    virtual ~CalibrationObserver() = default;
    // Every other control is locked, Cancel offered, the limits frame locked.
    virtual void CalibrationStarting() = 0;
    // Cancel is no longer offered (the calibration is past the point of cancelling).
    virtual void CancelWithdrawn() = 0;
    // The controls are usable again.
    virtual void CalibrationEnded() = 0;
    virtual QString ProgressText() const = 0;
    virtual void SetProgressText(const QString& text) = 0;
    virtual void ShowAutoStop(bool on) = 0;
    virtual void ShowLimits(bool on) = 0;
    // The edge sound: the completion sound when this is on, otherwise silence.
    virtual bool CompletionSound() const = 0;
    // A quick calibration ended after it had moved the counter: the focuser is left
    // uncalibrated and needs a calibration.
    virtual void CalibrationLost() {}
};

// The full and the quick calibration: long sequences that drive the focuser against its end
// stops and give waiting events a turn between short pauses, so that Cancel can act. The
// options dialog runs them in place; the driver spends their waits on its event loop.
class Calibration {
public:
    Calibration(FocuserDevice& device, CalibrationObserver& view);

    // Measures the travel between both end stops and centres the scale on it.
    // True when it completed.
    bool RunFull();
    // Finds the lower end stop and centres the scale on the travel stored by a full one.
    // True when it completed.
    bool RunQuick();
    Sequence<bool> Full(Pacer& pacer);
    Sequence<bool> Quick(Pacer& pacer);
    // The Cancel button: the running calibration ends at its next check.
    void CancelClick();

    // Forgets a calibration whose sequence was dropped where it waited (the driver lost its
    // connection): nothing more is sent for it.
    void Abandon();

    // True from the first step of a calibration until its last, cancel ending included.
    bool Active() const { return active_; }

private:
    enum class Outcome { Done, Cancelled, NotResponding, NoTravel, Unconfirmed };

    Sequence<bool> Prepare(Pacer& pacer, bool full);
    Sequence<Outcome> EdgeSearch(Pacer& pacer, int rate, bool rightEdge);
    Sequence<Outcome> FindMiddleByRate(Pacer& pacer);
    Sequence<bool> Complete(Pacer& pacer, int half, int travel, bool full);
    Sequence<bool> End(Pacer& pacer, Outcome outcome);
    // The completion's write that the controller did not confirm, named for the operator.
    Sequence<bool> Unconfirmed(Pacer& pacer, const QString& label);

    // DisplayPosition, telling whether the controller answered.
    bool DisplayPosition();
    bool Running() const;
    void EdgeSound();
    void Silence();
    void AppendLine(const QString& line);
    void SetLabel(const QString& text);

    FocuserDevice& device_;
    CalibrationObserver& view_;
    bool active_ = false;
    // The link's StopCount() when this calibration began: its moves end at a later stop.
    quint64 stopCount_ = 0;
    // A quick calibration that has not yet moved the counter: its stored limits still hold.
    bool keepStored_ = false;
    QString unconfirmed_;
    // How much more the counter reads since the start, while every set of it followed a
    // position read that got through; the device moves the focus points by it.
    qint64 shift_ = 0;
    bool counterSet_ = false;
    bool shiftKnown_ = true;
    bool lastReadOk_ = false;
    void SetCounter(int raw);
    void ReportShift();
    bool quick_ = false;
};

} // namespace tarnivel
