#pragma once

// Frames as the simulated controller logs them ("50 02 12 24 00 00 00 00"), built here from
// their parts and never with the link's own encoder, so a test checks the program against
// what the controller expects rather than against itself.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tarnivel::test {

inline QString HexOf(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// "P", length, address, message id, the data bytes most significant first (unused ones 0),
// reply length.
inline QString Frame(int id, qint64 data, int dataLength = 3, int device = 0x12, int reply = 0) {
    QByteArray bytes{"P"};
    bytes.append(static_cast<char>(dataLength + 1));
    bytes.append(static_cast<char>(device));
    bytes.append(static_cast<char>(id));
    for (int i = 0; i < 3; ++i)
        bytes.append(
            static_cast<char>(i < dataLength ? (data >> (8 * (dataLength - 1 - i))) & 0xFF : 0));
    bytes.append(static_cast<char>(reply));
    return HexOf(bytes);
}

// The frames tests name most.
inline const QString kStopFrame = QStringLiteral("50 02 12 24 00 00 00 00");
inline const QString kGetCalibratedFrame = QStringLiteral("50 02 12 30 40 00 00 01");
inline const QString kFanOnFrame = QStringLiteral("50 02 13 27 03 00 00 00");
inline const QString kFanOffFrame = QStringLiteral("50 02 13 27 00 00 00 00");

// A temperature update (its read of sensor 1) came between two gotos: after one's last slew-done
// query and position reads, before the next one's position read and first leg.
inline bool UpdateBetweenGotos(const QStringList& frames) {
    const int read = frames.indexOf(QStringLiteral("50 02 12 26 00 00 00 02"));
    const QString position = QStringLiteral("50 01 12 01 00 00 00 03");
    return read >= 3 &&
           frames.mid(read - 3, 3) ==
               QStringList{QStringLiteral("50 01 12 13 00 00 00 01"), position, position} &&
           frames.value(read + 4) == position &&
           frames.value(read + 5).startsWith(QStringLiteral("50 04 12 17"));
}

// A temperature update came between two slew-done polls of one move.
inline bool UpdateInsideAMove(const QStringList& frames) {
    const QString poll = QStringLiteral("50 01 12 13 00 00 00 01");
    const int read = frames.indexOf(QStringLiteral("50 02 12 26 00 00 00 02"));
    return read > 0 && frames.mid(0, read).contains(poll) && frames.mid(read).contains(poll);
}

} // namespace tarnivel::test
