#pragma once

#include "core/device/calibration.h"
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
#include "window/app/console.h"
#include "window/ui/busycursor.h"
#include "window/ui/messagebox.h"

#include <indifocuser.h>

#include <QString>
#include <vector>

namespace tarnivel {

// indi_tarnivel_focus: the focuser behind INDI's standard focuser properties and a few of
// its own. It drives the same link, goto engine, calibration and fan rules as the console,
// reads the console's settings file and never writes it.
class TarnivelFocuser final : public INDI::Focuser, private CalibrationObserver {
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
    // CalibrationObserver
    void CalibrationStarting() override;
    void CancelWithdrawn() override {}
    void CalibrationEnded() override;
    QString ProgressText() const override { return progress_; }
    void SetProgressText(const QString& text) override;
    void ShowAutoStop(bool on) override;
    void ShowLimits(bool on) override;
    bool CompletionSound() const override { return false; }

    // The one stop: the motor halts at once, the goto and any calibration end, nothing
    // moves afterwards.
    void StopEverything();
    void StartGoto(int raw);
    void EndJog();
    static void JogTimeUp(void* self);
    void DisplayPosition();
    void PublishPosition();
    // Chores: series of commands with the event loop's turn between any two.
    Sequence<bool> ConnectSteps(Pacer& pacer);
    Sequence<bool> ReadControllerSteps(Pacer& pacer);
    Sequence<bool> StatusSteps(Pacer& pacer);
    void StartChore(Sequence<bool> chore);
    void AfterChoreStep();
    void RebuildMap();
    void ApplyOvershoot();
    void StartCalibration(bool full);
    void AfterCalibrationStep();
    void ScheduleTick(int ms);
    int PollMs() const;
    bool Reachable();
    void LoadSettingsFile();
    void DefineSavedPositions();

    // A driver has no speaker, no screen for messages and no mouse cursor.
    struct Quiet final : SoundPlayer, MessageBox, BusyCursor {
        void play(const QString&, bool) override {}
        void stop() override {}
        MsgAnswer show(MsgIcon, const QString&, const QString&, MsgButtons) override {
            return MsgAnswer::Ok;
        }
        void setBusy(bool) override {}
    };

    Quiet quiet_;
    ProgramFolder folder_;
    FdSerialPort port_;
    DriverPlatform platform_;
    FocuserLink link_;
    FocuserCommands commands_;
    FocuserSettings settings_;
    SavedPositionList positions_;
    MotionState motion_;
    GotoController gotos_;
    Console console_;
    Calibration calibration_;
    TimerPacer pacer_;
    Sequence<bool> calibrationRun_;
    TimerPacer chorePacer_;
    Sequence<bool> chore_;
    bool ready_ = false;
    bool deferRead_ = false;
    bool positionDue_ = false;
    PositionMap map_ = PositionMap::FromController(false, 0);

    int tickTimer_ = -1;
    int jogTimer_ = -1;
    qint64 lastStatusMs_ = 0;
    bool answering_ = true;
    IPState publishedState_ = IPS_IDLE;
    bool lostReported_ = false;
    int fanMode_ = 0; // 0 manual, 1..3 the automatic rules
    bool overshootEnabled_ = true;
    int overshootSteps_ = 0;
    QString progress_;

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
};

} // namespace tarnivel
