#pragma once

// The window's seams for tests: a message box that records and answers from a script, and a
// busy cursor that records its changes.

#include "window/ui/busycursor.h"
#include "window/ui/messagebox.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>

namespace tarnivel::test {

struct ShownMessage {
    MsgIcon icon;
    QString title;
    QString text;
    MsgButtons buttons;
};

// Records every message and answers questions from a script (then defaultAnswer).
class ScriptedMessageBox : public MessageBox {
public:
    MsgAnswer show(MsgIcon icon, const QString& title, const QString& text,
                   MsgButtons buttons) override;

    void answer(MsgAnswer a) { script_.push_back(a); }
    // Runs when the next message shows (after it is recorded), e.g. to look at focus.
    std::function<void(const ShownMessage&)> onShow;

    QList<ShownMessage> shown;
    MsgAnswer defaultAnswer = MsgAnswer::Yes;
    QStringList texts() const;
    void clear() { shown.clear(); }

private:
    std::deque<MsgAnswer> script_;
};

class RecordingBusyCursor : public BusyCursor {
public:
    void setBusy(bool busy) override {
        this->busy = busy;
        changes.append(busy);
    }
    bool busy = false;
    QList<bool> changes;
};

} // namespace tarnivel::test
