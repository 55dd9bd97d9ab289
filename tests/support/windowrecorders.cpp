#include "windowrecorders.h"

namespace tarnivel::test {

MsgAnswer ScriptedMessageBox::show(MsgIcon icon, const QString& title, const QString& text,
                                   MsgButtons buttons) {
    shown.append({icon, title, text, buttons});
    if (onShow)
        onShow(shown.last());
    if (buttons == MsgButtons::Ok)
        return MsgAnswer::Ok;
    if (script_.empty())
        return defaultAnswer;
    const MsgAnswer a = script_.front();
    script_.pop_front();
    return a;
}

QStringList ScriptedMessageBox::texts() const {
    QStringList out;
    for (const auto& m : shown)
        out << m.text;
    return out;
}

} // namespace tarnivel::test
