#pragma once

#include "window/ui/messagebox.h"

#include <QPointer>
#include <QWidget>

namespace tarnivel {

class QtMessageBox : public MessageBox {
public:
    void setParent(QWidget* parent) { parent_ = parent; }
    MsgAnswer show(MsgIcon icon, const QString& title, const QString& text,
                   MsgButtons buttons) override;
    void notify(QWidget* owner, MsgIcon icon, const QString& title, const QString& text) override;

private:
    QPointer<QWidget> parent_;
};

} // namespace tarnivel
