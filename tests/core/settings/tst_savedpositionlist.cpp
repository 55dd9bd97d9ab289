#include "core/settings/savedpositionlist.h"
#include "tst_settings.h"

#include <QSignalSpy>
#include <QtTest>

using namespace tarnivel;

namespace {

QStringList Texts(const SavedPositionList& list) {
    QStringList out;
    for (int i = 0; i < list.ListCount(); ++i)
        out << list.List(i);
    return out;
}

QList<int> Data(const SavedPositionList& list) {
    QList<int> out;
    for (int i = 0; i < list.ListCount(); ++i)
        out << list.ItemData(i);
    return out;
}

// Deterministic names with many case-only and exact duplicates.
QStringList Generated(int count, quint32 seed) {
    QStringList out;
    quint32 x = seed;
    for (int i = 0; i < count; ++i) {
        x = x * 1664525u + 1013904223u;
        QString name = QString(QChar(u'a' + (x >> 24) % 4)) + QString::number((x >> 16) % 6);
        if ((x >> 8) & 1)
            name[0] = name[0].toUpper();
        out << name;
    }
    return out;
}

} // namespace

void TestSettings::sortedInsert_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<int>>("newIndexes");
    QTest::newRow("alpha Beta gamma")
        << QStringList{"alpha", "Beta", "gamma"} << QList<int>{0, 1, 2};
    QTest::newRow("alpha gamma Beta")
        << QStringList{"alpha", "gamma", "Beta"} << QList<int>{0, 1, 1};
    QTest::newRow("Beta alpha gamma")
        << QStringList{"Beta", "alpha", "gamma"} << QList<int>{0, 0, 2};
    QTest::newRow("Beta gamma alpha")
        << QStringList{"Beta", "gamma", "alpha"} << QList<int>{0, 1, 0};
    QTest::newRow("gamma alpha Beta")
        << QStringList{"gamma", "alpha", "Beta"} << QList<int>{0, 0, 1};
    QTest::newRow("gamma Beta alpha")
        << QStringList{"gamma", "Beta", "alpha"} << QList<int>{0, 0, 0};
}

void TestSettings::sortedInsert() {
    QFETCH(QStringList, names);
    QFETCH(QList<int>, newIndexes);
    SavedPositionList list;
    QCOMPARE(list.NewIndex(), -1);
    for (int i = 0; i < names.size(); ++i) {
        QCOMPARE(list.AddItem(names[i], i), newIndexes[i]);
        QCOMPARE(list.NewIndex(), newIndexes[i]);
        QCOMPARE(list.List(list.NewIndex()), names[i]);
        QCOMPARE(list.ItemData(list.NewIndex()), i);
    }
    QCOMPARE(Texts(list), (QStringList{"alpha", "Beta", "gamma"}));
    QCOMPARE(list.ListCount(), 3);
}

void TestSettings::equalRowsGoAfter() {
    SavedPositionList list;
    QCOMPARE(list.AddItem("abc", 1), 0);
    QCOMPARE(list.AddItem("ABC", 2), 1);
    QCOMPARE(list.AddItem("Abc", 3), 2);
    QCOMPARE(list.AddItem("ab", 4), 0);
    QCOMPARE(list.AddItem("abd", 5), 4);
    QCOMPARE(Data(list), (QList<int>{4, 1, 2, 3, 5}));
}

void TestSettings::selectionFollowsItsRow() {
    SavedPositionList list;
    QSignalSpy spy(&list, &SavedPositionList::listIndexChanged);
    list.AddItem("b", 2);
    QCOMPARE(list.ListIndex(), -1);
    QCOMPARE(spy.count(), 0);
    list.SetListIndex(0);
    QCOMPARE(spy.takeFirst().at(0).toInt(), 0);

    list.AddItem("a", 1); // before the selected row
    QCOMPARE(list.ListIndex(), 1);
    QCOMPARE(list.ItemData(list.ListIndex()), 2);
    QCOMPARE(spy.takeFirst().at(0).toInt(), 1);
    list.AddItem("c", 3); // after it
    QCOMPARE(list.ListIndex(), 1);
    QCOMPARE(spy.count(), 0);

    list.RemoveItem(0); // before it
    QCOMPARE(list.ListIndex(), 0);
    QCOMPARE(list.ItemData(0), 2);
    QCOMPARE(spy.takeFirst().at(0).toInt(), 0);
    list.RemoveItem(1); // after it
    QCOMPARE(list.ListIndex(), 0);
    QCOMPARE(spy.count(), 0);
    list.RemoveItem(0); // the selected row itself
    QCOMPARE(list.ListIndex(), -1);
    QCOMPARE(list.ListCount(), 0);
    QCOMPARE(spy.takeFirst().at(0).toInt(), -1);

    list.AddItem("x", 9);
    list.SetListIndex(0);
    spy.clear();
    list.Clear();
    QCOMPARE(list.ListIndex(), -1);
    QCOMPARE(list.ListCount(), 0);
    QCOMPARE(list.NewIndex(), -1);
    QCOMPARE(spy.count(), 1);
}

void TestSettings::setListIndex_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("signalled");
    QTest::newRow("select first") << -1 << 0 << 0 << true;
    QTest::newRow("select last") << 0 << 2 << 2 << true;
    QTest::newRow("deselect") << 1 << -1 << -1 << true;
    QTest::newRow("same row again") << 1 << 1 << 1 << false;
    QTest::newRow("past the end is none") << 1 << 3 << -1 << true;
    QTest::newRow("below -1 is none") << 1 << -5 << -1 << true;
    QTest::newRow("none to none") << -1 << 7 << -1 << false;
}

void TestSettings::setListIndex() {
    QFETCH(int, start);
    QFETCH(int, index);
    QFETCH(int, expected);
    QFETCH(bool, signalled);
    SavedPositionList list;
    list.AddItem("a");
    list.AddItem("b");
    list.AddItem("c");
    list.SetListIndex(start);
    QSignalSpy spy(&list, &SavedPositionList::listIndexChanged);
    list.SetListIndex(index);
    QCOMPARE(list.ListIndex(), expected);
    QCOMPARE(spy.count(), signalled ? 1 : 0);
    if (signalled)
        QCOMPARE(spy.at(0).at(0).toInt(), expected);
}

void TestSettings::modelSignals() {
    SavedPositionList list;
    QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&list, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&list, &QAbstractItemModel::modelReset);

    list.AddItem("m", 1);
    list.AddItem("c", 2);
    QCOMPARE(inserted.count(), 2);
    QCOMPARE(inserted.at(1).at(1).toInt(), 0);
    QCOMPARE(inserted.at(1).at(2).toInt(), 0);

    // Rewriting a row keeps it in place even when the new text would sort elsewhere.
    list.SetList(0, "zzz");
    QCOMPARE(list.List(0), QString("zzz"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).value<QModelIndex>().row(), 0);
    list.SetItemData(1, 77);
    QCOMPARE(list.ItemData(1), 77);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed.at(1).at(0).value<QModelIndex>().row(), 1);

    list.RemoveItem(1);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.at(0).at(1).toInt(), 1);

    list.Clear();
    QCOMPARE(reset.count(), 1);

    inserted.clear();
    list.AddItems({{"b", 1}, {"a", 2}});
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 0);
    QCOMPARE(inserted.at(0).at(2).toInt(), 1);
    list.AddItems({{"c", 3}});
    QCOMPARE(reset.count(), 2);
    QCOMPARE(Texts(list), (QStringList{"a", "b", "c"}));
    list.AddItems({});
    QCOMPARE(reset.count(), 2);
    QCOMPARE(list.NewIndex(), 2);
}

void TestSettings::modelData() {
    SavedPositionList list;
    list.AddItem("row b", 20);
    list.AddItem("row a", 10);
    QCOMPARE(list.rowCount(), 2);
    QCOMPARE(list.rowCount(list.index(0)), 0);
    QCOMPARE(list.data(list.index(0), Qt::DisplayRole).toString(), QString("row a"));
    QCOMPARE(list.data(list.index(1), Qt::DisplayRole).toString(), QString("row b"));
    QCOMPARE(list.data(list.index(0), Qt::UserRole).toInt(), 10);
    QCOMPARE(list.data(list.index(1), Qt::UserRole).toInt(), 20);
    QVERIFY(!list.data(list.index(0), Qt::DecorationRole).isValid());
    QVERIFY(!list.data(QModelIndex(), Qt::DisplayRole).isValid());
    QVERIFY(!list.data(list.index(5), Qt::DisplayRole).isValid());
}

void TestSettings::outOfRangeAccess() {
    SavedPositionList list;
    list.AddItem("a", 1);
    QSignalSpy removed(&list, &QAbstractItemModel::rowsRemoved);
    QCOMPARE(list.List(-1), QString());
    QCOMPARE(list.List(1), QString());
    QCOMPARE(list.ItemData(1), 0);
    list.SetList(1, "b");
    list.SetItemData(-1, 5);
    list.RemoveItem(1);
    list.RemoveItem(-1);
    QCOMPARE(removed.count(), 0);
    QCOMPARE(Texts(list), QStringList{"a"});
    QCOMPARE(Data(list), QList<int>{1});
}

void TestSettings::addItemsMatchesOneByOne_data() {
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QStringList>("added");
    QTest::newRow("into empty") << QStringList{} << -1 << QStringList{"b", "A", "a", "B", "a", "c"};
    QTest::newRow("equal to existing")
        << QStringList{"a", "A", "b"} << 1 << QStringList{"A", "a", "B"};
    QTest::newRow("all before the selection")
        << QStringList{"x", "y"} << 0 << QStringList{"c", "b", "a"};
    QTest::newRow("all after") << QStringList{"a", "b"} << 1 << QStringList{"z", "y"};
    QTest::newRow("one row") << QStringList{"a", "c"} << 1 << QStringList{"b"};
    QTest::newRow("last added sorts first") << QStringList{"m"} << -1 << QStringList{"z", "a"};
    QTest::newRow("generated") << Generated(300, 7) << 123 << Generated(400, 11);
    QTest::newRow("generated into empty") << QStringList{} << -1 << Generated(500, 3);
}

void TestSettings::addItemsMatchesOneByOne() {
    QFETCH(QStringList, existing);
    QFETCH(int, selected);
    QFETCH(QStringList, added);
    SavedPositionList one;
    SavedPositionList bulk;
    for (int i = 0; i < existing.size(); ++i) {
        one.AddItem(existing[i], i);
        bulk.AddItem(existing[i], i);
    }
    one.SetListIndex(selected);
    bulk.SetListIndex(selected);

    QList<SavedPositionList::Entry> entries;
    for (int j = 0; j < added.size(); ++j) {
        one.AddItem(added[j], 1000 + j);
        entries.append({added[j], 1000 + j});
    }
    QSignalSpy selection(&bulk, &SavedPositionList::listIndexChanged);
    bulk.AddItems(entries);

    QCOMPARE(Texts(bulk), Texts(one));
    QCOMPARE(Data(bulk), Data(one));
    QCOMPARE(bulk.NewIndex(), one.NewIndex());
    QCOMPARE(bulk.ListIndex(), one.ListIndex());
    QCOMPARE(selection.count(), bulk.ListIndex() == selected ? 0 : 1);
}
