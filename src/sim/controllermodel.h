#pragma once

// A stand-in for the focuser controller firmware: it takes the 8-byte pass-through frames
// byte by byte, acts on them like the real controller and queues its answer bytes with the
// time at which each one reaches the console. It keeps no clock of its own: whoever owns
// it (SimSerialPort, the tarnivel-sim tool, a test) moves it forward with advanceTo().
//
// Behaviour the firmware leaves open, as this model settles it:
// - Positions: the counter is an unsigned 24-bit view of a mechanical position. SetPosition
//   (4) shifts the view, never the mechanics. Gotos (2, 23) take the short way round the
//   24-bit circle, so a target read as negative lies below zero.
// - Motion runs at constant speed (steps per second) from the moment the frame's last byte
//   arrives; GotoPosition uses slewSpeed, ApproachPosition approachSpeed, MoveAtRate the
//   rateSpeeds entry of its rate. A new motion command replaces the running one; rate 0
//   stops everything.
// - IsSlewDone (19) answers 0 while the motor runs (for any reason) and 0xFF otherwise.
// - End stops: motion stalls there and the counter stops changing. With auto-stop on, the
//   controller then stops the motor (a goto counts as done); with auto-stop off the motor
//   keeps pushing against the stop until told otherwise, so a goto beyond the travel never
//   reports done. Switching auto-stop on while stalled stops the motor at once. Either way
//   the counter stands still at a stop, which is what an edge search of the calibration
//   waits for; auto-stop only decides whether the motor keeps straining there.
// - Active limits: byte b (1..255) sets the limit at raw position b * 65536 and is read back
//   as that 3-byte value; 0 switches the limit off. Positions are compared as signed
//   steps (raw above 8388608 is negative), so a lower limit byte of 0xF9 with an upper
//   one of 0x06 allows -458752..393216. Motion towards a limit stops on reaching it
//   (a goto ends there, done); motion back inside is free. Limits act whatever auto-stop is.
// - Memory registers 0x40..0x49 (48/49); other addresses read 0 and ignore writes.
// - GetSensorSlot (46) for an n past the fitted count answers 0xFF.
// - The fan address knows only SetFan (39: any non-zero byte switches the fans on) and
//   GetFanState (40: 3 while off, 0 while running); the focuser address knows the rest of
//   the catalogue. A message an address does not know gets no answer, like a frame for
//   another bus address, so a command sent to the wrong address shows as a time-out.
// - Every answer has exactly the frame's reply-length data bytes: a longer natural answer
//   keeps its last bytes, a shorter one is padded with leading zeros.
// - A frame that stays incomplete for frameTimeoutMs is dropped; bytes other than "P" while
//   waiting for a frame are ignored, so the controller resynchronises on the next marker.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>
#include <deque>
#include <functional>
#include <random>

namespace tarnivel::sim {

inline constexpr int kFirstRegister = 0x40;
inline constexpr int kRegisterCount = 10; // 0x40..0x49
inline constexpr int kSensorSlots = 3;
inline constexpr int kRateCount = 10; // rates 0..9
inline constexpr qint64 kCounterModulus = 16777216;

enum class Fault {
    NoAnswer,        // the frame is acted on, its answer is lost
    WrongTerminator, // the answer ends with a byte other than "#"
    DropByte,        // the first byte of the answer is lost
    ExtraByte,       // a garbage byte precedes the answer
    SlowAnswer,      // the answer leaves after the slow delay
    GoSilent,   // from this frame on, nothing is acted on or answered (setSilent(false) ends it)
    PortVanish, // the device disappears: the port closes itself as after a pulled cable
};

// Chances per answered frame of each fault (0..1), drawn from a generator seeded with
// SimConfig::faultSeed, so a run with the same seed and the same conversation repeats.
struct FaultRates {
    double noAnswer = 0.0;
    double wrongTerminator = 0.0;
    double dropByte = 0.0;
    double extraByte = 0.0;
    double slowAnswer = 0.0;
    double goSilent = 0.0;
    double portVanish = 0.0;
};

struct SensorConfig {
    bool fitted = true;
    double setPoint = 20.0; // degrees Celsius
};

// Everything the simulated controller starts with. The defaults suit tests: no reply delay,
// no drift, no faults, no state file.
struct SimConfig {
    int focuserAddress = 18;
    int fanAddress = 19;

    // Mechanics in steps as the counter reads them at power-on, signed (raw above 8388608
    // is negative). The travel is upperEndStop - lowerEndStop.
    qint64 lowerEndStop = -30000;
    qint64 upperEndStop = 30000;
    qint64 startPosition = 0;

    // Speeds in steps per second.
    int slewSpeed = 4000;
    int approachSpeed = 4000;
    std::array<int, kRateCount> rateSpeeds{0, 10, 25, 50, 100, 250, 500, 1000, 2000, 4000};

    bool autoStop = false;
    int limitMinByte = 0;
    int limitMaxByte = 0;
    std::array<quint8, kRegisterCount> registers{}; // 0x40..0x49 at power-on

    int firmwareMajor = 2;
    int firmwareMinor = 7;

    // Slots 1..3.
    std::array<SensorConfig, kSensorSlots> sensors{{{true, 18.0}, {true, 12.5}, {false, 20.0}}};
    // Readings drift as a slow sine around the set point; 0 keeps them exactly on it.
    double driftAmplitude = 0.0; // degrees Celsius
    int driftPeriodMs = 20 * 60 * 1000;
    bool fanOn = false;

    // Time from a frame's last byte to the first answer byte, and between answer bytes.
    int replyDelayMs = 0;
    int byteIntervalMs = 0;
    // Delay of a SlowAnswer fault (longer than the link's 385 ms receive time-out).
    int slowAnswerMs = 500;
    int frameTimeoutMs = 500;

    FaultRates faultRates;
    quint32 faultSeed = 1;

    // When set, the registers, limits, auto-stop and the position are loaded from this file
    // at construction (if it exists) and written back after every change of a register.
    QString stateFile;
};

// One scheduled fault: messageId -1 matches every message; times -1 never runs out.
struct FaultRule {
    int messageId = -1;
    Fault fault = Fault::NoAnswer;
    int times = 1;
    int delayMs = -1; // SlowAnswer only; -1 takes SimConfig::slowAnswerMs
};

class ControllerModel {
public:
    explicit ControllerModel(const SimConfig& config = SimConfig());

    const SimConfig& config() const { return config_; }

    // ---- Time -----------------------------------------------------------------------------
    // Runs the mechanics up to nowMs; earlier times are ignored.
    void advanceTo(qint64 nowMs);
    qint64 now() const { return now_; }

    // ---- Wire ----------------------------------------------------------------------------
    // A byte from the console, arriving at nowMs (the model first advances to it).
    void receiveByte(quint8 byte, qint64 nowMs);
    // Answer bytes whose arrival time has come.
    int bytesArrived(qint64 nowMs) const;
    // Next arrived byte, or -1.
    int takeByte(qint64 nowMs);
    QByteArray discardArrived(qint64 nowMs);
    // Forgets every queued answer byte and any half-received frame (the line was closed).
    void resetLine();
    // Arrival time of the next queued answer byte, or -1 when none is queued.
    qint64 nextArrival() const;

    // ---- Conversation log ----------------------------------------------------------------
    // Every complete frame received, oldest first, whichever address it was for and whether
    // or not it was answered (a silent controller still logs what reaches it).
    const QList<QByteArray>& frames() const { return frames_; }
    void clearFrames() { frames_.clear(); }
    static QString toHex(const QByteArray& bytes); // "50 01 12 01 00 00 00 03"
    // Called for each complete frame with the bytes queued in answer (empty: no answer).
    std::function<void(const QByteArray& frame, const QByteArray& answer)> onExchange;

    // ---- Focuser -------------------------------------------------------------------------
    quint32 position() const; // raw counter 0..16777215
    // Loads the counter without moving, as SetPosition (4) does.
    void setPosition(quint32 raw);
    // Puts the focuser at a place given in power-on counter steps (clamped to the end
    // stops) and stops the motor; the counter follows.
    void placeAt(qint64 steps);
    qint64 place() const; // mechanical place in power-on counter steps
    bool atLowerEndStop() const;
    bool atUpperEndStop() const;
    bool isMoving() const { return motion_ != Motion::None; }
    bool isGotoRunning() const { return motion_ == Motion::Goto; }
    int rate() const { return motion_ == Motion::Rate ? rate_ : 0; } // signed, -9..9
    bool slewDone() const { return !isMoving(); }

    bool autoStop() const { return autoStop_; }
    void setAutoStop(bool on);
    int limitMinByte() const { return limitMinByte_; }
    int limitMaxByte() const { return limitMaxByte_; }
    void setLimitBytes(int minByte, int maxByte);

    // reg 0x40..0x49; others read 0 and are not written.
    quint8 memory(int reg) const;
    void setMemory(int reg, quint8 value);

    // ---- Sensors, fans, version -------------------------------------------------------------
    bool fanOn() const { return fanOn_; }
    void setFanOn(bool on) { fanOn_ = on; }
    // slot 1..3. The reading is the set point plus the drift at the current time.
    double temperature(int slot) const;
    void setTemperature(int slot, double celsius);
    bool sensorFitted(int slot) const;
    void setSensorFitted(int slot, bool fitted);
    void setDrift(double amplitude, int periodMs);
    int firmwareMajor() const { return firmwareMajor_; }
    int firmwareMinor() const { return firmwareMinor_; }
    void setFirmwareVersion(int major, int minor);
    // 1/16 degree two's complement, low byte first.
    static QByteArray encodeTemperature(double celsius);

    // ---- Faults ----------------------------------------------------------------------------
    void injectFault(const FaultRule& rule);
    void injectFault(int messageId, Fault fault, int times = 1) {
        injectFault(FaultRule{messageId, fault, times, -1});
    }
    void clearFaults() { rules_.clear(); }
    void setFaultRates(const FaultRates& rates) { rates_ = rates; }
    bool silent() const { return silent_; }
    void setSilent(bool silent) { silent_ = silent; }
    // True once after a PortVanish fault; the port then drops the connection.
    bool takeVanishRequest();

    // ---- State file ------------------------------------------------------------------------
    bool loadState(const QString& path);
    bool saveState(const QString& path) const;
    // Writes the configured state file, if any.
    bool saveState() const;

private:
    enum class Motion { None, Goto, Rate };
    struct OutByte {
        qint64 at;
        quint8 byte;
    };

    void handleFrame(const QByteArray& frame);
    QByteArray act(int address, int messageId, const QByteArray& data, bool& answered);
    bool drawFault(int messageId, FaultRule& out);
    void startGoto(quint32 target, int speed);
    void startRate(int rate);
    void stopMotor() { motion_ = Motion::None; }
    qint64 signedSteps(quint32 raw) const;
    qint64 targetPlace() const;             // targetRaw_ in milli-steps of mechanics
    qint64 limitPlace(int limitByte) const; // a set limit byte, in milli-steps of mechanics
    qint64 lowLimitPlace() const;           // in milli-steps of mechanics, or INT64_MIN when off
    qint64 highLimitPlace() const;          // INT64_MAX when off
    void checkStall();
    void persist() const;

    SimConfig config_;
    qint64 now_ = 0;

    // Mechanics in milli-steps of power-on counter steps; speed (steps/s) x ms = milli-steps.
    qint64 placeMilli_ = 0;
    qint64 counterOffset_ = 0; // counter = place + offset (mod 2^24)
    Motion motion_ = Motion::None;
    int direction_ = 0;      // -1, 0, +1
    int speed_ = 0;          // steps per second
    qint64 targetMilli_ = 0; // goto target in mechanical milli-steps
    quint32 targetRaw_ = 0;
    int rate_ = 0;

    bool autoStop_ = false;
    int limitMinByte_ = 0;
    int limitMaxByte_ = 0;
    std::array<quint8, kRegisterCount> registers_{};
    std::array<SensorConfig, kSensorSlots> sensors_{};
    double driftAmplitude_ = 0.0;
    int driftPeriodMs_ = 1;
    bool fanOn_ = false;
    int firmwareMajor_ = 0;
    int firmwareMinor_ = 0;

    QByteArray pending_;
    qint64 pendingSince_ = 0;
    std::deque<OutByte> out_;
    QList<QByteArray> frames_;

    QList<FaultRule> rules_;
    FaultRates rates_;
    std::mt19937 random_;
    bool silent_ = false;
    bool vanishRequested_ = false;
};

} // namespace tarnivel::sim
