#pragma once

#include "core/device/calibration.h"
#include "core/device/focuserdevice.h"
#include "core/device/positionmap.h"
#include "core/device/temperaturelog.h"
#include "core/link/focusercommands.h"
#include "core/link/focuserlink.h"
#include "core/motion/gotocontroller.h"
#include "core/motion/motionstate.h"
#include "core/seams/soundplayer.h"
#include "core/settings/focusersettings.h"
#include "core/settings/programfolder.h"
#include "core/settings/savedpositionlist.h"
#include "indi/driverplatform.h"
#include "indi/fdserialport.h"

#include <indifocuser.h>

#include <QString>
#include <vector>

namespace tarnivel {

// indi_tarnivel_focus: the focuser behind INDI's standard focuser properties and a few of
// its own. A thin front end on the device core: each property maps onto one of its verbs, and
// its state comes back through the observer. It reads the console's settings file and never
// writes it.
//
// Timers: the device's, through IndiScheduler on INDI's event loop (the poll tick, the
// sequences' waits, the timed move's end). DefaultDevice's own SetTimer/TimerHit is not used.
class TarnivelFocuser final : public INDI::Focuser, private DeviceObserver {
public:
    TarnivelFocuser();
    ~TarnivelFocuser() override;

    const char* getDefaultName() override;
    bool initProperties() override;
    bool updateProperties() override;
    bool ISNewNumber(const char* dev, const char* name, double values[], char* names[],
                     int n) override;
    bool ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[],
                     int n) override;
    void TimerHit() override;

protected:
    bool Handshake() override;
    bool Disconnect() override;
    IPState MoveFocuser(FocusDirection dir, int speed, uint16_t duration) override;
    IPState MoveAbsFocuser(uint32_t targetTicks) override;
    IPState MoveRelFocuser(FocusDirection dir, uint32_t ticks) override;
    bool AbortFocuser() override;
    bool SyncFocuser(uint32_t ticks) override;
    bool SetFocuserSpeed(int speed) override;
    bool SetFocuserMaxPosition(uint32_t ticks) override;
    bool SetFocuserBacklash(int32_t steps) override;
    bool SetFocuserBacklashEnabled(bool enabled) override;
    bool saveConfigItems(FILE* fp) override;

private:
    // DeviceObserver
    void StateChanged() override;
    void Message(const QString& text, bool error) override;

    // Every motion property's state from the device's, in one place.
    void Publish();
    void LoadSettingsFile();
    void ApplyOvershoot();
    // A verb's outcome as a property state: refused Alert, started Busy, done Ok.
    static IPState StateFor(const Outcome& o);
    // The same, with the reason of a refusal in the log.
    IPState Logged(const Outcome& o);
    // svp shows the outcome, with the reason of a refusal as its message.
    static void ShowOutcome(ISwitchVectorProperty& svp, const Outcome& o);
    void DefineSavedPositions();

    ProgramFolder folder_;
    FdSerialPort port_;
    DriverPlatform platform_;
    IndiScheduler scheduler_;
    SilentSoundPlayer sound_;
    FocuserDevice device_;
    FocuserSettings& settings_;
    bool overshootEnabled_ = true;
    int overshootSteps_ = 0;
    bool savedGotoRunning_ = false;
    bool relRunning_ = false;
    bool publishing_ = false;
    IPState publishedAbsState_ = IPS_IDLE;
    QString publishedProgress_;
    QString publishedFirmware_;

    INumber TemperatureN[1];
    INumberVectorProperty TemperatureNP;
    INumber SensorsN[3];
    INumberVectorProperty SensorsNP;
    ISwitch FanModeS[5];
    ISwitchVectorProperty FanModeSP;
    INumber FanLimitsN[3];
    INumberVectorProperty FanLimitsNP;
    ILight FanStateL[1];
    ILightVectorProperty FanStateLP;
    std::vector<ISwitch> SavedS;
    ISwitchVectorProperty SavedSP;
    ISwitch SavedGotoS[1];
    ISwitchVectorProperty SavedGotoSP;
    INumber UnitsN[1];
    INumberVectorProperty UnitsNP;
    ISwitch CalibrateS[3];
    ISwitchVectorProperty CalibrateSP;
    IText ProgressT[1] = {};
    ITextVectorProperty ProgressTP;
    ISwitch AutoStopS[2];
    ISwitchVectorProperty AutoStopSP;
    ISwitch LimitsS[2];
    ISwitchVectorProperty LimitsSP;
    IText FirmwareT[1] = {};
    ITextVectorProperty FirmwareTP;
    ISwitch TempCompS[2];
    ISwitchVectorProperty TempCompSP;
    INumber TempCompN[5];
    INumberVectorProperty TempCompNP;
    ISwitch MarkFocusS[1];
    ISwitchVectorProperty MarkFocusSP;
    IText TempCompT[1] = {};
    ITextVectorProperty TempCompTP;
    QString publishedTempComp_;
};

} // namespace tarnivel
