#include "window/app/mainwidgets.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>

namespace tarnivel {

namespace {
// Segment display proportions: a digit cell is a little taller than wide.
constexpr int kDigitWidth = 22;
constexpr int kReadoutHeight = 46;
const QColor kLiveSegments{90, 255, 120};
const QColor kDimSegments{40, 105, 55};
} // namespace

LedReadout::LedReadout(QWidget* parent) : QLCDNumber(kMinDigits, parent) {
    // A point takes a full cell, so a 10-character text fills exactly 10 cells.
    setSmallDecimalPoint(false);
    setSegmentStyle(QLCDNumber::Flat);
    setFrameShape(QFrame::Box);
    setFrameShadow(QFrame::Sunken);
    setLineWidth(2);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(18, 24, 20));
    p.setColor(QPalette::Dark, QColor(30, 60, 36));
    setPalette(p);
    setAutoFillBackground(true);
    live_ = false;
    setLive(true);
}

void LedReadout::setLive(bool live) {
    if (live == live_)
        return;
    live_ = live;
    const QColor segments = live ? kLiveSegments : kDimSegments;
    QPalette p = palette();
    p.setColor(QPalette::WindowText, segments);
    p.setColor(QPalette::Light, segments);
    setPalette(p);
}

void LedReadout::setText(const QString& text) {
    text_ = text;
    const int digits = qMax(kMinDigits, static_cast<int>(text.size()));
    if (digitCount() != digits)
        setDigitCount(digits);
    display(text);
}

QSize LedReadout::sizeHint() const {
    return {digitCount() * kDigitWidth + 2 * frameWidth() + 8, kReadoutHeight};
}

StatusLine::StatusLine(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void StatusLine::setText(const QString& text) {
    text_ = text;
    ShowFitting();
}

void StatusLine::setIdleToolTip(const QString& tip) {
    idleTip_ = tip;
    ShowFitting();
}

QSize StatusLine::sizeHint() const {
    return minimumSizeHint();
}

QSize StatusLine::minimumSizeHint() const {
    const QMargins m = contentsMargins();
    return {minimumWidth(), fontMetrics().height() + m.top() + m.bottom()};
}

void StatusLine::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    ShowFitting();
}

void StatusLine::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        ShowFitting();
}

void StatusLine::ShowFitting() {
    const QString shown = fontMetrics().elidedText(text_, Qt::ElideRight, contentsRect().width());
    QLabel::setText(shown);
    setToolTip(shown == text_ ? idleTip_ : text_);
}

JogButton::JogButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

void JogButton::mousePressEvent(QMouseEvent* event) {
    // The left button also gives the pushed-in look; the others are ours alone.
    if (event->button() == Qt::LeftButton)
        QPushButton::mousePressEvent(event);
    event->accept();
    Q_EMIT jogPressed();
}

void JogButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        QPushButton::mouseReleaseEvent(event);
    event->accept();
    Q_EMIT jogReleased();
}

UpDownControl::UpDownControl(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
}

QSize UpDownControl::sizeHint() const {
    return {20, 28};
}

QSize UpDownControl::minimumSizeHint() const {
    return {16, 20};
}

void UpDownControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int half = height() / 2;
    const QRect halves[2] = {QRect(0, 0, width(), half + 1),
                             QRect(0, half + 1, width(), height() - half - 1)};
    for (int i = 0; i < 2; ++i) {
        QStyleOptionButton button;
        button.initFrom(this);
        button.rect = halves[i];
        button.state |= (pressedHalf_ == i) ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &button, &painter, this);
        QStyleOption arrow;
        arrow.initFrom(this);
        arrow.rect = halves[i].adjusted(4, 3, -4, -3);
        style()->drawPrimitive(i == 0 ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown,
                               &arrow, &painter, this);
    }
}

void UpDownControl::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const int y = qRound(event->position().y());
    pressedHalf_ = y <= height() / 2 ? 0 : 1;
    update();
    Q_EMIT pressedAt(y);
}

void UpDownControl::mouseReleaseEvent(QMouseEvent* event) {
    pressedHalf_ = -1;
    update();
    event->accept();
}

} // namespace tarnivel
