#include "window/positions/frmeditposition.h"

#include "core/link/focuserlink.h"
#include "core/motion/motionstate.h"
#include "core/settings/focusersettings.h"
#include "core/settings/savedpositionlist.h"
#include "core/units/positionunits.h"
#include "window/app/console.h"
#include "window/ui/messagebox.h"

#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace tarnivel {

namespace {

constexpr int kMaxNameLength = 20;
constexpr int kLinkRetryMs = 20;

const QString kEntryErrorTitle = QStringLiteral("Entry Error");
const QString kRealignTitle = QStringLiteral("ReAlign All Positions");

const QString kLineBreak = QStringLiteral("\r\n");

QString RealignByDeltaQuestion() {
    return QStringLiteral("This ReAlignment process will adjust all Positions in the table") +
           kLineBreak + QStringLiteral("based on the delta of this New position.") + kLineBreak +
           kLineBreak + QStringLiteral("Are you sure you want to do this?");
}

QString RealignByCounterQuestion() {
    return QStringLiteral("This ReAlignment process will set the current position of the") +
           kLineBreak + QStringLiteral("focuser based on the value of the Old position.") +
           kLineBreak + kLineBreak + QStringLiteral("Are you sure you want to do this?");
}

// A click into a position entry chooses it, and so does the focus the dialog itself puts
// there after an entry error. Focus that only passes through (Tab, Shift+Tab, the window
// coming back to the front) chooses nothing: tabbing on to "Set Value" must not swap the
// row's saved position for the focuser's present one.
bool ChoosesByFocus(Qt::FocusReason reason) {
    return reason == Qt::MouseFocusReason || reason == Qt::OtherFocusReason;
}

} // namespace

frmEditPosition::frmEditPosition(Console& console, QWidget* parent)
    : QDialog(parent), console_(console) {
    setObjectName(QStringLiteral("frmEditPosition"));
    setWindowTitle(QStringLiteral("Save Position"));
    setModal(true);

    Frame1 = new QGroupBox(QStringLiteral("Name"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    txtPositionName = new QLineEdit(Frame1);
    txtPositionName->setObjectName(QStringLiteral("txtPositionName"));
    txtPositionName->setMaxLength(kMaxNameLength);
    auto* nameLayout = new QVBoxLayout(Frame1);
    nameLayout->addWidget(txtPositionName);

    fraPosition = new QGroupBox(QStringLiteral("Position"), this);
    fraPosition->setObjectName(QStringLiteral("fraPosition"));
    optUseOld = new QRadioButton(QStringLiteral("Use Old Position"), fraPosition);
    optUseOld->setObjectName(QStringLiteral("optUseOld"));
    optUseNew = new QRadioButton(QStringLiteral("Use New Position"), fraPosition);
    optUseNew->setObjectName(QStringLiteral("optUseNew"));
    txtOldPosition = new QLineEdit(fraPosition);
    txtOldPosition->setObjectName(QStringLiteral("txtOldPosition"));
    txtOldPosition->setReadOnly(true);
    txtNewPosition = new QLineEdit(fraPosition);
    txtNewPosition->setObjectName(QStringLiteral("txtNewPosition"));
    for (QLineEdit* entry : {txtOldPosition, txtNewPosition})
        entry->setAlignment(Qt::AlignRight);
    auto* positionLayout = new QGridLayout(fraPosition);
    positionLayout->addWidget(optUseOld, 0, 0);
    positionLayout->addWidget(txtOldPosition, 0, 1);
    positionLayout->addWidget(optUseNew, 1, 0);
    positionLayout->addWidget(txtNewPosition, 1, 1);

    cmdOk = new QPushButton(QStringLiteral("Set Value"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdOk->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdReAlign = new QPushButton(QStringLiteral("ReAlign"), this);
    cmdReAlign->setObjectName(QStringLiteral("cmdReAlign"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdOk);
    buttons->addWidget(cmdCancel);
    buttons->addStretch();
    buttons->addWidget(cmdReAlign);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Frame1);
    layout->addWidget(fraPosition);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(txtPositionName, optUseOld);
    setTabOrder(optUseOld, optUseNew);
    setTabOrder(optUseNew, txtOldPosition);
    setTabOrder(txtOldPosition, txtNewPosition);
    setTabOrder(txtNewPosition, cmdOk);
    setTabOrder(cmdOk, cmdCancel);
    setTabOrder(cmdCancel, cmdReAlign);

    connect(cmdOk, &QPushButton::clicked, this, [this] { cmdOk_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    connect(cmdReAlign, &QPushButton::clicked, this, [this] { cmdReAlign_Click(); });
    connect(optUseOld, &QRadioButton::clicked, this, [this] { optUseOld_Click(); });
    connect(optUseNew, &QRadioButton::clicked, this, [this] { optUseNew_Click(); });
    // Typing a position chooses it as much as clicking into it does.
    connect(txtNewPosition, &QLineEdit::textEdited, this, [this] { ChooseNew(); });
    for (QLineEdit* entry : {txtPositionName, txtOldPosition, txtNewPosition})
        entry->installEventFilter(this);

    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        FormLeft = (area.width() - width()) / 2;
        FormTop = (area.height() - height()) / 2;
    }
}

frmEditPosition::~frmEditPosition() = default;

void frmEditPosition::Display() {
    move(FormLeft, FormTop);
    fraPosition->setTitle(QStringLiteral("Position (") + console_.settings.ScaleUnits +
                          QStringLiteral(")"));
    txtPositionName->setText(PositionName);
    txtOldPosition->setText(OldPosition);
    txtNewPosition->setText(NewPosition);
    if (IsEdit()) {
        optUseOld->setEnabled(true);
        optUseNew->setEnabled(true);
        optUseOld->setChecked(true);
        cmdReAlign->setEnabled(true);
    } else {
        optUseOld->setEnabled(false);
        optUseNew->setEnabled(true);
        optUseNew->setChecked(true);
        cmdReAlign->setEnabled(false);
    }
    txtPositionName->setFocus(Qt::OtherFocusReason);
    console_.RunModal(*this);
}

void frmEditPosition::done(int result) {
    FormLeft = x();
    FormTop = y();
    QDialog::done(result);
}

bool frmEditPosition::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        if (watched == txtPositionName) {
            txtPositionName->selectAll();
            selectNameOnRelease_ =
                static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason;
        } else if (ChoosesByFocus(static_cast<QFocusEvent*>(event)->reason())) {
            if (watched == txtOldPosition)
                ChooseOld();
            else if (watched == txtNewPosition)
                ChooseNew();
        }
    } else if (event->type() == QEvent::MouseButtonRelease && watched == txtPositionName &&
               selectNameOnRelease_) {
        selectNameOnRelease_ = false;
        // A drag made a selection of its own: keep it.
        if (!txtPositionName->hasSelectedText())
            txtPositionName->selectAll();
    }
    return QDialog::eventFilter(watched, event);
}

void frmEditPosition::ChooseOld() {
    optUseOld->setChecked(true);
    optUseOld_Click();
}

void frmEditPosition::ChooseNew() {
    optUseNew->setChecked(true);
    optUseNew_Click();
}

void frmEditPosition::optUseOld_Click() {
    if (!IsEdit())
        cmdReAlign->setEnabled(false);
}

void frmEditPosition::optUseNew_Click() {
    if (!IsEdit())
        cmdReAlign->setEnabled(false);
}

void frmEditPosition::cmdCancel_Click() {
    reject();
}

void frmEditPosition::reject() {
    Cancel = true;
    Position.clear();
    QDialog::reject();
}

void frmEditPosition::EntryError(const QString& text, QLineEdit* focusTo) {
    console_.messages.show(MsgIcon::Warning, kEntryErrorTitle, text, MsgButtons::Ok);
    focusTo->setFocus(Qt::OtherFocusReason);
}

bool frmEditPosition::NameTestPasses() {
    const QString typed = txtPositionName->text();
    const QString name = TrimSpaces(typed);
    if (name.isEmpty()) {
        EntryError(QStringLiteral("Name is required"), txtPositionName);
        return false;
    }
    if (PositionTable) {
        const int edited = PositionTable->ListIndex();
        for (int i = 0; i < PositionTable->ListCount(); ++i) {
            const QString rowName = TrimSpaces(ListEntryField(PositionTable->List(i), 0));
            if (rowName.compare(name, Qt::CaseInsensitive) != 0)
                continue;
            if (IsEdit() && i == edited)
                continue;
            EntryError(QStringLiteral("Name '") + typed + QStringLiteral("' already used"),
                       txtPositionName);
            return false;
        }
    }
    return true;
}

bool frmEditPosition::PositionEntryPasses(QLineEdit* entry) {
    const QString text = entry->text();
    if (text.trimmed().isEmpty()) {
        EntryError(QStringLiteral("Position is required"), entry);
        return false;
    }
    double value = 0;
    // A number whose steps the 24-bit counter cannot hold ("1e12") is no position either.
    if (!ParseOperatorNumber(text, value) ||
        !UnitsWithinStepRange(value, console_.settings.ScaleFactor)) {
        EntryError(QStringLiteral("Invalid Position"), entry);
        return false;
    }
    return true;
}

void frmEditPosition::cmdOk_Click() {
    if (!NameTestPasses())
        return;
    const bool useOld = optUseOld->isChecked();
    QLineEdit* chosen = useOld ? txtOldPosition : txtNewPosition;
    if (!PositionEntryPasses(chosen))
        return;
    OldPositionKept = useOld && chosen->text().trimmed() == OldPosition.trimmed();
    Finish(chosen->text().trimmed());
}

void frmEditPosition::cmdReAlign_Click() {
    if (!IsEdit() || !PositionTable)
        return;
    const int edited = PositionTable->ListIndex();
    if (edited < 0 || edited >= PositionTable->ListCount())
        return;
    if (!NameTestPasses())
        return;
    if (!PositionEntryPasses(txtOldPosition) || !PositionEntryPasses(txtNewPosition))
        return;

    const FocuserSettings& settings = console_.settings;
    if (optUseNew->isChecked()) {
        if (console_.messages.show(MsgIcon::Question, kRealignTitle, RealignByDeltaQuestion(),
                                   MsgButtons::YesNo) != MsgAnswer::Yes)
            return;
        RealignByDelta(edited);
        const double units =
            StepsToUnits(console_.motion.CurrentPosition, settings.ScaleFactor, settings.Decimals);
        Finish(FormatFixed(units, settings.Decimals));
        return;
    }

    RealignByCounter(edited);
}

void frmEditPosition::RealignByCounter(int editedRow) {
    // A click that lands inside another command's wait (the poll tick's read) would have
    // its read refused; it is taken again once that command has its answer.
    if (console_.link.Busy()) {
        if (!realignWaiting_) {
            realignWaiting_ = true;
            QTimer::singleShot(kLinkRetryMs, this, [this, editedRow] {
                realignWaiting_ = false;
                if (isVisible())
                    RealignByCounter(editedRow);
            });
        }
        return;
    }
    const FocuserSettings& settings = console_.settings;
    const std::optional<qint32> calibrated = console_.device.ReadCalibratedInPlace();
    if (!calibrated) {
        console_.messages.show(MsgIcon::Warning, console_.appTitle,
                               QStringLiteral("The focuser did not answer; nothing was realigned."),
                               MsgButtons::Ok);
        return;
    }
    if (*calibrated == 0) {
        console_.messages.show(MsgIcon::Warning, console_.appTitle,
                               QStringLiteral("Please Calibrate your focuser first."),
                               MsgButtons::Ok);
        return;
    }
    if (console_.messages.show(MsgIcon::Question, kRealignTitle, RealignByCounterQuestion(),
                               MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    const int oldRaw = PositionTable->ItemData(editedRow);
    // The stored limits move with the counter, so the end stops keep their place on every
    // front end's scale.
    const Outcome realigned =
        console_.device.ShiftCounter(oldRaw, std::nullopt, QStringLiteral("ReAlign"));
    if (!realigned.ok()) {
        console_.messages.show(MsgIcon::Warning, console_.appTitle, realigned.reason,
                               MsgButtons::Ok);
        return;
    }
    Finish(FormatFixed(StepsToUnits(oldRaw, settings.ScaleFactor, settings.Decimals),
                       settings.Decimals));
}

void frmEditPosition::RealignByDelta(int editedRow) {
    const FocuserSettings& settings = console_.settings;
    SavedPositionList& table = *PositionTable;
    // Both are raw counts below 2^24, so neither the difference nor the sum can overflow.
    const int delta = console_.motion.CurrentPosition - table.ItemData(editedRow);
    for (int j = 0; j < table.ListCount(); ++j) {
        if (j == editedRow)
            continue;
        const int moved = WrapSteps(table.ItemData(j) + delta);
        table.SetItemData(j, moved);
        table.SetList(
            j, FormatListEntry(ListEntryField(table.List(j), 0),
                               FormatPositionText(moved, settings.ScaleFactor, settings.Decimals)));
    }
}

void frmEditPosition::Finish(const QString& position) {
    Cancel = false;
    PositionName = TrimSpaces(txtPositionName->text());
    Position = position;
    accept();
}

} // namespace tarnivel
