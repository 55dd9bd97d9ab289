#include "window/positions/positionsframe.h"

#include "core/link/focuserlink.h"
#include "core/motion/gotocontroller.h"
#include "core/motion/motionstate.h"
#include "core/settings/focusersettings.h"
#include "core/settings/savedpositionlist.h"
#include "core/units/positionunits.h"
#include "window/app/console.h"
#include "window/positions/frmeditposition.h"
#include "window/ui/inputgate.h"
#include "window/ui/messagebox.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace tarnivel {

namespace {

constexpr int kRowLength = 30;

// Rows are padded into a name and a value column, so they line up only in a fixed-pitch
// font. The desktop's "fixed" font is not always one: with some font sets installed it
// resolves to a proportional face, so every candidate is checked as it resolves.
QFont ListFont() {
    QList<QFont> candidates;
    if (QFontDatabase::families().contains(QStringLiteral("Courier New"), Qt::CaseInsensitive))
        candidates << QFont(QStringLiteral("Courier New"), 9);
    candidates << QFontDatabase::systemFont(QFontDatabase::FixedFont);
    QFont hinted(QStringLiteral("monospace"), 9);
    hinted.setStyleHint(QFont::Monospace);
    hinted.setFixedPitch(true);
    candidates << hinted;
    for (const char* family : {"DejaVu Sans Mono", "Liberation Mono", "Noto Sans Mono", "Noto Mono",
                               "Courier", "FreeMono", "Nimbus Mono PS"})
        candidates << QFont(QString::fromLatin1(family), 9);
    for (const QFont& font : candidates) {
        if (QFontInfo(font).fixedPitch())
            return font;
    }
    return candidates.first();
}

QPushButton* MakeButton(const QString& name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    return button;
}

} // namespace

PositionsFrame::PositionsFrame(Console& console, QWidget* parent)
    : QGroupBox(parent), console_(console) {
    setObjectName(QStringLiteral("fraPositions"));
    SetUnits(console_.settings.ScaleUnits);

    lstPosition = new QListView(this);
    lstPosition->setObjectName(QStringLiteral("lstPosition"));
    lstPosition->setFont(ListFont());
    lstPosition->setSelectionMode(QAbstractItemView::SingleSelection);
    lstPosition->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstPosition->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstPosition->setUniformItemSizes(true);
    SavedPositionList& model = console_.positions;
    connect(&model, &SavedPositionList::listIndexChanged, this, [this] { ShowListIndex(); });
    // While rows come and go the selection model shifts and drops its own selection; that
    // must not reach the model's ListIndex, which the model adjusts itself. Connected before
    // the view sees the model, so that these run before the selection model reacts.
    const auto rowsChanging = [this] { followingModel_ = true; };
    const auto rowsChanged = [this] {
        followingModel_ = false;
        ShowListIndex();
    };
    connect(&model, &QAbstractItemModel::rowsAboutToBeInserted, this, rowsChanging);
    connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved, this, rowsChanging);
    connect(&model, &QAbstractItemModel::modelAboutToBeReset, this, rowsChanging);
    connect(&model, &QAbstractItemModel::rowsInserted, this, rowsChanged);
    connect(&model, &QAbstractItemModel::rowsRemoved, this, rowsChanged);
    connect(&model, &QAbstractItemModel::modelReset, this, rowsChanged);
    lstPosition->setModel(&model);
    connect(lstPosition->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { TakeViewSelection(); });
    const QFontMetrics metrics(lstPosition->font());
    lstPosition->setMinimumWidth(
        metrics.horizontalAdvance(QString(kRowLength + 1, QLatin1Char('0'))) +
        lstPosition->verticalScrollBar()->sizeHint().width() + 2 * lstPosition->frameWidth());

    cmdGoto = MakeButton(QStringLiteral("cmdGoto"), QStringLiteral("Goto"), this);
    cmdAdd = MakeButton(QStringLiteral("cmdAdd"), QStringLiteral("Add"), this);
    cmdEdit = MakeButton(QStringLiteral("cmdEdit"), QStringLiteral("Edit"), this);
    cmdDelete = MakeButton(QStringLiteral("cmdDelete"), QStringLiteral("Delete"), this);

    lstPosition->setToolTip(QStringLiteral("Saved positions; double-click one to go there"));
    cmdGoto->setToolTip(QStringLiteral("Go to the selected position"));
    cmdAdd->setToolTip(QStringLiteral("Save the focuser's present position under a name"));
    cmdEdit->setToolTip(
        QStringLiteral("Rename the selected position, change its value or realign the table"));
    cmdDelete->setToolTip(QStringLiteral("Delete the selected position"));

    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {cmdGoto, cmdAdd, cmdEdit, cmdDelete})
        buttons->addWidget(button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lstPosition);
    layout->addLayout(buttons);

    connect(cmdGoto, &QPushButton::clicked, this, [this] { cmdGoto_Click(); });
    connect(cmdAdd, &QPushButton::clicked, this, [this] { cmdAdd_Click(); });
    connect(cmdEdit, &QPushButton::clicked, this, [this] { cmdEdit_Click(); });
    connect(cmdDelete, &QPushButton::clicked, this, [this] { cmdDelete_Click(); });
    connect(lstPosition, &QListView::doubleClicked, this, [this] { lstPosition_DblClick(); });

    ShowListIndex();
}

void PositionsFrame::SetUnits(const QString& units) {
    setTitle(QStringLiteral("Saved Positions (") + units + QStringLiteral(")"));
}

void PositionsFrame::ShowListIndex() {
    if (followingModel_)
        return;
    followingModel_ = true;
    QItemSelectionModel* selection = lstPosition->selectionModel();
    const int row = console_.positions.ListIndex();
    if (row < 0 || row >= console_.positions.ListCount()) {
        selection->clear();
    } else {
        const QModelIndex index = console_.positions.index(row);
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        lstPosition->scrollTo(index);
    }
    followingModel_ = false;
}

void PositionsFrame::TakeViewSelection() {
    if (followingModel_)
        return;
    const QModelIndexList rows = lstPosition->selectionModel()->selectedIndexes();
    followingModel_ = true;
    console_.positions.SetListIndex(rows.isEmpty() ? -1 : rows.first().row());
    followingModel_ = false;
}

int PositionsFrame::NextDefaultPositionNumber() const {
    const SavedPositionList& list = console_.positions;
    int n = 1;
    for (int i = 0; i < list.ListCount(); ++i) {
        const QString name = TrimSpaces(ListEntryField(list.List(i), 0)).toUpper();
        if (name == QStringLiteral("POSITION") + QString::number(n)) {
            ++n;
            i = -1; // the next number may be taken by a row already passed
        }
    }
    return n;
}

void PositionsFrame::RefreshPositionRows() {
    SavedPositionList& list = console_.positions;
    const FocuserSettings& settings = console_.settings;
    for (int i = 0; i < list.ListCount(); ++i) {
        const QString name = ListEntryField(list.List(i), 0);
        list.SetList(
            i, FormatListEntry(name, FormatPositionText(list.ItemData(i), settings.ScaleFactor,
                                                        settings.Decimals)));
    }
}

void PositionsFrame::InsertEditedRow(const QString& name, double value, int steps) {
    SavedPositionList& list = console_.positions;
    const FocuserSettings& settings = console_.settings;
    const int row = list.AddItem(FormatListEntry(name, FormatFixed(value, settings.Decimals)),
                                 steps >= 0 ? steps : UnitsToSteps(value, settings.ScaleFactor));
    list.SetListIndex(row);
}

void PositionsFrame::cmdAdd_Click() {
    const FocuserSettings& settings = console_.settings;
    frmEditPosition editor(console_, window());
    editor.PositionName = QStringLiteral("Position") + QString::number(NextDefaultPositionNumber());
    editor.Action = QStringLiteral("A");
    editor.OldPosition.clear();
    editor.NewPosition =
        FormatPositionText(console_.motion.CurrentPosition, settings.ScaleFactor, settings.Decimals)
            .trimmed();
    editor.PositionTable = &console_.positions;
    editor.Display();
    double value = 0;
    if (editor.Cancel || !ParseOperatorNumber(editor.Position, value))
        return;
    InsertEditedRow(editor.PositionName, value);
    // Said now rather than when a goto to it stops short, perhaps hours later.
    const int raw = console_.positions.ItemData(console_.positions.ListIndex());
    if (console_.device.OutsideActiveLimits(raw))
        console_.messages.show(
            MsgIcon::Information, console_.appTitle,
            QStringLiteral("%1 lies outside the focuser's active limits: a Goto to it stops at "
                           "the limit.")
                .arg(TrimSpaces(editor.PositionName)),
            MsgButtons::Ok);
}

void PositionsFrame::cmdEdit_Click() {
    SavedPositionList& list = console_.positions;
    if (list.ListIndex() < 0)
        return;
    const FocuserSettings& settings = console_.settings;
    const int selected = list.ListIndex();
    frmEditPosition editor(console_, window());
    editor.PositionName = TrimSpaces(ListEntryField(list.List(selected), 0));
    editor.OldPosition =
        FormatPositionText(list.ItemData(selected), settings.ScaleFactor, settings.Decimals)
            .trimmed();
    editor.NewPosition =
        FormatPositionText(console_.motion.CurrentPosition, settings.ScaleFactor, settings.Decimals)
            .trimmed();
    editor.PositionTable = &list;
    editor.Action = QStringLiteral("E");
    editor.Display();
    double value = 0;
    if (editor.Cancel || !ParseOperatorNumber(editor.Position, value))
        return;
    const int edited = list.ListIndex();
    // The text shows the stored steps rounded to the display decimals; taken back as it
    // stands, it would move the position by what the rounding dropped.
    const int kept = editor.OldPositionKept && edited >= 0 ? list.ItemData(edited) : -1;
    if (edited >= 0)
        list.RemoveItem(edited);
    InsertEditedRow(editor.PositionName, value, kept);
}

void PositionsFrame::cmdDelete_Click() {
    SavedPositionList& list = console_.positions;
    const int old = list.ListIndex();
    if (old < 0)
        return;
    const QString name = TrimSpaces(ListEntryField(list.List(old), 0));
    const MsgAnswer answer = console_.messages.show(
        MsgIcon::None, QStringLiteral("Delete Position"),
        QStringLiteral("Are you sure you want to Delete '") + name + QStringLiteral("' ?"),
        MsgButtons::YesNo);
    if (answer != MsgAnswer::Yes)
        return;
    list.RemoveItem(old);
    list.SetListIndex(list.ListCount() - 1 >= old ? old : old - 1);
}

void PositionsFrame::cmdGoto_Click() {
    const SavedPositionList& list = console_.positions;
    if (list.ListIndex() < 0)
        return;
    // Taken at the click: a STOP handled while events are pumped below cancels this move.
    const quint64 stopCount = console_.link.StopCount();
    console_.EnableMotionControls(false);
    const int target = list.ItemData(list.ListIndex());
    // A dialog opened from the pump would keep the goto from starting until it closed.
    const InputGate::Scope starting(console_.inputGate);
    console_.platform.pumpEvents();
    console_.device.BeginGoto(target, stopCount);
}

void PositionsFrame::lstPosition_DblClick() {
    if (cmdGoto->isEnabled())
        cmdGoto_Click();
}

} // namespace tarnivel
