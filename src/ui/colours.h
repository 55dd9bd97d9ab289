#pragma once

#include <QColor>
#include <QPalette>
#include <QWidget>

namespace tarnivel {

// State colours of buttons and the fan lamp.
inline const QColor ColourOn{192, 255, 192};  // light green: connected, active, fan running
inline const QColor ColourOff{255, 192, 192}; // light red: disconnected, inactive, fan stopped

// Paints a widget's face (buttons: the button colour; plain widgets: the background).
inline void SetBackColour(QWidget* w, const QColor& colour) {
    QPalette p = w->palette();
    p.setColor(QPalette::Button, colour);
    p.setColor(QPalette::Window, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

inline QColor BackColour(const QWidget* w) {
    return w->palette().color(QPalette::Button);
}

} // namespace tarnivel
