#pragma once

#include <QObject>

class TestFrmOptions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void controls_data();
    void controls();
    void tabOrderAndTips();
    void displayFillsControls();
    void listPositions_data();
    void listPositions();
    void unitConversion_data();
    void unitConversion();
    void unitChangeAfterBadTextConvertsFromLastUnit();
    void unknownStoredUnitConvertsToZero();
    void scaleFactorValidation_data();
    void scaleFactorValidation();
    void alpacaPort();
    void okTakesEveryValue();
    void cancelChangesNothing_data();
    void cancelChangesNothing();
    void openingSendsNoSetCommand_data();
    void openingSendsNoSetCommand();
    void limitsBoxSendsOnlyWhenEnabled();
    void limitsBoxShowsWhatIsEnforced_data();
    void limitsBoxShowsWhatIsEnforced();
    void limitsBoxTickedOnTooShortATravel();
    void limitsBoxSilentBehindDisabledFrame();
    void autoStopBoxSendsOnlyWhenEnabled();
    void quickCalibrateOffered_data();
    void quickCalibrateOffered();
    void stateReport();
    void stateReportOfSilentController();
    void resetRefusedWhenUncalibrated();
    void resetDeclined();
    void resetNewLimits_data();
    void resetNewLimits();
    void resetTwiceKeepsLimitsOnEndStops();
    void resetWithUnreadableLimitsChangesNothing();
    void escIgnoredDuringReset();
    void settingsSurviveRestart();
};

class TestCalibration : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fullCalibration_data();
    void fullCalibration();
    void fullCalibrationSounds();
    void quickCalibration_data();
    void quickCalibration();
    void quickAfterResetStoresCentredLimits();
    void cancel_data();
    void cancel();
    void cancelInsideACommand_data();
    void cancelInsideACommand();
    void rightEdgeRearm_data();
    void rightEdgeRearm();
    void silentFocuserFails_data();
    void silentFocuserFails();
    void unreadableStoredTravelFails();
    void unconfirmedCompletionWriteFails_data();
    void unconfirmedCompletionWriteFails();
    void noTravelFails();
    void escAndCloseCancelWhileRunning_data();
    void escAndCloseCancelWhileRunning();
    void quickCancelBeforeTheCounterKeepsTheCalibration();
};
