#pragma once

#include <QString>

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
};

} // namespace tarnivel
