#include "platform/qt/qtsoundplayer.h"

#include <QSoundEffect>
#include <QUrl>

namespace tarnivel {

QtSoundPlayer::QtSoundPlayer(QObject* parent) : QObject(parent) {}

QtSoundPlayer::~QtSoundPlayer() = default;

QSoundEffect* QtSoundPlayer::effect(const QString& upperName) {
    // Created on first use: the audio backend costs start-up time that a session
    // without sounds never needs to pay.
    auto make = [this](const char* file) {
        auto* e = new QSoundEffect(this);
        e->setSource(QUrl(QStringLiteral("qrc:/sounds/%1").arg(QLatin1String(file))));
        return e;
    };
    if (upperName == QLatin1String("BEGSLEW")) {
        if (!begSlew_)
            begSlew_ = make("begslew.wav");
        return begSlew_;
    }
    if (upperName == QLatin1String("ENDSLEW")) {
        if (!endSlew_)
            endSlew_ = make("endslew.wav");
        return endSlew_;
    }
    return nullptr;
}

void QtSoundPlayer::play(const QString& name, bool loop) {
    stop();
    QSoundEffect* e = effect(name.trimmed().toUpper());
    if (!e)
        return;
    e->setLoopCount(loop ? QSoundEffect::Infinite : 1);
    e->play();
}

void QtSoundPlayer::stop() {
    if (begSlew_)
        begSlew_->stop();
    if (endSlew_)
        endSlew_->stop();
}

} // namespace tarnivel
