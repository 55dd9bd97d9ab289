#include "platform/qt/qtmessagebox.h"

#include <QEventLoop>
#include <QMessageBox>

namespace tarnivel {

namespace {
void SetIcon(QMessageBox& box, MsgIcon icon) {
    switch (icon) {
    case MsgIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MsgIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    }
}
} // namespace

MsgAnswer QtMessageBox::show(MsgIcon icon, const QString& title, const QString& text,
                             MsgButtons buttons) {
    QMessageBox box(parent_);
    box.setWindowTitle(title);
    box.setText(text);
    SetIcon(box, icon);
    if (buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        // Every question the console asks is about to destroy something (a saved position,
        // the table's alignment, the focuser's count): Enter must not say yes for the operator.
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MsgAnswer::Ok;
}

void QtMessageBox::notify(QWidget* owner, MsgIcon icon, const QString& title, const QString& text) {
    // Not modal: a modal box, even one modal to its own window only, would block the main
    // window too, which every other window of the program belongs to.
    QMessageBox box(owner);
    box.setWindowModality(Qt::NonModal);
    box.setWindowTitle(title);
    box.setText(text);
    SetIcon(box, icon);
    box.setStandardButtons(QMessageBox::Ok);
    QEventLoop wait;
    QObject::connect(&box, &QDialog::finished, &wait, &QEventLoop::quit);
    box.show();
    wait.exec();
}

} // namespace tarnivel
