#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPalette>
#include <QString>
#include <QWidget>

namespace tarnivel {

// State colours of buttons and the fan lamp.
inline const QColor ColourOn{192, 255, 192};  // light green: connected, active, fan running
inline const QColor ColourOff{255, 192, 192}; // light red: disconnected, inactive, fan stopped

inline QString SheetColour(const QColor& c) {
    return QStringLiteral("rgb(%1, %2, %3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

// Paints a widget's face (buttons: the button colour; plain widgets: the background).
// A button's face is a flat fill of exactly that colour: the style would draw a pale
// gradient of it, in which the state colours no longer read as themselves. `disabled`,
// when given, is the face while the button is disabled.
inline void SetBackColour(QWidget* w, const QColor& colour, const QColor& disabled = QColor()) {
    QPalette p = w->palette();
    p.setColor(QPalette::Button, colour);
    p.setColor(QPalette::Window, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
    if (!qobject_cast<QAbstractButton*>(w))
        return;
    const QString border = SheetColour(colour.darker(170));
    QString sheet = QStringLiteral("QPushButton { background-color: %1; border: 1px solid %2; "
                                   "border-radius: 3px; padding: 4px 10px; }"
                                   "QPushButton:pressed { border: 2px solid %3; }"
                                   "QPushButton:focus { border-color: palette(highlight); }")
                        .arg(SheetColour(colour), border, SheetColour(colour.darker(250)));
    if (disabled.isValid())
        sheet += QStringLiteral("QPushButton:disabled { background-color: %1; border-color: %2; }")
                     .arg(SheetColour(disabled), SheetColour(disabled.darker(140)));
    w->setStyleSheet(sheet);
}

inline QColor BackColour(const QWidget* w) {
    return w->palette().color(QPalette::Button);
}

} // namespace tarnivel
