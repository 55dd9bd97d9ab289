#pragma once

#include <QLCDNumber>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace tarnivel {

// The position readout: a seven-segment display that remembers the text it shows.
class LedReadout : public QLCDNumber {
    Q_OBJECT
public:
    static constexpr int kMinDigits = 10;

    explicit LedReadout(QWidget* parent = nullptr);

    // Shows text; a longer text widens the display rather than losing its leading digits.
    void setText(const QString& text);
    const QString& text() const { return text_; }
    // Bright while the text is a position just read; dimmed while the readout is off or
    // stands frozen on a position the controller no longer confirms.
    void setLive(bool live);
    bool isLive() const { return live_; }

    QSize sizeHint() const override;

private:
    QString text_;
    bool live_ = true;
};

// The status line: one line whose width never follows its message, so that no message can
// resize the window. A message wider than the line is shown cut with "…" and whole in the
// tooltip. setText, text and clear hide QLabel's own and deal in the whole message; use
// them through this type.
class StatusLine : public QLabel {
    Q_OBJECT
public:
    explicit StatusLine(QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return text_; }
    void clear() { setText(QString()); }
    // Shown while the whole message fits.
    void setIdleToolTip(const QString& tip);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void ShowFitting();

    QString text_;
    QString idleTip_;
};

// A jog button: reports the press and the release of any mouse button. The release comes
// back to this button even when the pointer left it meanwhile (the mouse stays grabbed by
// the widget that took the press).
class JogButton : public QPushButton {
    Q_OBJECT
public:
    explicit JogButton(const QString& text, QWidget* parent = nullptr);

Q_SIGNALS:
    void jogPressed();
    void jogReleased();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// Up and down arrows stacked in one control without a value of its own: a press in the
// upper half (y <= height / 2) is "up", one below is "down".
class UpDownControl : public QWidget {
    Q_OBJECT
public:
    explicit UpDownControl(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // y: vertical coordinate of the press inside the control.
    void pressedAt(int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int pressedHalf_ = -1; // 0 upper, 1 lower, -1 none
};

} // namespace tarnivel
