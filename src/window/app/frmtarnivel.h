#pragma once

#include "core/device/consolepoll.h"
#include "core/device/focuserdevice.h"
#include "core/settings/focusersettings.h"

#include <QList>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <optional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tarnivel {

struct Console;
class InputGate;
class JogButton;
class LedReadout;
class PositionsFrame;
class RateTimer;
class StatusLine;
class TemperaturePanel;
class UpDownControl;

// The console's main window: connection, position readout, jogging, step moves, saved
// positions, temperatures and fans, all driven by one poll timer (RateTimer). It hosts the
// device for the console's Alpaca clients: their moves run on its engine as its own.
class frmTarnivel : public QWidget, public DeviceHost, private PollView {
    Q_OBJECT
public:
    // settingsPath: the settings file, read here (start-up) and written when the window
    // unloads.
    frmTarnivel(Console& console, QString settingsPath, QWidget* parent = nullptr);
    ~frmTarnivel() override;

    // ---- Start-up, connection and control states ----------------------------------------
    void FillPortList(int selectedIndex);
    void cboComPort_Click();
    void cmdConnect_Click();
    // The connect's reads of the controller's state (sensors, travel, auto-stop, limits).
    Sequence<bool> CheckControllerState(Pacer& pacer);
    void cmdDisconnect_Click();
    void SetDisconnectedState();
    void EnableMotionControls(bool enabled);
    void cmdStop_Click();
    void cmdOptions_Click();
    // The options exchange; run by the poll tick only.
    void ShowOptions();

    // ---- Poll cycle ------------------------------------------------------------------------
    void RateTimer_Timer();
    void DisplayPosition();
    Sequence<bool> DisplayPosition(Pacer& pacer);
    void ClearGoto();
    // A staged goto ran to its end; the status line says so when it stopped short.
    void GotoFinished(int reached, int target);

    // ---- Manual and quick adjust ---------------------------------------------------------
    void JogPress(JogButton* button, int rate);
    void JogRelease(JogButton* button);
    void UpDownAdjust_Press(int y);
    void cmdIncrement_Click();
    void cmdDecrement_Click();

    // Serves the focuser to Alpaca clients on port (0: stops serving); the status line says
    // so, or why not.
    void ServeAlpaca(int port);

    // DeviceHost: what the console's Alpaca clients may do.
    QString GuestRefusal() const override;
    void GuestMoveStarted() override;
    void GuestStop() override;

    const LoadResult& loadResult() const { return loadResult_; }
    bool unloaded() const { return unloaded_; }
    const QString& settingsPath() const { return settingsPath_; }
    // Logical resolution used for twips (the window's screen).
    double dpiX() const;
    double dpiY() const;

    // Deferred requests, acted on by the next poll tick.
    bool DisconnectRequested = false;
    bool CloseRequested = false;
    bool OptionsRequested = false;

    // The poll's counters (never reset by connect or disconnect) and the moving indicator's
    // frame.
    ConsolePoll& poll() { return poll_; }
    int AnimationFrame = 0;

    // Controls.
    QGroupBox* Frame1 = nullptr;
    QComboBox* cboComPort = nullptr;
    QPushButton* cmdConnect = nullptr;
    QPushButton* cmdDisconnect = nullptr;
    LedReadout* NumLED = nullptr;
    StatusLine* lblStatus = nullptr;
    QGroupBox* fraManualAdjust = nullptr;
    JogButton* cmdFastLeft = nullptr;
    JogButton* cmdSlowLeft = nullptr;
    JogButton* cmdSlowRight = nullptr;
    JogButton* cmdFastRight = nullptr;
    QPushButton* cmdStop = nullptr;
    QPushButton* cmdOptions = nullptr;
    QGroupBox* fraQuickAdjust = nullptr;
    QLineEdit* txtAdjust = nullptr;
    UpDownControl* UpDownAdjust = nullptr;
    QPushButton* cmdIncrement = nullptr;
    QPushButton* cmdDecrement = nullptr;
    PositionsFrame* fraPositions = nullptr;
    TemperaturePanel* temperatures = nullptr; // Frame2 and Frame3
    QLabel* picLogo1 = nullptr;
    QLabel* picLogo2 = nullptr;
    QLabel* picLogo = nullptr;
    QList<QPixmap> imgLogo; // the moving indicator's eight frames
    QPushButton* cmdDummy = nullptr;
    RateTimer* rateTimer = nullptr;
    // Holds the operator's input while the tick or a command waits (STOP excepted).
    InputGate* inputGate = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildControls();
    void Form_Initialize();
    void Form_Load();
    void PlaceLogos();
    void PlaceWindow();
    void Form_Unload();
    // An unload the program orders itself (after the deferred disconnect of a close).
    void UnloadWindow();
    void RunDisconnect();
    void SetUnitCaptions();
    // True when the loss was seen just now and ended a goto or a jog.
    bool NoteLostConnection();
    // The "Goto stopped short" notice goes once it no longer tells of the last move.
    void ClearShortNote();
    // A goto ended (ran out, stopped or lost): the device's clean-up, the controls back.
    void GotoCleanUp();
    // After a network halt: the stop once the command on the wire has its answer, then the
    // clean-up and a position read once the line is free.
    void SettleGuestStop();
    // Sends a network halt held back while a command waited, once the line is free.
    void SendHeldGuestStop();
    void StepMove(int sign);
    // The step entry as a number when it is a valid step (numeric and above 0).
    bool ReadStep(double& value) const;
    // The step entry, given in the units of oldScaleFactor, in the present display units.
    void ConvertStepEntry(double oldScaleFactor);

    // The connect once the port is open: the probe, the reads, the first status update.
    Sequence<bool> ConnectSteps(Pacer& pacer);
    // The tick after its deferred requests: the device's console poll, then the timer again.
    Sequence<bool> TickSteps(Pacer& pacer, int rate, quint64 stopCount);
    // PollView: what the poll shows between its commands.
    void GotoStageDue() override;
    Sequence<bool> Readout(Pacer& pacer) override;
    Sequence<bool> StatusUpdate(Pacer& pacer) override;
    void CompensationGotoStarting() override;
    void ShowTempComp() override;
    void ShowMoving(int direction) override;
    Sequence<bool> SendQueuedFanCommand(Pacer& pacer) override;
    // What spends the waits of the connect and the tick: the window's loop when the program
    // gives a scheduler; in place otherwise (the tests' virtual time, where a test acts inside
    // a wait from the platform's pump).
    Pacer& EnginePacer();
    // Runs the connect or a tick; one at a time, as the input gate holds every other request
    // while one runs.
    void RunOnEngine(Sequence<bool> steps);
    void AfterEngineStep();

    Console& console_;
    ConsolePoll poll_;
    QString settingsPath_;
    std::optional<TimerPacer> enginePacer_;
    InlinePacer inPlacePacer_;
    Sequence<bool> engine_;
    LoadResult loadResult_;
    bool optionsOpen_ = false;
    bool guestStopHeld_ = false;
    bool unloading_ = false;
    bool unloaded_ = false;
};

} // namespace tarnivel
