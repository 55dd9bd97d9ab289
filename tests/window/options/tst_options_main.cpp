#include "tst_options.h"

#include <QApplication>
#include <QtTest>

// The dialog and its calibrations are one room: one executable runs both sets.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    int failed = 0;
    {
        TestFrmOptions t;
        failed += QTest::qExec(&t, argc, argv);
    }
    {
        TestCalibration t;
        failed += QTest::qExec(&t, argc, argv);
    }
    return failed;
}
