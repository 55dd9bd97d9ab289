#pragma once

#include "window/plot/temperatureseries.h"

#include <QMargins>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>
#include <functional>

class QAreaSeries;
class QChart;
class QChartView;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QScatterSeries;
class QValueAxis;

namespace tarnivel {

struct Console;

// Where the "Temperatures" window's frame goes, in the coordinates of one screen whose
// available geometry is area. minimum is the smallest frame the plot and its buttons are
// usable at (never more than area). The frame always lies wholly inside area.
//
// Opened for the first time: beside the console's frame, right of it, else left, else below,
// else above, narrowed or lowered to the room there is but never below minimum. Where no side
// has that room it lies at the right of area, minimum wide, over the console's right part.
QRect PlotBesideConsole(const QRect& area, const QRect& console, const QSize& wanted,
                        const QSize& minimum);
// A frame kept from an earlier session, moved (and shrunk, never below minimum) into area.
QRect PlotInsideArea(const QRect& area, const QRect& frame, const QSize& minimum);

// The "Temperatures" window: the three sensors over time in the display unit, the fan's on
// periods shaded behind them and, while an automatic rule runs, what it compares with its
// limit, and the focuser position on an axis of its own with compensation's moves marked. It
// shows the live readings (live) or a temperature log opened from a file (which has no
// position).
class frmTemperatures : public QWidget {
    Q_OBJECT
public:
    static constexpr qint64 kDefaultSpanMs = 2LL * 60 * 60 * 1000;
    static constexpr qint64 kMinSpanMs = 60LL * 1000;
    static constexpr qint64 kMinFollowMs = 10LL * 60 * 1000;
    static constexpr qint64 kMaxSpanMs = 60LL * 24 * 60 * 60 * 1000;
    // Below this the axes' labels crowd out the curves.
    static constexpr QSize kUsableSize{480, 320};

    frmTemperatures(Console& console, const TemperatureSeries& live, QWidget* parent = nullptr);

    // Redraws from the shown series (after a new live sample, a change of unit or names).
    void Refresh();
    // The view again ends at the newest live point (and a log on show goes away).
    void Follow();
    // factor > 1 widens the time range, around the time centre.
    void ZoomBy(double factor, qint64 centre);
    void ScrollBy(qint64 msecs);
    // Loads a temperature log and shows it, whole. Tells the operator when it cannot be read.
    LogImport OpenLog(const QString& path);
    // Writes the plot as a PNG; false (and the operator told) when it cannot be written.
    bool SaveImage(const QString& path);
    // The first opening, with no place kept: beside the console, on its screen.
    void PlaceBesideConsole();

    bool following() const { return following_; }
    bool showingLog() const { return showingLog_; }
    qint64 viewLeft() const { return left_; }
    qint64 viewRight() const { return right_; }
    const TemperatureSeries& logSeries() const { return log_; }

    // The file choosers; tests answer them. An empty answer cancels.
    std::function<QString(QWidget*)> AskLogPath;
    std::function<QString(QWidget*)> AskImagePath;

    QChart* chart = nullptr;
    QChartView* chartView = nullptr; // scrolled by dragging, zoomed by the wheel
    QLineSeries* curves[kPlotCurveCount] = {};
    QLineSeries* fanUpper = nullptr;
    QAreaSeries* fanArea = nullptr;
    QLineSeries* positionCurve = nullptr;
    QScatterSeries* compMoves = nullptr;
    QDateTimeAxis* timeAxis = nullptr;
    QValueAxis* temperatureAxis = nullptr;
    QValueAxis* differenceAxis = nullptr;
    QValueAxis* fanAxis = nullptr;
    QValueAxis* positionAxis = nullptr; // in the settings' position units
    QPushButton* cmdFollow = nullptr;
    QPushButton* cmdOpenLog = nullptr;
    QPushButton* cmdSaveImage = nullptr;
    QLabel* lblSource = nullptr;

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void PlaceFromSettings();
    // The console is the parent's window. Its screen's available geometry (this window's
    // screen without a console), its frame's margins (a window frame here will be alike) and
    // the least frame the plot is usable at, no larger than that screen.
    QRect ConsoleArea() const;
    QMargins FrameMargins() const;
    QSize MinimumFrame() const;
    void SetFrame(const QRect& frame);
    // Into the settings while shown in its normal state (hiding: the last chance).
    void StoreGeometry(bool hiding = false);
    void SetView(qint64 left, qint64 right);
    const TemperatureSeries& Shown() const { return showingLog_ ? log_ : live_; }
    void cmdOpenLog_Click();
    void cmdSaveImage_Click();

    Console& console_;
    const TemperatureSeries& live_;
    TemperatureSeries log_{0};
    bool showingLog_ = false;
    bool following_ = true;
    qint64 span_ = kDefaultSpanMs;
    qint64 left_ = 0;
    qint64 right_ = 0;
};

} // namespace tarnivel
