#pragma once

#include "alpaca/alpacafocuser.h"
#include "core/device/focuserdevice.h"

namespace tarnivel {

// The device core as the Alpaca server's focuser. Every rule (the scale, the goto, the poll,
// what may run when) is the core's; this only translates its state and outcomes into
// Alpaca's values and error numbers, and adds the actions.
class DeviceAlpacaFocuser final : public AlpacaFocuser, private DeviceObserver {
public:
    // messages: where the device's notices go (the daemon's log).
    DeviceAlpacaFocuser(FocuserDevice& device,
                        std::function<void(const QString&, bool)> messages = {});
    ~DeviceAlpacaFocuser() override;

    AlpacaFocuserStatus Status() const override;
    AlpacaResult Connect() override;
    AlpacaResult Disconnect() override;
    AlpacaResult Move(qint64 position) override;
    AlpacaResult Halt() override;
    QStringList SupportedActions() const override;
    AlpacaResult Action(const QString& name, const QString& parameters, QString& value) override;

private:
    void Message(const QString& text, bool error) override;
    AlpacaResult FanMode(const QString& parameters, QString& value);
    AlpacaResult GotoSaved(const QString& name);
    QString SensorName(int sensor) const;

    FocuserDevice& device_;
    std::function<void(const QString&, bool)> messages_;
};

} // namespace tarnivel
