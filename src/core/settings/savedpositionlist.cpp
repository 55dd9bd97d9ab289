#include "core/settings/savedpositionlist.h"

#include <algorithm>
#include <vector>

namespace tarnivel {

namespace {

bool RowLess(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
}

} // namespace

SavedPositionList::SavedPositionList(QObject* parent) : QAbstractListModel(parent) {}

int SavedPositionList::AddItem(const QString& text, int itemData) {
    // After the rows that compare equal, as a sorted list box places a new row.
    const auto it =
        std::upper_bound(rows_.cbegin(), rows_.cend(), text,
                         [](const QString& t, const Row& r) { return RowLess(t, r.text); });
    const int index = static_cast<int>(it - rows_.cbegin());
    beginInsertRows(QModelIndex(), index, index);
    rows_.insert(index, Row{text, itemData});
    endInsertRows();
    newIndex_ = index;
    // The selection stays on the row it was on.
    if (listIndex_ >= index) {
        ++listIndex_;
        Q_EMIT listIndexChanged(listIndex_);
    }
    return index;
}

void SavedPositionList::AddItems(const QList<Entry>& entries) {
    if (entries.isEmpty())
        return;
    struct Key {
        QStringView text;
        qsizetype index;
    };
    std::vector<Key> order;
    order.reserve(static_cast<std::size_t>(entries.size()));
    for (qsizetype k = 0; k < entries.size(); ++k)
        order.push_back({entries.at(k).text, k});
    std::stable_sort(order.begin(), order.end(), [](const Key& a, const Key& b) {
        return a.text.compare(b.text, Qt::CaseInsensitive) < 0;
    });

    const qsizetype lastAdded = entries.size() - 1;
    QList<Row> merged;
    merged.reserve(rows_.size() + entries.size());
    int newListIndex = -1;
    int newIndex = -1;
    qsizetype i = 0;
    std::size_t j = 0;
    auto takeOld = [&]() {
        if (i == listIndex_)
            newListIndex = static_cast<int>(merged.size());
        merged.append(rows_[i++]);
    };
    auto takeNew = [&]() {
        const qsizetype k = order[j++].index;
        if (k == lastAdded)
            newIndex = static_cast<int>(merged.size());
        merged.append(entries[k]);
    };
    while (i < rows_.size() && j < order.size()) {
        // A new row goes after existing rows that compare equal.
        if (RowLess(entries.at(order[j].index).text, rows_.at(i).text))
            takeNew();
        else
            takeOld();
    }
    while (i < rows_.size())
        takeOld();
    while (j < order.size())
        takeNew();

    if (rows_.isEmpty()) {
        beginInsertRows(QModelIndex(), 0, static_cast<int>(merged.size()) - 1);
        rows_ = std::move(merged);
        endInsertRows();
    } else {
        beginResetModel();
        rows_ = std::move(merged);
        endResetModel();
    }
    newIndex_ = newIndex;
    if (newListIndex != listIndex_) {
        listIndex_ = newListIndex;
        Q_EMIT listIndexChanged(listIndex_);
    }
}

void SavedPositionList::RemoveItem(int index) {
    if (index < 0 || index >= ListCount())
        return;
    beginRemoveRows(QModelIndex(), index, index);
    rows_.removeAt(index);
    endRemoveRows();
    // Removing the selected row leaves nothing selected; a row before it shifts it up.
    if (listIndex_ == index) {
        listIndex_ = -1;
        Q_EMIT listIndexChanged(listIndex_);
    } else if (listIndex_ > index) {
        --listIndex_;
        Q_EMIT listIndexChanged(listIndex_);
    }
}

void SavedPositionList::Clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
    newIndex_ = -1;
    if (listIndex_ != -1) {
        listIndex_ = -1;
        Q_EMIT listIndexChanged(listIndex_);
    }
}

QString SavedPositionList::List(int index) const {
    if (index < 0 || index >= ListCount())
        return QString();
    return rows_[index].text;
}

void SavedPositionList::SetList(int index, const QString& text) {
    if (index < 0 || index >= ListCount())
        return;
    rows_[index].text = text;
    const QModelIndex changed = createIndex(index, 0);
    Q_EMIT dataChanged(changed, changed, {Qt::DisplayRole});
}

int SavedPositionList::ItemData(int index) const {
    if (index < 0 || index >= ListCount())
        return 0;
    return rows_[index].itemData;
}

void SavedPositionList::SetItemData(int index, int value) {
    if (index < 0 || index >= ListCount())
        return;
    rows_[index].itemData = value;
    const QModelIndex changed = createIndex(index, 0);
    Q_EMIT dataChanged(changed, changed, {Qt::UserRole});
}

void SavedPositionList::SetListIndex(int index) {
    // Anything that names no row means no selection.
    const int wanted = (index >= 0 && index < ListCount()) ? index : -1;
    if (wanted == listIndex_)
        return;
    listIndex_ = wanted;
    Q_EMIT listIndexChanged(listIndex_);
}

int SavedPositionList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ListCount();
}

QVariant SavedPositionList::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= ListCount())
        return QVariant();
    const Row& row = rows_[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::AccessibleTextRole:
        return row.text;
    case Qt::UserRole:
        return row.itemData;
    default:
        return QVariant();
    }
}

} // namespace tarnivel
