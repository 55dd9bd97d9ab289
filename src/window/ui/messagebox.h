#pragma once

#include <QString>

class QWidget;

namespace tarnivel {

enum class MsgIcon { None, Warning, Error, Question, Information };
enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No };

// Modal messages and questions to the operator.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    virtual MsgAnswer show(MsgIcon icon, const QString& title, const QString& text,
                           MsgButtons buttons = MsgButtons::Ok) = 0;
    // A notice about a window that does not drive the focuser: it holds up only its
    // caller, and every window stays usable meanwhile (STOP above all).
    virtual void notify(QWidget* owner, MsgIcon icon, const QString& title, const QString& text) {
        (void)owner;
        show(icon, title, text);
    }
};

} // namespace tarnivel
