#pragma once

#include <QObject>
#include <QTimer>

namespace tarnivel {

// The poll timer with the two properties the poll cycle works with: an interval (0 = never
// fires) and an enabled flag. In manual mode nothing fires by itself and fire() runs the
// tick exactly when the real timer would have, so tests drive the cycle on virtual time.
class RateTimer : public QObject {
    Q_OBJECT
public:
    explicit RateTimer(QObject* parent = nullptr);

    void setInterval(int ms);
    int interval() const { return interval_; }
    void setEnabled(bool enabled);
    bool isEnabled() const { return enabled_; }
    // Whether the timer would fire now: enabled with an interval above 0.
    bool isArmed() const { return enabled_ && interval_ > 0; }

    void setManual(bool manual);
    bool isManual() const { return manual_; }
    // Emits timeout() when armed; returns whether it did.
    bool fire();
    // Fires once at the next turn of the loop, if armed then, without waiting for the
    // interval; the interval's own timing goes on unchanged. In manual mode it is only noted.
    void fireSoon();
    bool firesSoon() const { return soonWanted_; }

Q_SIGNALS:
    void timeout();

private:
    void arm();

    QTimer timer_;
    QTimer soon_;
    int interval_ = 0;
    bool enabled_ = true;
    bool manual_ = false;
    bool soonWanted_ = false;
};

} // namespace tarnivel
