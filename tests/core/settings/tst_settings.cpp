#include "tst_settings.h"

#include <QFile>
#include <QLocale>
#include <QtTest>

void TestSettings::init() {
    QLocale::setDefault(QLocale::c());
    dir_ = new QTemporaryDir();
    QVERIFY(dir_->isValid());
}

void TestSettings::cleanup() {
    QLocale::setDefault(QLocale::c());
    delete dir_;
    dir_ = nullptr;
}

QString TestSettings::path(const QString& name) const {
    return dir_->filePath(name);
}

void TestSettings::writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray TestSettings::readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

QTEST_GUILESS_MAIN(TestSettings)
