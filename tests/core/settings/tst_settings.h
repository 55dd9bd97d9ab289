#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

class TestSettings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    // INI document
    void parseLine_data();
    void parseLine();
    void loadFile_data();
    void loadFile();
    void loadMissingFileEmptiesTheDocument();
    void loadDirectoryIsUnreadable();
    void loadUnreadableFile();
    void saveFile_data();
    void saveFile();
    void saveEmptyDocumentEmptiesTheFile();
    void saveFailureKeepsTheOldFile();
    void saveIntoMissingFolderFails();
    void savedDocumentReadsBack();
    void linesCollection();

    // Settings file
    void defaultsWithoutFile_data();
    void defaultsWithoutFile();
    void fileLayoutIsExact();
    void roundTrip();
    void roundTripInProgramFolder();
    void valueConversion_data();
    void valueConversion();
    void leadingNumber_data();
    void leadingNumber();
    void formatSettingsReal_data();
    void formatSettingsReal();
    void duplicateKeysTakeTheLastValue();
    void keysUnderTheWrongSectionAreIgnored();
    void fileWithNeitherSectionGivesDefaults();
    void positionValues_data();
    void positionValues();
    void positionsWithCommasRoundTrip();
    void longNamesAreCutToTwenty();
    void positionsFormatWithDecimalsOfTheirHeader_data();
    void positionsFormatWithDecimalsOfTheirHeader();
    void loadReplacesEarlierPositions();
    void lfOnlyFileLoadsAndSavesCrLf();
    void latin1FileLoadsAndSavesUtf8();
    void unreadableFileIsNotOverwrittenAtExit();
    void saveOnExitSilencesTheSound();
    void saveFailureKeepsOldSettings();
    void commaLocaleKeepsPointInFile();
    void manyPositionsLoadSorted();

    // Saved-positions list
    void sortedInsert_data();
    void sortedInsert();
    void equalRowsGoAfter();
    void selectionFollowsItsRow();
    void setListIndex_data();
    void setListIndex();
    void modelSignals();
    void modelData();
    void outOfRangeAccess();
    void addItemsMatchesOneByOne_data();
    void addItemsMatchesOneByOne();

private:
    QString path(const QString& name) const;
    static void writeBytes(const QString& path, const QByteArray& bytes);
    static QByteArray readBytes(const QString& path);

    QTemporaryDir* dir_ = nullptr;
};
