#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

namespace tarnivel {

// A focus the operator marked good: the averaged temperature of the compensation sensor
// (Celsius), the signed step count and when. The coefficient is fitted through them.
struct FocusPoint {
    double Celsius = 0;
    int Position = 0;
    QDateTime Time;
    int Sensor = 1; // the sensor whose average Celsius is
    // Marked before a calibration whose shift of the counter is unknown: kept, not fitted.
    bool BeforeCalibration = false;
    bool operator==(const FocusPoint&) const = default;
};

class SavedPositionList;
class SoundPlayer;

// Every setting of the console, in the order the settings file writes them.
struct FocuserSettings {
    int Top = 0;  // twips
    int Left = 0; // twips
    int Device = 18;
    int Device2 = 19;
    int COMport = 0;
    int Frequency = 4;
    double ScaleFactor = 115134.42;
    QString ScaleUnits = QStringLiteral("mm");
    int Decimals = 3;
    int Approach = 1;
    int Overshoot = 30000;
    int SlowSlewSpeed = 4;
    int FastSlewSpeed = 9;
    bool SlewingSound = false;
    bool CompletionSound = false;
    int Degrees = 0;
    QString SensorName1 = QStringLiteral("Primary");
    QString SensorName2 = QStringLiteral("Ambient");
    QString SensorName3 = QStringLiteral("Secondary");
    double SensorLimit1 = 40;
    double SensorLimit2 = 3;
    double SensorLimit3 = 3;
    bool Logging = false;
    // The "Temperatures" window's place and size in twips; a width of 0: never shown yet.
    int PlotTop = 0;
    int PlotLeft = 0;
    int PlotWidth = 0;
    int PlotHeight = 0;
    // Temperature compensation: steps per °C (0: none learned or set, so unavailable), the
    // sensor it follows (1..3), the dead band and the cap in steps, the averaging in seconds.
    double TempCompCoefficient = 0;
    int TempCompSensor = 1;
    int TempCompDeadband = 10;
    int TempCompAverage = 60;
    int TempCompMaxTravel = 2000;
    // Steps past the target of a correction against the approach side: -1 the larger of
    // twice the dead band and 50, 0 the goto's own Overshoot.
    int TempCompOvershoot = -1;
    // The console serves the focuser to Alpaca clients on this TCP port; 0 it does not.
    int AlpacaPort = 0;
    // Written in their own section after the saved positions.
    QList<FocusPoint> FocusPoints;
};

// Position updates per second as the poll cycle and the blocking goto divide by it: the
// loader lets nothing below 1 through, and settings set in memory are held to the same
// rule (below 1 counts as the default 4).
int PositionUpdateFrequency(int frequency);

// What the loader found besides the values.
struct LoadResult {
    bool fileExisted = false;
    // The file exists but could not be read: the caller must not overwrite it at exit
    // and tells the operator once.
    bool unreadable = false;
};

// Sizes in twips used for the Top/Left defaults (the window is centred on the screen).
struct WindowGeometryTwips {
    double screenWidth = 0;
    double screenHeight = 0;
    double windowWidth = 0;
    double windowHeight = 0;
};

LoadResult LoadSettings(const QString& path, FocuserSettings& settings,
                        SavedPositionList& positions, const WindowGeometryTwips& geometry);
// Replaces the file atomically; false (and the old file kept) when it cannot be written.
bool SaveSettings(const QString& path, const FocuserSettings& settings,
                  const SavedPositionList& positions);
// Saves, then silences any sound still playing.
bool SaveSettingsOnExit(const QString& path, const FocuserSettings& settings,
                        const SavedPositionList& positions, SoundPlayer& sound);
// The same, except that a file found unreadable at load is left alone (the sound is still
// silenced): writing it would replace settings the program never saw.
bool SaveSettingsOnExit(const QString& path, const FocuserSettings& settings,
                        const SavedPositionList& positions, SoundPlayer& sound,
                        const LoadResult& loaded);
// Turns the value of one "Position" line ("1234,Focus A") into a list row.
void AddSavedPosition(const QString& value, const FocuserSettings& settings,
                      SavedPositionList& positions);

// The number at the start of a settings value: blanks skipped, "." as decimal point, an
// optional exponent, "&H"/"&O" for hexadecimal/octal; 0 when the text starts otherwise.
double LeadingNumber(const QString& text);
// A real as the settings file holds it: the shortest text that reads back as the same value
// (at most 15 significant digits), "." as decimal point whatever the regional settings;
// plain digits from 0.0001 up to below 1E+15 in magnitude, "1.5E-05" / "1E+15" beyond.
QString FormatSettingsReal(double value);

} // namespace tarnivel
