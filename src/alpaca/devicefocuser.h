#pragma once

#include "alpaca/alpacafocuser.h"
#include "core/device/focuserdevice.h"

#include <QMutex>
#include <atomic>

class QObject;

namespace tarnivel {

// The device core as the Alpaca server's focuser. Every rule (the scale, the goto, the poll,
// what may run when) is the core's; this only translates its state and outcomes into
// Alpaca's values and error numbers, and adds the actions.
//
// The device lives on a thread of its own, because each of its commands holds that thread
// until the controller answers. The server's thread calls the members: Status() reads a copy
// the device's thread refreshes on every change, so a status GET never waits for the
// controller; every verb runs on the device's thread between two of its commands, never
// inside another's wait.
class DeviceAlpacaFocuser final : public AlpacaFocuser, private DeviceObserver {
public:
    // Built on the device's thread; deviceThread: an object living there. messages: where the
    // device's notices go (the daemon's log).
    DeviceAlpacaFocuser(FocuserDevice& device, QObject* deviceThread,
                        std::function<void(const QString&, bool)> messages = {});
    ~DeviceAlpacaFocuser() override;

    AlpacaFocuserStatus Status() const override;
    AlpacaResult Connect() override;
    AlpacaResult Disconnect() override;
    AlpacaResult Move(qint64 position) override;
    AlpacaResult Halt() override;
    AlpacaResult SetTempComp(bool on) override;
    QStringList SupportedActions() const override;
    AlpacaResult Action(const QString& name, const QString& parameters, QString& value) override;
    // A verb handed to the device's thread has not run yet; it may be a halt (the device's
    // scheduler asks, so that no leg or second attempt goes out ahead of it).
    bool VerbWaiting() const { return waiting_.load() > 0; }

private:
    void StateChanged() override;
    void Message(const QString& text, bool error) override;
    AlpacaFocuserStatus Read() const;
    template <typename Verb> AlpacaResult OnDevice(Verb verb);
    AlpacaResult DeviceAction(const QString& name, const QString& parameters, QString& value);
    AlpacaResult FanMode(const QString& parameters, QString& value);
    AlpacaResult GotoSaved(const QString& name);
    AlpacaResult MarkFocus(QString& value);
    QString TempCompStatus() const;
    QString SensorName(int sensor) const;

    FocuserDevice& device_;
    QObject* deviceThread_;
    std::atomic<int> waiting_{0};
    std::function<void(const QString&, bool)> messages_;
    mutable QMutex mutex_;
    AlpacaFocuserStatus status_;
};

} // namespace tarnivel
