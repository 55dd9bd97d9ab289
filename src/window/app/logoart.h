#pragma once

#include <QList>
#include <QPixmap>

namespace tarnivel {

inline constexpr int kIndicatorFrames = 8;

// The window's pictures, drawn in code so that the program carries no image files: a small
// refractor on its mount (the two corner logos, the right one facing the other way) and a
// focus knob whose marker turns by an eighth per frame (the moving indicator).
QPixmap DrawTelescopeLogo(bool facingLeft);
QPixmap DrawIndicatorFrame(int frame);
QList<QPixmap> DrawIndicatorFrames();

} // namespace tarnivel
