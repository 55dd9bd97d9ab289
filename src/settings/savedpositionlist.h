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

    // QAbstractListModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

Q_SIGNALS:
    void listIndexChanged(int index);

private:
    struct Row {
        QString text;
        int itemData = 0;
    };
    QList<Row> rows_;
    int newIndex_ = -1;
    int listIndex_ = -1;
};

} // namespace tarnivel
