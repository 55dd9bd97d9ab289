#pragma once

#include "core/seams/sequence.h"

#include <QtGlobal>

namespace tarnivel {

class FocuserDevice;

// What the console shows between the commands of its poll (its window).
class PollView {
public:
    virtual ~PollView() = default;
    // A stage of the staged goto runs in this tick.
    virtual void GotoStageDue() = 0;
    // The position readout, read and shown.
    virtual Sequence<bool> Readout(Pacer& pacer) = 0;
    // The temperature, fan and log update, read and shown.
    virtual Sequence<bool> StatusUpdate(Pacer& pacer) = 0;
    // Compensation starts a goto: the motion controls lock as for the operator's own.
    virtual void CompensationGotoStarting() = 0;
    // Compensation's state may have changed.
    virtual void ShowTempComp() = 0;
    // The focuser moves in direction (+1 out, -1 in): the moving indicator's next frame.
    virtual void ShowMoving(int direction) = 0;
    // The fan switched by hand, sent now.
    virtual Sequence<bool> SendQueuedFanCommand(Pacer& pacer) = 0;
};

// One run of the console's poll timer after its deferred requests (a disconnect, the options
// dialog, a goto's clean-up), which its window acts on first: a stage of the staged goto, a
// changed jog rate, the readout every 20 / Frequency runs, the temperature update every
// 500 / Frequency runs, the moving indicator and a queued fan command.
//
// The console's own gotos move a stage a run. A guest's goto (a network client's on the
// console) runs at the served pace: the next run comes at once, with no readout or temperature
// update between its stages, and a controller silent for ten seconds gives it up as on a
// served device.
class ConsolePoll {
public:
    explicit ConsolePoll(FocuserDevice& device) : device_(device) {}

    // rate: the jog rate asked for when the run began; stopCount: the link's StopCount() then.
    Sequence<bool> Steps(Pacer& pacer, PollView& view, int rate, quint64 stopCount);
    // The next run follows at once rather than a poll period later.
    bool NextRunAtOnce() const;

    // Runs since the last periodic readout and since the last temperature update (never reset
    // by a connect or a disconnect).
    int DisplayRefreshTicks = 0;
    int StatusTicks = 0;

private:
    // The temperature, fan and log update, and a compensation goto when one is due.
    Sequence<bool> UpdateStatus(Pacer& pacer, PollView& view, quint64 stopCount);

    FocuserDevice& device_;
};

} // namespace tarnivel
