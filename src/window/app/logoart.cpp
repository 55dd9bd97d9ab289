#include "window/app/logoart.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

namespace tarnivel {

namespace {
constexpr int kLogoWidth = 76;
constexpr int kLogoHeight = 48;
constexpr int kIndicatorSize = 48;
constexpr int kKnurls = 24;

QPixmap transparentPixmap(int w, int h) {
    QPixmap pixmap(w, h);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void drawStar(QPainter& p, QPointF c, qreal r, const QColor& colour) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    QPainterPath path;
    for (int i = 0; i < 8; ++i) {
        const qreal a = i * M_PI / 4;
        const qreal radius = (i % 2 == 0) ? r : r * 0.35;
        const QPointF pt(c.x() + radius * qCos(a), c.y() + radius * qSin(a));
        if (i == 0)
            path.moveTo(pt);
        else
            path.lineTo(pt);
    }
    path.closeSubpath();
    p.drawPath(path);
}
} // namespace

QPixmap DrawTelescopeLogo(bool facingLeft) {
    QPixmap pixmap = transparentPixmap(kLogoWidth, kLogoHeight);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    if (facingLeft) {
        p.translate(kLogoWidth, 0);
        p.scale(-1, 1);
    }

    // Sky the tube points into.
    drawStar(p, {62, 8}, 4.5, QColor(255, 214, 90));
    drawStar(p, {71, 20}, 2.5, QColor(255, 236, 170));
    drawStar(p, {50, 4}, 2.0, QColor(255, 236, 170));

    // Tripod.
    QPen leg(QColor(70, 70, 80), 2.2, Qt::SolidLine, Qt::RoundCap);
    p.setPen(leg);
    p.drawLine(QPointF(30, 30), QPointF(18, 46));
    p.drawLine(QPointF(30, 30), QPointF(42, 46));
    p.drawLine(QPointF(30, 30), QPointF(30, 46));

    // Tube, raised towards the stars.
    p.save();
    p.translate(30, 28);
    p.rotate(-28);
    QLinearGradient tube(0, -6, 0, 6);
    tube.setColorAt(0.0, QColor(120, 160, 230));
    tube.setColorAt(0.5, QColor(40, 80, 170));
    tube.setColorAt(1.0, QColor(20, 40, 100));
    p.setPen(QPen(QColor(15, 30, 70), 1));
    p.setBrush(tube);
    p.drawRoundedRect(QRectF(-22, -5, 44, 10), 2, 2);
    // Dew shield at the objective end.
    p.drawRoundedRect(QRectF(18, -6.5, 10, 13), 1.5, 1.5);
    // Focuser draw tube and its knob at the eyepiece end.
    p.setBrush(QColor(190, 190, 200));
    p.drawRect(QRectF(-30, -3, 9, 6));
    p.setBrush(QColor(60, 60, 70));
    p.drawEllipse(QPointF(-25, 5.5), 2.6, 2.6);
    p.restore();
    return pixmap;
}

QPixmap DrawIndicatorFrame(int frame) {
    QPixmap pixmap = transparentPixmap(kIndicatorSize, kIndicatorSize);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(kIndicatorSize / 2.0, kIndicatorSize / 2.0);
    const qreal outer = kIndicatorSize / 2.0 - 2;
    const qreal body = outer - 4;

    // Knurled rim.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(55, 58, 66));
    p.drawEllipse(c, outer, outer);
    p.setPen(QPen(QColor(150, 155, 165), 1.4));
    for (int i = 0; i < kKnurls; ++i) {
        const qreal a = i * 2 * M_PI / kKnurls;
        p.drawLine(QPointF(c.x() + (body + 0.5) * qCos(a), c.y() + (body + 0.5) * qSin(a)),
                   QPointF(c.x() + (outer - 0.5) * qCos(a), c.y() + (outer - 0.5) * qSin(a)));
    }

    // Knob face.
    QRadialGradient face(c - QPointF(5, 6), body * 1.4);
    face.setColorAt(0.0, QColor(235, 238, 245));
    face.setColorAt(1.0, QColor(120, 126, 140));
    p.setPen(QPen(QColor(40, 42, 50), 1));
    p.setBrush(face);
    p.drawEllipse(c, body, body);

    // Marker: one eighth of a turn per frame, clockwise, starting at the top.
    const int f = ((frame % kIndicatorFrames) + kIndicatorFrames) % kIndicatorFrames;
    const qreal a = -M_PI / 2 + f * 2 * M_PI / kIndicatorFrames;
    const QPointF tip(c.x() + (body - 5) * qCos(a), c.y() + (body - 5) * qSin(a));
    p.setPen(QPen(QColor(200, 30, 30), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + (tip - c) * 0.35, tip);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 30, 30));
    p.drawEllipse(tip, 3.2, 3.2);
    p.setBrush(QColor(40, 42, 50));
    p.drawEllipse(c, 2.5, 2.5);
    return pixmap;
}

QList<QPixmap> DrawIndicatorFrames() {
    QList<QPixmap> frames;
    for (int i = 0; i < kIndicatorFrames; ++i)
        frames.append(DrawIndicatorFrame(i));
    return frames;
}

} // namespace tarnivel
