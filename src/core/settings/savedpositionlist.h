#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QString>

namespace tarnivel {

// The saved positions as the main window's sorted list box holds them: 30-character row
// texts kept in ascending order ignoring case, each with its raw position as item data,
// and one selected row (ListIndex, -1 for none). Views show it through the model API.
class SavedPositionList : public QAbstractListModel {
    Q_OBJECT
public:
    explicit SavedPositionList(QObject* parent = nullptr);

    // Inserts at the sorted place (after rows that compare equal) and returns NewIndex.
    int AddItem(const QString& text, int itemData = 0);
    int NewIndex() const { return newIndex_; }
    struct Entry {
        QString text;
        int itemData = 0;
    };
    // Adds many rows in one go: the same order, NewIndex and ListIndex as adding them one by
    // one with AddItem, without the quadratic cost (a settings file may hold many rows).
    void AddItems(const QList<Entry>& entries);
    void RemoveItem(int index);
    void Clear();
    int ListCount() const { return static_cast<int>(rows_.size()); }
    QString List(int index) const;
    // Rewrites a row's text in place; the row does not move.
    void SetList(int index, const QString& text);
    int ItemData(int index) const;
    void SetItemData(int index, int value);
    int ListIndex() const { return listIndex_; }
    void SetListIndex(int index);

    // QAbstractListModel: the row text as Qt::DisplayRole, the item data as Qt::UserRole.
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

Q_SIGNALS:
    void listIndexChanged(int index);

private:
    using Row = Entry;
    QList<Row> rows_;
    int newIndex_ = -1;
    int listIndex_ = -1;
};

} // namespace tarnivel
