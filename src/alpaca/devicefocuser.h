#pragma once

#include "alpaca/alpacafocuser.h"
#include "core/device/focuserdevice.h"
#include "core/settings/programfolder.h"

#include <QMutex>
#include <QWaitCondition>
#include <atomic>
#include <optional>

class QObject;

namespace tarnivel {

// The device core as the Alpaca server's focuser. Every rule (the scale, the goto, the poll,
// what may run when) is the core's; this only translates its state and outcomes into
// Alpaca's values and error numbers, and adds the actions.
//
// The device lives on a thread of its own, because each of its commands holds that thread
// until the controller answers. The server's threads call the members: Status() reads a copy
// the device's thread refreshes on every change, so a status GET never waits for the
// controller; every verb runs on the device's thread between two of its commands, never
// inside another's wait.
class DeviceAlpacaFocuser final : public AlpacaFocuser, private DeviceObserver {
public:
    // Built on the device's thread; deviceThread: an object living there. messages: where the
    // device's notices go (the daemon's log). folder: the settings are read again from there
    // at every connect, as the console may have changed them.
    DeviceAlpacaFocuser(FocuserDevice& device, QObject* deviceThread,
                        std::function<void(const QString&, bool)> messages = {},
                        std::optional<ProgramFolder> folder = std::nullopt);
    ~DeviceAlpacaFocuser() override;

    AlpacaFocuserStatus Status() const override;
    AlpacaResult Connect() override;
    AlpacaResult WaitConnected() override;
    AlpacaResult Disconnect() override;
    AlpacaResult Move(qint64 position) override;
    AlpacaResult Halt() override;
    AlpacaResult SetTempComp(bool on) override;
    QStringList SupportedActions() const override;
    AlpacaResult Action(const QString& name, const QString& parameters, QString& value) override;
    // A halt, a disconnect or a new move handed to the device's thread has not run yet (the
    // device's scheduler asks, so that no leg or second attempt goes out ahead of it). Verbs
    // that only read never hold the motion back.
    bool VerbWaiting() const { return waiting_.load() > 0; }
    // The console's own waits (its tick, a command waiting for its answer) run on the device's
    // thread too: while hold says one runs, verbs wait for its end. A halt never waits.
    void SetHold(std::function<bool()> hold);
    // Every verb still waiting is refused and every later one at once: the server is going.
    // Called on the device's thread before the server that calls the members is ended.
    void Close();

private:
    void StateChanged() override;
    void Message(const QString& text, bool error) override;
    AlpacaFocuserStatus Read() const;
    enum class Kind { Other, Motion, Halt };
    template <typename Verb> AlpacaResult OnDevice(Verb verb, Kind kind = Kind::Other);
    AlpacaResult DeviceAction(const QString& name, const QString& parameters, QString& value);
    AlpacaResult FanMode(const QString& parameters, QString& value);
    AlpacaResult GotoSaved(const QString& name);
    AlpacaResult MarkFocus(QString& value);
    AlpacaResult Calibrate(const QString& parameters);
    QString CalibrationStatus() const;
    QString TempCompStatus() const;
    QString SensorName(int sensor) const;

    FocuserDevice& device_;
    QObject* deviceThread_;
    // Takes the verbs on the device's thread; a halt goes ahead of verbs queued before it.
    std::unique_ptr<QObject> runner_;
    std::optional<ProgramFolder> folder_;
    std::atomic<int> waiting_{0};
    std::atomic<bool> closed_{false};
    // A client of the console disconnected: the console stays connected, but the clients see
    // what a disconnect shows them, as from the daemon, until one connects again. The
    // device's thread only.
    bool guestLeft_ = false;
    std::function<void(const QString&, bool)> messages_;
    mutable QMutex mutex_;
    QWaitCondition changed_;
    AlpacaFocuserStatus status_;
};

} // namespace tarnivel
