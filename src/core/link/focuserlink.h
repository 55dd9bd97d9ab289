#pragma once

#include "core/seams/sequence.h"

#include <QByteArray>
#include <QtGlobal>
#include <functional>

namespace tarnivel {

class SerialPort;

// Protocol constants of the pass-through frame.
inline constexpr int kCharPacingMs = 11;   // sleep after every character sent and before every poll
inline constexpr int kReceiveLimit = 3500; // ReceiveChar limit used by SendCommand (35 polls)
inline constexpr int kPollCredit = 100;    // what one empty poll counts against the limit
inline constexpr int kMaxAttempts = 2;
inline constexpr char kFrameMarker = 'P';
inline constexpr char kTerminator = '#';
inline constexpr int kFrameLength = 8;
// After an attempt that failed, a late answer may still be on its way: the line must stay
// quiet this long before the next frame goes out. It covers an answer up to about 600 ms
// behind its frame, the whole of the longest reply included.
inline constexpr int kQuietGapMs = 20 * kCharPacingMs;
// However busy the line, the wait for quiet ends after this long.
inline constexpr int kSettleLimitMs = kReceiveLimit / kPollCredit * kCharPacingMs;

// What a frame does to the focuser, for the rules of the waits: a command's wait pumps
// events, and the only handler that may put a frame on the wire there is a stop.
enum class Traffic {
    Ordinary, // reads, settings, a rate of 0 that is no operator's stop
    Motion,   // sets the motor going: never sent again once a stop has cut into it
    Stop,     // an operator's stop: sent at once, even inside another command's wait
};

// The only road to the focuser controller: one 8-byte frame out, reply bytes and '#' back,
// paced 11 ms per character, tried at most twice.
class FocuserLink {
public:
    FocuserLink(SerialPort& port, Platform& platform);

    bool LinkOpen() const { return linkOpen_; }
    void SetLinkOpen(bool open) { linkOpen_ = open; }
    // A front end whose requests wait in its event loop while a command runs: when one is
    // waiting, a failed attempt is not tried again (a stop excepted), so that a silent
    // controller keeps an abort waiting for one attempt, not all of them.
    void SetRequestWaiting(std::function<bool()> waiting) { requestWaiting_ = std::move(waiting); }
    // Runs before each frame but a stop's, the line free: a stop held back while a command
    // waited goes out there, between that command's answer and the next frame. A motion frame
    // after a stop sent there is not sent.
    void SetBeforeFrame(std::function<void()> beforeFrame) {
        beforeFrame_ = std::move(beforeFrame);
    }

    // 0 on success, -1 on failure. value receives the decoded reply only on success with
    // nReply >= 1; otherwise it keeps the caller's preset. Inside another command's wait
    // only a stop is sent; anything else fails at once without a frame.
    int SendCommand(int device, int messageId, qint32 data, int nData, int nReply, qint32& value,
                    Traffic traffic = Traffic::Ordinary);
    // The same exchange as a sequence. The polls while it waits for the answer go to pacer
    // when it spends command waits (the window's loop), else they run in place.
    Sequence<int> Send(Pacer& pacer, int device, int messageId, qint32 data, int nData, int nReply,
                       qint32& value, Traffic traffic = Traffic::Ordinary);

    // A command is waiting for its answer (events pumped now run inside that wait).
    bool Busy() const { return waiting_ > 0; }
    // Stops sent so far. An activity notes the count when the operator starts it and may
    // move the focuser only while the count is unchanged.
    quint64 StopCount() const { return stopCount_; }
    bool StoppedSince(quint64 count) const { return stopCount_ != count; }
    // exchange: the number this exchange took (++exchanges_); a newer one took the line.
    Sequence<int> Transact(Pacer& waits, const QByteArray& frame, QByteArray& reply, int count,
                           int limit, quint64 exchange);
    // Writes the frame paced; whatever arrived before its last byte cannot answer it and is
    // dropped just before that byte.
    void SendText(const QByteArray& text);
    Sequence<int> ReceiveChar(Pacer& waits, char& out, int limit, quint64 exchange);
    // A failed attempt left the line in doubt: the next frame waits for quiet first.
    bool Unsettled() const { return unsettled_; }

    static QByteArray CommandFrame(int device, int messageId, qint32 data, int nData, int nReply);

    SerialPort& port() { return port_; }
    Platform& platform() { return platform_; }

private:
    void DropWaiting(const char* why);
    // Waits, events pumped, until the line has been quiet for kQuietGapMs, dropping what
    // comes; a stop sent meanwhile ends the wait (it settled the line its own way).
    Sequence<bool> Settle(Pacer& waits);
    Sequence<bool> WaitForQuiet(Pacer& waits, quint64 exchange);
    // A newer exchange took the line inside the wait of exchange and still waits itself: a wait
    // on the loop can be resumed by the pump of one in place (STOP's). It waits on, reading
    // nothing.
    bool AnotherExchangeWaits(quint64 exchange) const;

    SerialPort& port_;
    Platform& platform_;
    InlinePacer inPlace_{platform_};
    bool linkOpen_ = false;
    std::function<bool()> requestWaiting_;
    std::function<void()> beforeFrame_;
    int waiting_ = 0;
    quint64 stopCount_ = 0;
    quint64 exchanges_ = 0; // exchanges started so far
    bool unsettled_ = false;
};

} // namespace tarnivel
