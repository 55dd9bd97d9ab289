#include "window/plot/frmtemperatures.h"

#include "core/units/positionunits.h"
#include "core/settings/focusersettings.h"
#include "window/app/console.h"
#include "window/ui/messagebox.h"
#include "window/ui/twips.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QDate>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScatterSeries>
#include <QScreen>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace tarnivel {

namespace {

constexpr int kDefaultWidthPx = 780;
constexpr int kDefaultHeightPx = 480;
constexpr int kConsoleGapPx = 8;
constexpr double kWheelStep = 1.25; // per notch of the wheel
constexpr double kMinTemperatureRange = 2.0;
constexpr double kMinDifferenceRange = 1.0;
constexpr qint64 kSecondsBelowMs = 30LL * 60 * 1000; // time labels show seconds
const QString kStampFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

const QColor kSensorColours[3] = {QColor(200, 50, 40), QColor(40, 100, 200), QColor(30, 140, 60)};
const QColor kRuleColour(150, 60, 170);
const QColor kFanColour(120, 180, 235, 90);
const QColor kPositionColour(70, 70, 70);
const QColor kCompMoveColour(240, 140, 20);

double dpi(const QWidget* w, bool horizontal) {
    const QScreen* s = w->screen();
    if (!s)
        return 96.0;
    return horizontal ? s->logicalDotsPerInchX() : s->logicalDotsPerInchY();
}

const QString& SensorName(const FocuserSettings& s, int n) {
    return n == 1 ? s.SensorName1 : n == 2 ? s.SensorName2 : s.SensorName3;
}

QString UnitText(int degrees) {
    return QChar(0x00B0) + (degrees == 0 ? QStringLiteral("C") : QStringLiteral("F"));
}

QString PositionTitle(const QString& units) {
    return QStringLiteral("Position (%1)")
        .arg(units == kUnitUser ? QStringLiteral("user units") : units);
}

// Lowest and highest finite value of the point lists; false when there is none.
bool ValueRange(std::initializer_list<const QList<QPointF>*> lists, double& low, double& high) {
    bool any = false;
    for (const QList<QPointF>* points : lists) {
        for (const QPointF& p : *points) {
            if (!std::isfinite(p.y()))
                continue;
            low = any ? std::min(low, p.y()) : p.y();
            high = any ? std::max(high, p.y()) : p.y();
            any = true;
        }
    }
    return any;
}

void SetPaddedRange(QValueAxis* axis, double low, double high, double minRange) {
    if (high - low < minRange) {
        const double middle = (low + high) / 2;
        low = middle - minRange / 2;
        high = middle + minRange / 2;
    }
    const double pad = (high - low) * 0.08;
    axis->setRange(low - pad, high + pad);
    // Round ticks: whole degrees or halves, not 10.75.
    axis->applyNiceNumbers();
}

// A file chooser that blocks nothing but its caller: a modal one, even modal to the plot
// only, would block the main window (the plot's parent) and its STOP with it.
QString AskPath(QWidget* parent, const QString& title, const QString& name, const QString& filter,
                bool save) {
    QFileDialog dialog(parent, title, QString(), filter);
    dialog.setWindowModality(Qt::NonModal);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!name.isEmpty())
        dialog.selectFile(name);
    QEventLoop wait;
    QObject::connect(&dialog, &QDialog::finished, &wait, &QEventLoop::quit);
    dialog.show();
    wait.exec();
    if (dialog.result() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

} // namespace

// The chart, scrolled by dragging and zoomed (in time) by the wheel.
class PlotView : public QChartView {
public:
    PlotView(QChart* chart, frmTemperatures* owner) : QChartView(chart), owner_(owner) {
        setRenderHint(QPainter::Antialiasing);
        setObjectName(QStringLiteral("chartView"));
    }

protected:
    void wheelEvent(QWheelEvent* event) override {
        const int notches = event->angleDelta().y();
        if (notches == 0)
            return;
        const double factor = std::pow(kWheelStep, -notches / 120.0);
        const qint64 centre = static_cast<qint64>(chart()->mapToValue(event->position()).x());
        owner_->ZoomBy(factor, centre);
        event->accept();
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) {
            dragX_ = event->position().x();
            dragging_ = true;
            setCursor(Qt::ClosedHandCursor);
        }
        event->accept();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!dragging_)
            return;
        const double width = chart()->plotArea().width();
        const double dx = event->position().x() - dragX_;
        if (width <= 0 || dx == 0)
            return;
        dragX_ = event->position().x();
        const double span = static_cast<double>(owner_->viewRight() - owner_->viewLeft());
        owner_->ScrollBy(static_cast<qint64>(-dx * span / width));
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        dragging_ = false;
        unsetCursor();
        event->accept();
    }

private:
    frmTemperatures* owner_;
    double dragX_ = 0;
    bool dragging_ = false;
};

QRect PlotInsideArea(const QRect& area, const QRect& frame, const QSize& minimum) {
    const QSize size = frame.size().expandedTo(minimum).boundedTo(area.size());
    const int x = std::clamp(frame.x(), area.left(), area.right() + 1 - size.width());
    const int y = std::clamp(frame.y(), area.top(), area.bottom() + 1 - size.height());
    return QRect(QPoint(x, y), size);
}

QRect PlotBesideConsole(const QRect& area, const QRect& console, const QSize& wanted,
                        const QSize& minimum) {
    const QSize least = minimum.boundedTo(area.size());
    const QSize size = wanted.expandedTo(least).boundedTo(area.size());
    const int right = area.right() - console.right() - kConsoleGapPx;
    const int left = console.left() - area.left() - kConsoleGapPx;
    const int below = area.bottom() - console.bottom() - kConsoleGapPx;
    const int above = console.top() - area.top() - kConsoleGapPx;
    QRect frame(QPoint(console.left(), console.top()), size);
    if (right >= least.width()) {
        frame.setWidth(std::min(size.width(), right));
        frame.moveLeft(console.right() + 1 + kConsoleGapPx);
    } else if (left >= least.width()) {
        frame.setWidth(std::min(size.width(), left));
        frame.moveRight(console.left() - 1 - kConsoleGapPx);
    } else if (below >= least.height()) {
        frame.setHeight(std::min(size.height(), below));
        frame.moveTop(console.bottom() + 1 + kConsoleGapPx);
    } else if (above >= least.height()) {
        frame.setHeight(std::min(size.height(), above));
        frame.moveBottom(console.top() - 1 - kConsoleGapPx);
    } else {
        // Over the console's right part, as little of it as the least width allows: STOP and
        // the jog buttons are on its left.
        frame.setWidth(least.width());
        frame.moveRight(area.right());
    }
    return PlotInsideArea(area, frame, least);
}

frmTemperatures::frmTemperatures(Console& console, const TemperatureSeries& live, QWidget* parent)
    : QWidget(parent, Qt::Window), console_(console), live_(live) {
    setObjectName(QStringLiteral("frmTemperatures"));
    setWindowTitle(QStringLiteral("Temperatures"));

    chart = new QChart;
    chart->setObjectName(QStringLiteral("chart"));
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));
    // The axis numbers with the operator's decimal mark, as the console's boxes show them.
    chart->setLocalizeNumbers(true);
    chart->setLocale(QLocale());

    timeAxis = new QDateTimeAxis;
    timeAxis->setTickCount(7);
    temperatureAxis = new QValueAxis;
    temperatureAxis->setLabelFormat(QStringLiteral("%.1f"));
    differenceAxis = new QValueAxis;
    differenceAxis->setLabelFormat(QStringLiteral("%.1f"));
    fanAxis = new QValueAxis;
    fanAxis->setRange(0, 1);
    fanAxis->setVisible(false);
    positionAxis = new QValueAxis;
    chart->addAxis(timeAxis, Qt::AlignBottom);
    chart->addAxis(temperatureAxis, Qt::AlignLeft);
    chart->addAxis(differenceAxis, Qt::AlignRight);
    chart->addAxis(positionAxis, Qt::AlignRight);
    chart->addAxis(fanAxis, Qt::AlignRight);

    // Added first, so it lies behind the curves.
    fanUpper = new QLineSeries;
    fanArea = new QAreaSeries(fanUpper);
    // The area does not own its line; it must outlive the area, so it goes with it.
    fanUpper->setParent(fanArea);
    fanArea->setName(QStringLiteral("Fan on"));
    fanArea->setColor(kFanColour);
    fanArea->setBorderColor(Qt::transparent);
    chart->addSeries(fanArea);
    fanArea->attachAxis(timeAxis);
    fanArea->attachAxis(fanAxis);

    for (int c = 0; c < kPlotCurveCount; ++c) {
        curves[c] = new QLineSeries;
        QPen pen;
        pen.setWidthF(2.0);
        if (c < 3) {
            pen.setColor(kSensorColours[c]);
        } else {
            pen.setColor(kRuleColour);
            pen.setWidthF(1.5);
            if (c != static_cast<int>(PlotCurve::RuleDifference))
                pen.setStyle(Qt::DashLine);
        }
        curves[c]->setPen(pen);
        chart->addSeries(curves[c]);
        curves[c]->attachAxis(timeAxis);
        curves[c]->attachAxis(c <= static_cast<int>(PlotCurve::Rule1Limit) ? temperatureAxis
                                                                           : differenceAxis);
    }

    positionCurve = new QLineSeries;
    positionCurve->setName(QStringLiteral("Position"));
    QPen positionPen(kPositionColour);
    positionPen.setWidthF(1.5);
    positionCurve->setPen(positionPen);
    compMoves = new QScatterSeries;
    compMoves->setName(QStringLiteral("Temp comp move"));
    compMoves->setMarkerShape(QScatterSeries::MarkerShapeCircle);
    compMoves->setMarkerSize(9);
    compMoves->setColor(kCompMoveColour);
    compMoves->setBorderColor(kPositionColour);
    for (QXYSeries* series :
         {static_cast<QXYSeries*>(positionCurve), static_cast<QXYSeries*>(compMoves)}) {
        chart->addSeries(series);
        series->attachAxis(timeAxis);
        series->attachAxis(positionAxis);
    }

    chartView = new PlotView(chart, this);

    cmdFollow = new QPushButton(QStringLiteral("Follow"), this);
    cmdFollow->setObjectName(QStringLiteral("cmdFollow"));
    cmdOpenLog = new QPushButton(QStringLiteral("Open log…"), this);
    cmdOpenLog->setObjectName(QStringLiteral("cmdOpenLog"));
    cmdSaveImage = new QPushButton(QStringLiteral("Save image…"), this);
    cmdSaveImage->setObjectName(QStringLiteral("cmdSaveImage"));
    lblSource = new QLabel(this);
    lblSource->setObjectName(QStringLiteral("lblSource"));
    lblSource->setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (QPushButton* b : {cmdFollow, cmdOpenLog, cmdSaveImage})
        b->setAutoDefault(false);
    chartView->setToolTip(QStringLiteral("Drag to scroll in time, turn the wheel to zoom; Esc "
                                         "stops the focuser as in the main window"));
    cmdFollow->setToolTip(QStringLiteral("Show the newest live readings again and follow them"));
    cmdOpenLog->setToolTip(QStringLiteral("Show a temperature log written by this program"));
    cmdSaveImage->setToolTip(QStringLiteral("Save the plot as a PNG image, with its date"));
    lblSource->setToolTip(QStringLiteral("What the plot shows: the live readings or a log"));
    connect(cmdFollow, &QPushButton::clicked, this, &frmTemperatures::Follow);
    connect(cmdOpenLog, &QPushButton::clicked, this, &frmTemperatures::cmdOpenLog_Click);
    connect(cmdSaveImage, &QPushButton::clicked, this, &frmTemperatures::cmdSaveImage_Click);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(lblSource, 1);
    buttons->addWidget(cmdFollow);
    buttons->addWidget(cmdOpenLog);
    buttons->addWidget(cmdSaveImage);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(chartView, 1);
    layout->addLayout(buttons);

    AskLogPath = [](QWidget* parent) {
        return AskPath(parent, QStringLiteral("Open log"), QString(),
                       QStringLiteral("Temperature logs (*.csv);;All files (*)"), false);
    };
    AskImagePath = [](QWidget* parent) {
        return AskPath(
            parent, QStringLiteral("Save image"),
            QStringLiteral("temperatures-%1.png").arg(QDate::currentDate().toString(Qt::ISODate)),
            QStringLiteral("PNG images (*.png)"), true);
    };

    PlaceFromSettings();
    Refresh();
}

void frmTemperatures::Refresh() {
    const TemperatureSeries& data = Shown();
    const FocuserSettings& s = console_.settings;
    const int degrees = s.Degrees;

    if (following_ && !data.isEmpty()) {
        // Until the readings fill the span they fill the view, so the first minutes of a
        // session are not a sliver at the left edge.
        const qint64 newest = data.last().msecs;
        const qint64 extent = newest - data.first().msecs;
        if (extent < kMinFollowMs) {
            left_ = data.first().msecs;
            right_ = left_ + kMinFollowMs;
        } else {
            right_ = newest;
            left_ = newest - std::min(extent, span_);
        }
    } else if (following_) {
        right_ = QDateTime::currentMSecsSinceEpoch();
        left_ = right_ - span_;
    }
    cmdFollow->setEnabled(!following_ || showingLog_);

    const int buckets = std::max(100, static_cast<int>(chart->plotArea().width()));
    QList<QPointF> points[kPlotCurveCount];
    for (int c = 0; c < kPlotCurveCount; ++c) {
        points[c] = data.Points(static_cast<PlotCurve>(c), degrees, left_, right_, buckets);
        curves[c]->replace(points[c]);
    }
    for (int n = 1; n <= 3; ++n)
        curves[n - 1]->setName(SensorName(s, n));
    curves[static_cast<int>(PlotCurve::Rule1Limit)]->setName(QStringLiteral("SensorLimit1"));
    const int rule = data.LastDifferenceRule();
    curves[static_cast<int>(PlotCurve::RuleDifference)]->setName(
        rule == 0 ? QStringLiteral("Difference")
                  : SensorName(s, 1) + QStringLiteral(" − ") + SensorName(s, rule));
    curves[static_cast<int>(PlotCurve::RuleDifferenceLimit)]->setName(
        rule == 0 ? QStringLiteral("Limit") : QStringLiteral("SensorLimit%1").arg(rule));

    const int decimals = std::clamp(s.Decimals, 0, 6);
    const QList<QPointF> position =
        data.PositionPoints(s.ScaleFactor, decimals, left_, right_, buckets);
    positionCurve->replace(position);
    compMoves->replace(data.CompMovePoints(s.ScaleFactor, decimals, left_, right_));

    QList<QPointF> fan;
    for (const auto& [start, end] : data.FanOnPeriods(left_, right_)) {
        fan << QPointF(start, 0) << QPointF(start, 1) << QPointF(end, 1) << QPointF(end, 0);
    }
    fanUpper->replace(fan);

    // Legend entries only for what has something to show.
    const auto markerVisible = [this](QAbstractSeries* series, bool visible) {
        for (QLegendMarker* m : chart->legend()->markers(series))
            m->setVisible(visible);
    };
    for (int c = 0; c < kPlotCurveCount; ++c)
        markerVisible(curves[c], data.HasData(static_cast<PlotCurve>(c)));
    markerVisible(fanArea, data.HasFanOn());
    markerVisible(positionCurve, data.HasPosition());
    markerVisible(compMoves, data.HasCompMoves());

    // Fine enough that neighbouring ticks never read the same.
    const qint64 shown = right_ - left_;
    QString format = QStringLiteral("HH:mm");
    if (shown > TemperatureSeries::kDayMs)
        format = QStringLiteral("dd.MM. HH:mm");
    else if (shown < kSecondsBelowMs)
        format = QStringLiteral("HH:mm:ss");
    timeAxis->setFormat(format);
    timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(left_),
                       QDateTime::fromMSecsSinceEpoch(right_));

    double low = 0;
    double high = 0;
    if (!ValueRange({&points[0], &points[1], &points[2], &points[3]}, low, high)) {
        low = degrees == 0 ? 0 : 32;
        high = degrees == 0 ? 30 : 86;
    }
    SetPaddedRange(temperatureAxis, low, high, kMinTemperatureRange);
    temperatureAxis->setTitleText(UnitText(degrees));

    const bool differences =
        data.HasData(PlotCurve::RuleDifference) || data.HasData(PlotCurve::RuleDifferenceLimit);
    differenceAxis->setVisible(differences);
    if (differences) {
        if (!ValueRange({&points[4], &points[5]}, low, high))
            low = high = 0;
        SetPaddedRange(differenceAxis, low, high, kMinDifferenceRange);
        differenceAxis->setTitleText(QStringLiteral("Difference ") + UnitText(degrees));
    }

    positionAxis->setVisible(data.HasPosition());
    if (data.HasPosition()) {
        if (!ValueRange({&position}, low, high))
            low = high = 0;
        // Ten of the readout's last digits at least: a still focuser is a flat line.
        SetPaddedRange(positionAxis, low, high, 10 * std::pow(10.0, -decimals));
        positionAxis->setLabelFormat(QStringLiteral("%.") + QString::number(decimals) +
                                     QLatin1Char('f'));
        positionAxis->setTitleText(PositionTitle(s.ScaleUnits));
    }

    if (!showingLog_)
        lblSource->setText(data.isEmpty()
                               ? QStringLiteral("Live: no readings yet")
                               : QStringLiteral("Live: %1 readings since %2")
                                     .arg(QLocale().toString(data.size()))
                                     .arg(QDateTime::fromMSecsSinceEpoch(data.first().msecs)
                                              .toString(kStampFormat)));
}

void frmTemperatures::Follow() {
    following_ = true;
    if (showingLog_) {
        showingLog_ = false;
        log_.Clear();
        // The log's whole length is no span to follow the live readings with.
        span_ = kDefaultSpanMs;
    }
    Refresh();
}

void frmTemperatures::SetView(qint64 left, qint64 right) {
    following_ = false;
    span_ = std::clamp(right - left, kMinSpanMs, kMaxSpanMs);
    left_ = left;
    right_ = left + span_;
    Refresh();
}

void frmTemperatures::ZoomBy(double factor, qint64 centre) {
    if (!(factor > 0))
        return;
    const double span =
        std::clamp(static_cast<double>(right_ - left_) * factor, static_cast<double>(kMinSpanMs),
                   static_cast<double>(kMaxSpanMs));
    // The time under the mouse stays where it is.
    const double share =
        right_ > left_ ? static_cast<double>(centre - left_) / static_cast<double>(right_ - left_)
                       : 0.5;
    const auto left = static_cast<qint64>(static_cast<double>(centre) - share * span);
    SetView(left, left + static_cast<qint64>(span));
}

void frmTemperatures::ScrollBy(qint64 msecs) {
    SetView(left_ + msecs, right_ + msecs);
}

LogImport frmTemperatures::OpenLog(const QString& path) {
    TemperatureSeries loaded(0);
    const LogImport result = ImportTemperatureLogFile(path, loaded);
    if (!result.opened) {
        console_.messages.notify(this, MsgIcon::Warning, console_.appTitle,
                                 QStringLiteral("The temperature log %1 could not be read: %2")
                                     .arg(QDir::toNativeSeparators(path), result.error));
        return result;
    }
    log_ = std::move(loaded);
    showingLog_ = true;
    const QString name = QFileInfo(path).fileName();
    const QString counts = QStringLiteral("%1 lines read, %2 skipped")
                               .arg(QLocale().toString(result.linesRead))
                               .arg(QLocale().toString(result.linesSkipped));
    if (result.linesRead == 0) {
        lblSource->setText(name + QStringLiteral(": no readings; ") + counts);
        following_ = true;
        Refresh();
    } else {
        lblSource->setText(
            QStringLiteral("%1: %2 to %3; %4")
                .arg(name, QDateTime::fromMSecsSinceEpoch(result.firstMsecs).toString(kStampFormat),
                     QDateTime::fromMSecsSinceEpoch(result.lastMsecs).toString(kStampFormat),
                     counts));
        qint64 first = log_.first().msecs;
        qint64 last = first;
        for (qsizetype i = 0; i < log_.size(); ++i) {
            first = std::min(first, log_.at(i).msecs);
            last = std::max(last, log_.at(i).msecs);
        }
        const qint64 margin = std::max<qint64>((last - first) / 50, 30 * 1000);
        SetView(first - margin, last + margin);
    }
    return result;
}

bool frmTemperatures::SaveImage(const QString& path) {
    QPixmap image = chartView->grab();
    {
        // The time axis shows hours only: the date goes on the image itself.
        QPainter painter(&image);
        painter.setPen(Qt::darkGray);
        const QString when =
            QStringLiteral("%1 to %2")
                .arg(QDateTime::fromMSecsSinceEpoch(left_).toString(kStampFormat),
                     QDateTime::fromMSecsSinceEpoch(right_).toString(kStampFormat));
        painter.drawText(image.rect().adjusted(8, 6, -8, -6), Qt::AlignTop | Qt::AlignLeft, when);
    }
    if (!image.save(path, "PNG")) {
        console_.messages.notify(this, MsgIcon::Warning, console_.appTitle,
                                 QStringLiteral("The image %1 could not be written.")
                                     .arg(QDir::toNativeSeparators(path)));
        return false;
    }
    return true;
}

void frmTemperatures::cmdOpenLog_Click() {
    const QString path = AskLogPath ? AskLogPath(this) : QString();
    if (!path.isEmpty())
        OpenLog(path);
}

void frmTemperatures::cmdSaveImage_Click() {
    QString path = AskImagePath ? AskImagePath(this) : QString();
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".png");
    SaveImage(path);
}

void frmTemperatures::PlaceFromSettings() {
    const FocuserSettings& s = console_.settings;
    if (s.PlotWidth <= 0 || s.PlotHeight <= 0) {
        resize(kDefaultWidthPx, kDefaultHeightPx);
        return;
    }
    const QSize size(TwipsToPixels(s.PlotWidth, dpi(this, true)),
                     TwipsToPixels(s.PlotHeight, dpi(this, false)));
    const QPoint pos(TwipsToPixels(s.PlotLeft, dpi(this, true)),
                     TwipsToPixels(s.PlotTop, dpi(this, false)));
    const QRect frame(pos, size.grownBy(FrameMargins()));
    // Kept on the screen it still lies wholly on; otherwise (that screen is gone, or smaller
    // now) moved onto the console's, where its buttons are within reach.
    QRect area = ConsoleArea();
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().contains(frame))
            area = screen->availableGeometry();
    }
    SetFrame(PlotInsideArea(area, frame, MinimumFrame()));
}

void frmTemperatures::PlaceBesideConsole() {
    const QWidget* console = parentWidget() ? parentWidget()->window() : nullptr;
    if (!console)
        return;
    SetFrame(PlotBesideConsole(ConsoleArea(), console->frameGeometry(),
                               size().grownBy(FrameMargins()), MinimumFrame()));
}

QRect frmTemperatures::ConsoleArea() const {
    const QWidget* console = parentWidget() ? parentWidget()->window() : this;
    const QScreen* screen = console->screen();
    return screen ? screen->availableGeometry() : QRect(QPoint(0, 0), size());
}

QMargins frmTemperatures::FrameMargins() const {
    const QWidget* console = parentWidget() ? parentWidget()->window() : this;
    const QRect frame = console->frameGeometry();
    const QRect inner = console->geometry();
    return QMargins(inner.left() - frame.left(), inner.top() - frame.top(),
                    frame.right() - inner.right(), frame.bottom() - inner.bottom());
}

QSize frmTemperatures::MinimumFrame() const {
    return minimumSizeHint()
        .expandedTo(kUsableSize)
        .grownBy(FrameMargins())
        .boundedTo(ConsoleArea().size());
}

void frmTemperatures::SetFrame(const QRect& frame) {
    resize(frame.size().shrunkBy(FrameMargins()));
    move(frame.topLeft());
}

void frmTemperatures::StoreGeometry(bool hiding) {
    if (!(isVisible() || hiding) ||
        (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    FocuserSettings& s = console_.settings;
    s.PlotLeft = PixelsToTwips(x(), dpi(this, true));
    s.PlotTop = PixelsToTwips(y(), dpi(this, false));
    s.PlotWidth = PixelsToTwips(width(), dpi(this, true));
    s.PlotHeight = PixelsToTwips(height(), dpi(this, false));
}

void frmTemperatures::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    StoreGeometry();
}

void frmTemperatures::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    StoreGeometry();
    // The decimation follows the plot's width.
    Refresh();
}

void frmTemperatures::hideEvent(QHideEvent* event) {
    StoreGeometry(true);
    QWidget::hideEvent(event);
}

} // namespace tarnivel
