#include "window/options/tempcompframe.h"

#include "core/device/tempcompensation.h"
#include "core/units/positionunits.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cmath>

namespace tarnivel {

namespace {

constexpr int kMaxSteps = 8388608;
constexpr int kMaxAverageSeconds = 3600;
constexpr int kFitDecimals = 2;

QString NumberText(double value) {
    QString text = FormatSettingsReal(value);
    text.replace(QLatin1Char('.'), QLocale().decimalPoint());
    return text;
}

QLineEdit* NumberBox(QWidget* parent, const char* name, const QString& tip) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setToolTip(tip);
    box->setAlignment(Qt::AlignRight);
    return box;
}

// A whole number in minimum..maximum typed into box.
bool WholeNumber(const QLineEdit* box, int minimum, int maximum, int& value) {
    double v = 0;
    if (!ParseOperatorNumber(box->text(), v) || v != std::floor(v) || v < minimum || v > maximum)
        return false;
    value = static_cast<int>(v);
    return true;
}

} // namespace

TempCompFrame::TempCompFrame(QWidget* parent)
    : QGroupBox(QStringLiteral("Temperature Compensation"), parent) {
    setObjectName(QStringLiteral("fraTempComp"));
    txtCoefficient =
        NumberBox(this, "txtCoefficient",
                  QStringLiteral("Focus steps per degree Celsius; 0 leaves compensation off"));
    cboSensor = new QComboBox(this);
    cboSensor->setObjectName(QStringLiteral("cboSensor"));
    cboSensor->setToolTip(QStringLiteral("The sensor whose temperature the focus follows"));
    txtDeadband = NumberBox(this, "txtDeadband",
                            QStringLiteral("Steps: no move until the target is this far away"));
    txtAverage = NumberBox(this, "txtAverage",
                           QStringLiteral("Seconds of readings averaged; 0 takes the latest"));
    txtMaxTravel =
        NumberBox(this, "txtMaxTravel",
                  QStringLiteral("Steps in all after which compensation switches itself off"));
    lblFit = new QLabel(this);
    lblFit->setObjectName(QStringLiteral("lblFit"));
    lblFit->setTextFormat(Qt::PlainText);
    cmdUseFit = new QPushButton(QStringLiteral("Use"), this);
    cmdUseFit->setObjectName(QStringLiteral("cmdUseFit"));
    cmdUseFit->setAutoDefault(false);
    cmdUseFit->setToolTip(QStringLiteral("Take the fitted slope as the coefficient"));
    cmdClearPoints = new QPushButton(QStringLiteral("Clear points"), this);
    cmdClearPoints->setObjectName(QStringLiteral("cmdClearPoints"));
    cmdClearPoints->setAutoDefault(false);
    cmdClearPoints->setToolTip(QStringLiteral("Forget the marked focus points (taken with Ok)"));
    connect(cmdUseFit, &QPushButton::clicked, this, [this] { cmdUseFit_Click(); });
    connect(cmdClearPoints, &QPushButton::clicked, this, [this] { cmdClearPoints_Click(); });
    connect(cboSensor, &QComboBox::currentIndexChanged, this, [this] { ShowFit(); });

    auto* g = new QGridLayout(this);
    const std::pair<const char*, QWidget*> boxes[] = {{"Steps/\u00b0C", txtCoefficient},
                                                      {"Sensor", cboSensor},
                                                      {"Dead band", txtDeadband},
                                                      {"Average s", txtAverage},
                                                      {"Cap", txtMaxTravel}};
    int column = 0;
    for (const auto& [caption, widget] : boxes) {
        auto* label = new QLabel(QString::fromUtf8(caption), this);
        label->setBuddy(widget);
        g->addWidget(label, 0, column);
        g->addWidget(widget, 1, column);
        ++column;
    }
    g->addWidget(lblFit, 2, 0, 1, 3);
    g->addWidget(cmdUseFit, 2, 3);
    g->addWidget(cmdClearPoints, 2, 4);
}

QList<QWidget*> TempCompFrame::TabChain() const {
    return {txtCoefficient, cboSensor, txtDeadband,   txtAverage,
            txtMaxTravel,   cmdUseFit, cmdClearPoints};
}

void TempCompFrame::Load(const FocuserSettings& settings) {
    txtCoefficient->setText(NumberText(settings.TempCompCoefficient));
    cboSensor->clear();
    cboSensor->addItems({settings.SensorName1, settings.SensorName2, settings.SensorName3});
    cboSensor->setCurrentIndex(settings.TempCompSensor - 1);
    txtDeadband->setText(QString::number(settings.TempCompDeadband));
    txtAverage->setText(QString::number(settings.TempCompAverage));
    txtMaxTravel->setText(QString::number(settings.TempCompMaxTravel));
    points_ = settings.FocusPoints;
    pointsCleared_ = false;
    ShowFit();
}

bool TempCompFrame::Validate() {
    double coefficient = 0;
    int whole = 0;
    QLineEdit* bad = nullptr;
    if (!ParseOperatorNumber(txtCoefficient->text(), coefficient))
        bad = txtCoefficient;
    else if (!WholeNumber(txtDeadband, 1, kMaxSteps, whole))
        bad = txtDeadband;
    else if (!WholeNumber(txtAverage, 0, kMaxAverageSeconds, whole))
        bad = txtAverage;
    else if (!WholeNumber(txtMaxTravel, 1, kMaxSteps, whole))
        bad = txtMaxTravel;
    if (bad == nullptr)
        return true;
    bad->setFocus();
    bad->selectAll();
    return false;
}

void TempCompFrame::Store(FocuserSettings& settings) const {
    double coefficient = 0;
    if (ParseOperatorNumber(txtCoefficient->text(), coefficient))
        settings.TempCompCoefficient = coefficient;
    settings.TempCompSensor = cboSensor->currentIndex() + 1;
    WholeNumber(txtDeadband, 1, kMaxSteps, settings.TempCompDeadband);
    WholeNumber(txtAverage, 0, kMaxAverageSeconds, settings.TempCompAverage);
    WholeNumber(txtMaxTravel, 1, kMaxSteps, settings.TempCompMaxTravel);
    if (pointsCleared_)
        settings.FocusPoints.clear();
}

void TempCompFrame::ShowFit() {
    // Only the points of the sensor chosen here: another sensor's temperatures run apart.
    const FocusFit fit = FitFocusPoints(points_, cboSensor->currentIndex() + 1);
    lblFit->setText(FitText(fit, QLocale(), cboSensor->currentText()));
    cmdUseFit->setEnabled(fit.usable);
    cmdClearPoints->setEnabled(!points_.isEmpty());
}

void TempCompFrame::cmdUseFit_Click() {
    const FocusFit fit = FitFocusPoints(points_, cboSensor->currentIndex() + 1);
    if (fit.usable)
        txtCoefficient->setText(NumberText(RoundHalfEven(fit.slope, kFitDecimals)));
}

void TempCompFrame::cmdClearPoints_Click() {
    points_.clear();
    pointsCleared_ = true;
    ShowFit();
}

} // namespace tarnivel
