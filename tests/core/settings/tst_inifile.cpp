#include "core/settings/inifile.h"
#include "tst_settings.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <stdexcept>
#include <unistd.h>

using namespace tarnivel;

namespace {

QStringList Dump(const INIfile& doc) {
    QStringList out;
    for (const INIline& line : doc.INIlines())
        out << line.Group + "|" + line.Section + "|" + line.Value;
    return out;
}

QString Spaces(int n) {
    return QString(n, QLatin1Char(' '));
}

} // namespace

void TestSettings::parseLine_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("header in upper case") << "[tarnivel]"
                                          << "[TARNIVEL]"
                                          << "";
    QTest::newRow("blanks around key and value") << "   top = 12 "
                                                 << "TOP"
                                                 << "12";
    QTest::newRow("further = in value") << "name = a=b"
                                        << "NAME"
                                        << "a=b";
    QTest::newRow("tabs count as blanks") << "Top\t=\t5"
                                          << "TOP"
                                          << "5";
    QTest::newRow("header with text after ]") << "[A] ; note"
                                              << "[A] ; NOTE"
                                              << "";
    QTest::newRow("header after blanks") << "  [x]"
                                         << "[X]"
                                         << "";
    QTest::newRow("leading = has no key") << "=5"
                                          << ""
                                          << "5";
    QTest::newRow("no =") << "just text"
                          << ""
                          << "";
    QTest::newRow("no comment syntax") << ";x=1"
                                       << ";X"
                                       << "1";
    QTest::newRow("empty") << ""
                           << ""
                           << "";
    QTest::newRow("blanks only") << "  \t "
                                 << ""
                                 << "";
    QTest::newRow("empty value") << "Key="
                                 << "KEY"
                                 << "";
    QTest::newRow("value keeps case and inner blanks") << "Units = Mm  x "
                                                       << "UNITS"
                                                       << "Mm  x";
    QTest::newRow("key keeps inner blank") << "a b = c"
                                           << "A B"
                                           << "c";
    QTest::newRow("stray CR is a blank") << "k=v\r"
                                         << "K"
                                         << "v";
}

void TestSettings::parseLine() {
    QFETCH(QString, line);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QString k = "junk";
    QString v = "junk";
    INIfile::ParseLine(line, k, v);
    QCOMPARE(k, key);
    QCOMPARE(v, value);
}

void TestSettings::loadFile_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    const QStringList basic = {"[TARNIVEL]|[TARNIVEL]|", "[TARNIVEL]|TOP|12",
                               "[TARNIVEL]|NAME|a=b"};
    QTest::newRow("CR LF") << QByteArray("[tarnivel]\r\n   top = 12 \r\nname = a=b\r\n") << basic;
    QTest::newRow("LF alone") << QByteArray("[tarnivel]\n   top = 12 \nname = a=b\n") << basic;
    QTest::newRow("CR alone") << QByteArray("[tarnivel]\r   top = 12 \rname = a=b\r") << basic;
    QTest::newRow("last line without end")
        << QByteArray("[tarnivel]\r\n   top = 12 \r\nname = a=b") << basic;
    QTest::newRow("mixed ends") << QByteArray("[tarnivel]\n   top = 12 \r\nname = a=b\r") << basic;
    QTest::newRow("key before any header")
        << QByteArray("a=1\r\n[X]\r\nb=2\r\n") << QStringList{"|A|1", "[X]|[X]|", "[X]|B|2"};
    QTest::newRow("dropped lines") << QByteArray("\r\n[S]\r\n\r\nno equals\r\n=5\r\n   \r\nk=v\r\n")
                                   << QStringList{"[S]|[S]|", "[S]|K|v"};
    QTest::newRow("CR CR LF is a blank line between")
        << QByteArray("[S]\r\r\nk=v\r\n") << QStringList{"[S]|[S]|", "[S]|K|v"};
    QTest::newRow("header with note") << QByteArray("[A] ; note\r\nk=v\r\n")
                                      << QStringList{"[A] ; NOTE|[A] ; NOTE|", "[A] ; NOTE|K|v"};
    QTest::newRow("second header") << QByteArray("[A]\r\nk=1\r\n[b]\r\nk=2\r\n")
                                   << QStringList{"[A]|[A]|", "[A]|K|1", "[B]|[B]|", "[B]|K|2"};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("no line end at all") << QByteArray("k=v") << QStringList{"|K|v"};
    QTest::newRow("UTF-8") << QByteArray("[P]\r\nName=Caf\xc3\xa9 \xc3\xb6\r\n")
                           << QStringList{"[P]|[P]|",
                                          QString::fromUtf8("[P]|NAME|Caf\u00e9 \u00f6")};
    QTest::newRow("Latin-1") << QByteArray("[P]\r\nName=Caf\xe9 \xf6\r\n")
                             << QStringList{"[P]|[P]|",
                                            QString::fromUtf8("[P]|NAME|Caf\u00e9 \u00f6")};
    QTest::newRow("UTF-8 byte-order mark")
        << QByteArray("\xef\xbb\xbf[A]\r\nk=v\r\n") << QStringList{"[A]|[A]|", "[A]|K|v"};
    QTest::newRow("UTF-8 mark before a Latin-1 byte")
        << QByteArray("\xef\xbb\xbf[A]\r\nName=Caf\xe9\r\n")
        << QStringList{"[A]|[A]|", QString::fromUtf8("[A]|NAME|Caf\u00e9")};
    QTest::newRow("UTF-16 LE mark") << QByteArray("\xff\xfe[\0A\0]\0\r\0\n\0k\0=\0\xe9\0", 18)
                                    << QStringList{"[A]|[A]|", QString::fromUtf8("[A]|K|\u00e9")};
    QTest::newRow("UTF-16 half a pair reads as the replacement character")
        << QByteArray("\xfe\xff\0k\0=\xdf\xc4\0x", 10)
        << QStringList{QString::fromUtf8("|K|\ufffdx")};
}

void TestSettings::loadFile() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    const QString file = path("doc.ini");
    writeBytes(file, bytes);
    INIfile doc;
    doc.INIlines().Add("[OLD]", "OLD", "1");
    QCOMPARE(doc.LoadFile(file), INIfile::LoadStatus::Loaded);
    QCOMPARE(Dump(doc), lines);
    QCOMPARE(doc.INIlines().Count(), lines.size());
}

void TestSettings::loadMissingFileEmptiesTheDocument() {
    const QString file = path("doc.ini");
    writeBytes(file, "[A]\r\nk=v\r\n");
    INIfile doc;
    QCOMPARE(doc.LoadFile(file), INIfile::LoadStatus::Loaded);
    QCOMPARE(doc.INIlines().Count(), 2);
    QCOMPARE(doc.LoadFile(path("missing.ini")), INIfile::LoadStatus::Missing);
    QCOMPARE(doc.INIlines().Count(), 0);
}

void TestSettings::loadDirectoryIsUnreadable() {
    const QString folder = path("folder.ini");
    QVERIFY(QDir().mkpath(folder));
    INIfile doc;
    doc.INIlines().Add("[A]", "K", "v");
    QCOMPARE(doc.LoadFile(folder), INIfile::LoadStatus::Unreadable);
    QCOMPARE(doc.INIlines().Count(), 0);
}

void TestSettings::loadUnreadableFile() {
    if (geteuid() == 0)
        QSKIP("permissions do not stop root from reading");
    const QString file = path("locked.ini");
    writeBytes(file, "[A]\r\nk=v\r\n");
    QVERIFY(QFile::setPermissions(file, QFileDevice::Permissions()));
    INIfile doc;
    QCOMPARE(doc.LoadFile(file), INIfile::LoadStatus::Unreadable);
    QCOMPARE(doc.INIlines().Count(), 0);
}

void TestSettings::saveFile_data() {
    QTest::addColumn<QStringList>("lines"); // group|section|value
    QTest::addColumn<int>("equalPos");
    QTest::addColumn<int>("leadingSpaces");
    QTest::addColumn<bool>("ucase");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("Top at column 25") << QStringList{"[TARNIVEL]|Top|100"} << 25 << 3 << false
                                      << ("   Top" + Spaces(18) + "= 100\r\n").toLatin1();
    QTest::newRow("default layout column 17") << QStringList{"[A]|Key|v"} << 17 << 3 << false
                                              << ("   Key" + Spaces(10) + "= v\r\n").toLatin1();
    QTest::newRow("key exactly filling the column")
        << QStringList{"[A]|Keyy|v"} << 8 << 3 << false << QByteArray("   Keyy= v\r\n");
    QTest::newRow("key longer than the column")
        << QStringList{"[A]|Longkey|v"} << 5 << 3 << false << QByteArray("   Longkey= v\r\n");
    QTest::newRow("empty value has no trailing blank")
        << QStringList{"[A]|Key|"} << 10 << 3 << false << QByteArray("   Key   =\r\n");
    QTest::newRow("header from group alone")
        << QStringList{"[positions]||"} << 25 << 3 << false << QByteArray("[POSITIONS]\r\n");
    QTest::newRow("blank line") << QStringList{"||"} << 25 << 3 << false << QByteArray("\r\n");
    QTest::newRow("upper-case keys")
        << QStringList{"[A]|Key|Val"} << 8 << 3 << true << QByteArray("   KEY = Val\r\n");
    QTest::newRow("no leading spaces")
        << QStringList{"[A]|Key|v"} << 6 << 0 << false << QByteArray("Key  = v\r\n");
    QTest::newRow("header text in Section is a key line")
        << QStringList{"[A]|[A]|"} << 8 << 3 << false << QByteArray("   [A] =\r\n");
    QTest::newRow("fields trimmed")
        << QStringList{" [a] | k | v "} << 6 << 3 << false << QByteArray("   k = v\r\n");
    QTest::newRow("value only is a header line of its group")
        << QStringList{"[a]||v"} << 6 << 3 << false << QByteArray("[A]\r\n");
    QTest::newRow("UTF-8 out") << QStringList{QString::fromUtf8("[A]|Name|Caf\u00e9")} << 6 << 3
                               << false << QByteArray("   Name= Caf\xc3\xa9\r\n");
    QTest::newRow("absurd layout is bounded")
        << QStringList{"[A]|K|v"} << -5 << -7 << false << QByteArray("K= v\r\n");
    QTest::newRow("whole document")
        << QStringList{"[A]||", "[A]|One|1", "||", "[B]||", "[B]|Two|2"} << 8 << 3 << false
        << QByteArray("[A]\r\n   One = 1\r\n\r\n[B]\r\n   Two = 2\r\n");
}

void TestSettings::saveFile() {
    QFETCH(QStringList, lines);
    QFETCH(int, equalPos);
    QFETCH(int, leadingSpaces);
    QFETCH(bool, ucase);
    QFETCH(QByteArray, expected);
    INIfile doc;
    doc.EqualPos = equalPos;
    doc.LeadingSpaces = leadingSpaces;
    doc.UcaseSection = ucase;
    for (const QString& l : lines) {
        const QStringList f = l.split('|');
        doc.INIlines().Add(f[0], f[1], f[2]);
    }
    const QString file = path("out.ini");
    QVERIFY(doc.SaveFile(file));
    QCOMPARE(readBytes(file), expected);
}

void TestSettings::saveEmptyDocumentEmptiesTheFile() {
    const QString file = path("out.ini");
    writeBytes(file, "[A]\r\nk=v\r\n");
    INIfile doc;
    QVERIFY(doc.SaveFile(file));
    QVERIFY(QFile::exists(file));
    QCOMPARE(readBytes(file), QByteArray());
}

void TestSettings::saveFailureKeepsTheOldFile() {
    // The replacement is written under a longer temporary name beside the file; a name at
    // the file system's limit leaves no room for it, so the save fails even for root.
    const QString file = path(QString(255, QLatin1Char('s')));
    writeBytes(file, "[OLD]\r\n");
    INIfile doc;
    doc.INIlines().Add("[NEW]", "", "");
    QVERIFY(!doc.SaveFile(file));
    QCOMPARE(readBytes(file), QByteArray("[OLD]\r\n"));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

    if (geteuid() != 0) {
        const QString folder = path("ro");
        QVERIFY(QDir().mkpath(folder));
        const QString locked = folder + "/s.ini";
        writeBytes(locked, "[OLD]\r\n");
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QVERIFY(!doc.SaveFile(locked));
        QCOMPARE(readBytes(locked), QByteArray("[OLD]\r\n"));
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
    }
}

void TestSettings::saveIntoMissingFolderFails() {
    INIfile doc;
    doc.INIlines().Add("[A]", "", "");
    QVERIFY(!doc.SaveFile(path("no/such/folder/s.ini")));
    QVERIFY(!QFile::exists(path("no")));
}

void TestSettings::savedDocumentReadsBack() {
    INIfile doc;
    doc.EqualPos = 25;
    doc.INIlines().Add("[TARNIVEL]", "", "");
    doc.INIlines().Add("[TARNIVEL]", "ScaleUnits", "Mm");
    doc.INIlines().Add("[TARNIVEL]", "Empty", "");
    doc.INIlines().Add("", "", "");
    doc.INIlines().Add("[POSITIONS]", "", "");
    doc.INIlines().Add("[POSITIONS]", "Position", QString::fromUtf8("12,Caf\u00e9, a=b"));
    const QString file = path("rt.ini");
    QVERIFY(doc.SaveFile(file));
    INIfile back;
    QCOMPARE(back.LoadFile(file), INIfile::LoadStatus::Loaded);
    QCOMPARE(Dump(back),
             (QStringList{"[TARNIVEL]|[TARNIVEL]|", "[TARNIVEL]|SCALEUNITS|Mm", "[TARNIVEL]|EMPTY|",
                          "[POSITIONS]|[POSITIONS]|",
                          QString::fromUtf8("[POSITIONS]|POSITION|12,Caf\u00e9, a=b")}));
}

void TestSettings::linesCollection() {
    INIlines lines;
    QCOMPARE(lines.Count(), 0);
    INIline& first = lines.Add("[A]", "K1", "1");
    lines.Add("[A]", "K2", "2");
    lines.Add("[A]", "K3", "3");
    QCOMPARE(lines.Count(), 3);
    QCOMPARE(&lines.Item(1), &first);
    QCOMPARE(lines.Item(3).Section, QString("K3"));
    lines.Item(2).Value = "changed";
    QCOMPARE(lines.Item(2).Value, QString("changed"));

    lines.Remove(1);
    QCOMPARE(lines.Count(), 2);
    QCOMPARE(lines.Item(1).Section, QString("K2"));
    QCOMPARE(lines.Item(2).Section, QString("K3"));

    QVERIFY_THROWS_EXCEPTION(std::out_of_range, lines.Item(0));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, lines.Item(3));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, lines.Remove(-1));

    QStringList seen;
    for (const INIline& line : std::as_const(lines))
        seen << line.Section;
    QCOMPARE(seen, (QStringList{"K2", "K3"}));

    // A copy owns its own lines; the document can take a whole collection.
    INIlines copy = lines;
    copy.Item(1).Value = "copy";
    QCOMPARE(lines.Item(1).Value, QString("changed"));
    INIfile doc;
    doc.SetINIlines(copy);
    QCOMPARE(doc.INIlines().Count(), 2);
    QCOMPARE(doc.INIlines().Item(1).Value, QString("copy"));

    lines.Clear();
    QCOMPARE(lines.Count(), 0);
    QVERIFY(lines.begin() == lines.end());
}
