#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace tarnivel {

class SerialPort;
class Platform;

// Protocol constants of the pass-through frame.
inline constexpr int kCharPacingMs = 11;   // sleep after every character sent and before every poll
inline constexpr int kReceiveLimit = 3500; // ReceiveChar limit used by SendCommand (35 polls)
inline constexpr int kPollCredit = 100;    // what one empty poll counts against the limit
inline constexpr int kMaxAttempts = 2;
inline constexpr char kFrameMarker = 'P';
inline constexpr char kTerminator = '#';
inline constexpr int kFrameLength = 8;

// The only road to the focuser controller: one 8-byte frame out, reply bytes and '#' back,
// paced 11 ms per character, tried at most twice.
class FocuserLink {
public:
    FocuserLink(SerialPort& port, Platform& platform);

    bool LinkOpen() const { return linkOpen_; }
    void SetLinkOpen(bool open) { linkOpen_ = open; }

    // 0 on success, -1 on failure. value receives the decoded reply only on success with
    // nReply >= 1; otherwise it keeps the caller's preset.
    int SendCommand(int device, int messageId, qint32 data, int nData, int nReply, qint32& value);
    int Transact(const QByteArray& frame, QByteArray& reply, int count, int limit);
    void SendText(const QByteArray& text);
    int ReceiveChar(char& out, int limit);
    void PumpEvents();

    static QByteArray CommandFrame(int device, int messageId, qint32 data, int nData, int nReply);

    SerialPort& port() { return port_; }
    Platform& platform() { return platform_; }

private:
    SerialPort& port_;
    Platform& platform_;
    bool linkOpen_ = false;
};

} // namespace tarnivel
