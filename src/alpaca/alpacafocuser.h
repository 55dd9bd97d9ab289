#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace tarnivel {

// The error numbers an Alpaca client understands; 0x500 and up are this driver's own.
enum AlpacaErrorNumber : int {
    kAlpacaOk = 0,
    kAlpacaNotImplemented = 0x400,
    kAlpacaInvalidValue = 0x401,
    kAlpacaValueNotSet = 0x402,
    kAlpacaNotConnected = 0x407,
    kAlpacaInvalidOperation = 0x40B,
    kAlpacaActionNotImplemented = 0x40C,
    kAlpacaOperationCancelled = 0x40E,
    kAlpacaUnspecified = 0x4FF,
    kAlpacaDriverError = 0x500,
};

struct AlpacaResult {
    int error = kAlpacaOk;
    QString message;

    bool ok() const { return error == kAlpacaOk; }
    static AlpacaResult Failed(int error, QString message) { return {error, std::move(message)}; }
};

// What the status members answer with, taken from the device's last poll: reading it
// never waits for the controller.
struct AlpacaFocuserStatus {
    bool connected = false;
    bool connecting = false;
    bool moving = false;
    quint32 position = 0;
    quint32 maxStep = 0;
    std::optional<double> stepSizeMicrons;
    std::optional<double> temperature;
    // Why there is no temperature: the sensor is not fitted (NotImplemented), or its read
    // failed.
    AlpacaResult temperatureError;
    // Set while Position and IsMoving cannot be told: the controller fell silent, or a goto
    // was given up. An old value would read as an arrival.
    AlpacaResult motionError;
    // Compensation: the device's own verdict (a coefficient and a reading of its sensor),
    // whether it is switched on, and why it is unavailable.
    bool tempCompAvailable = false;
    bool tempCompOn = false;
    QString tempCompUnavailable;
    // Set while not connected because the line was lost: the members answer this instead
    // of NotConnected, so the client sees why.
    AlpacaResult fault;
};

// The one focuser the server serves. The protocol layer knows only this; the daemon hands
// it the device core behind an adapter, the tests a fake.
class AlpacaFocuser {
public:
    virtual ~AlpacaFocuser() = default;

    virtual AlpacaFocuserStatus Status() const = 0;
    // Connect and Disconnect start the change and return; Status().connecting meanwhile.
    virtual AlpacaResult Connect() = 0;
    // After Connect: returns once the focuser is ready (or with why it is not).
    virtual AlpacaResult WaitConnected() = 0;
    virtual AlpacaResult Disconnect() = 0;
    // Starts a move and returns; a target outside 0..maxStep stops at the limit.
    virtual AlpacaResult Move(qint64 position) = 0;
    virtual AlpacaResult Halt() = 0;
    virtual AlpacaResult SetTempComp(bool on) = 0;
    virtual QStringList SupportedActions() const = 0;
    // name is one of SupportedActions() (matched without regard to case by the caller).
    virtual AlpacaResult Action(const QString& name, const QString& parameters, QString& value) = 0;
};

} // namespace tarnivel
