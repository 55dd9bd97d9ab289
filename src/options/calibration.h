#pragma once

#include <QString>
#include <QtGlobal>

namespace tarnivel {

struct Console;
class frmOptions;

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

// The full and the quick calibration run inside the open options dialog: long handlers
// on the user-interface thread that drive the focuser against its end stops and give
// the event queue a turn between short pauses, so that Cancel can act.
class Calibration {
public:
    Calibration(Console& console, frmOptions& dialog);

    // Measures the travel between both end stops and centres the scale on it.
    void RunFull();
    // Finds the lower end stop and centres the scale on the travel stored by a full one.
    void RunQuick();
    // The Cancel button: the running calibration ends at its next check.
    void CancelClick();

    // True from the first step of a calibration until its last, cancel ending included.
    bool Active() const { return active_; }

private:
    enum class Outcome { Done, Cancelled, NotResponding, NoTravel };

    void Prepare(bool full);
    Outcome EdgeSearch(int rate, bool rightEdge);
    Outcome FindMiddleByRate();
    void Complete(int half, int travel, bool full);
    void End(Outcome outcome);

    // DisplayPosition, telling whether the controller answered.
    bool DisplayPosition();
    bool Running() const;
    void Pause(int ms);
    void PumpEvents();
    void EdgeSound();
    void Silence();
    void AppendLine(const QString& line);
    void SetLabel(const QString& text);

    Console& console_;
    frmOptions& dialog_;
    bool active_ = false;
    // The link's StopCount() when this calibration began: its moves end at a later stop.
    quint64 stopCount_ = 0;
};

} // namespace tarnivel
