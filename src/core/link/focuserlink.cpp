#include "core/link/focuserlink.h"

#include "core/seams/platform.h"
#include "core/seams/serialport.h"

#include <QLoggingCategory>
#include <QScopedValueRollback>
#include <utility>

// Off unless asked for (QT_LOGGING_RULES="tarnivel.link.debug=true"): a busy poll logs
// several frames a second.
Q_LOGGING_CATEGORY(lcLink, "tarnivel.link", QtInfoMsg)

namespace tarnivel {

namespace {

constexpr int kMaxDataBytes = 3;
constexpr int kMaxReplyBytes = 3;

QByteArray hex(const QByteArray& bytes) {
    return bytes.toHex(' ');
}

// A wait counted while it runs: also when the sequence waiting is dropped where it waits (its
// front end closed), so that the line is never left marked busy.
class Counted {
public:
    explicit Counted(int& count) : count_(count) { ++count_; }
    ~Counted() { --count_; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;

private:
    int& count_;
};

} // namespace

FocuserLink::FocuserLink(SerialPort& port, Platform& platform) : port_(port), platform_(platform) {}

QByteArray FocuserLink::CommandFrame(int device, int messageId, qint32 data, int nData,
                                     int nReply) {
    QByteArray frame(kFrameLength, '\0');
    frame[0] = kFrameMarker;
    frame[1] = static_cast<char>(nData + 1);
    frame[2] = static_cast<char>(device & 0xFF);
    frame[3] = static_cast<char>(messageId & 0xFF);
    // Most significant byte first. A negative value goes out in two's complement: the
    // catalogue never sends one, and this keeps every byte defined.
    const auto bits = static_cast<quint32>(data);
    for (int i = 0; i < nData && i < kMaxDataBytes; ++i) {
        const int shift = 8 * (nData - 1 - i);
        frame[4 + i] = static_cast<char>((bits >> shift) & 0xFF);
    }
    frame[7] = static_cast<char>(nReply);
    return frame;
}

int FocuserLink::SendCommand(int device, int messageId, qint32 data, int nData, int nReply,
                             qint32& value, Traffic traffic) {
    return Send(inPlace_, device, messageId, data, nData, nReply, value, traffic).RunToEnd();
}

Sequence<int> FocuserLink::Send(Pacer& pacer, int device, int messageId, qint32 data, int nData,
                                int nReply, qint32& value, Traffic traffic) {
    Pacer& waits = pacer.SpendsCommandWaits() ? pacer : inPlace_;
    if (!linkOpen_)
        co_return -1;
    if (nData < 0 || nData > kMaxDataBytes || nReply < 0 || nReply > kMaxReplyBytes)
        co_return -1;
    // A sequence waiting on the loop, resumed by the pump of a command waiting in place (STOP's
    // own), sends its frame once that command has its answer.
    // One waiting in place is refused below: the command it would wait for is lower on its
    // stack and cannot end first.
    while (Busy() && traffic != Traffic::Stop && pacer.SpendsCommandWaits())
        co_await Pause(waits, kCharPacingMs);
    if (Busy() && traffic != Traffic::Stop) {
        // A handler run by the pump of another command's wait: its frame would take that
        // command's answer away.
        qCWarning(lcLink) << "message" << messageId << "refused inside another command's wait";
        co_return -1;
    }
    if (traffic == Traffic::Stop)
        ++stopCount_;
    const quint64 stopsAtStart = stopCount_;

    const QByteArray frame = CommandFrame(device, messageId, data, nData, nReply);
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
        // An answer that came too late for its own frame would be read as this one's, and
        // every later answer one question behind. A stop does not wait for quiet: its own
        // frame drops what came before it, and a late answer does not fit its empty reply.
        if (unsettled_ && traffic != Traffic::Stop)
            co_await Settle(waits);
        if (traffic != Traffic::Stop && beforeFrame_)
            beforeFrame_();
        if (traffic == Traffic::Motion && StoppedSince(stopsAtStart))
            co_return -1;
        QByteArray reply;
        int result = -1;
        {
            const quint64 exchange = ++exchanges_;
            const Counted waiting(waiting_);
            // A successful exchange holds exactly nReply bytes.
            result = co_await Transact(waits, frame, reply, nReply + 1, kReceiveLimit, exchange);
        }
        if (result != 0) {
            unsettled_ = true;
            // The motor has been told to stop after this frame: sending it again would
            // undo the stop.
            if (traffic == Traffic::Motion && StoppedSince(stopsAtStart))
                co_return -1;
            if (traffic != Traffic::Stop && requestWaiting_ && requestWaiting_())
                co_return -1;
            continue;
        }
        if (nReply >= 1) {
            qint32 decoded = 0;
            for (char c : std::as_const(reply))
                decoded = decoded * 256 + static_cast<quint8>(c);
            value = decoded;
        }
        co_return 0;
    }
    co_return -1;
}

Sequence<int> FocuserLink::Transact(Pacer& waits, const QByteArray& frame, QByteArray& reply,
                                    int count, int limit, quint64 exchange) {
    qCDebug(lcLink) << "frame" << hex(frame);
    SendText(frame);
    reply.clear();
    // The last byte is kept until it proves to be the terminator, so that the log shows
    // every byte that came.
    for (int i = 1; i <= count; ++i) {
        char c = 0;
        const int received = co_await ReceiveChar(waits, c, limit, exchange);
        if (received != 0) {
            qCDebug(lcLink) << "answer" << hex(reply) << "then time-out";
            co_return -1;
        }
        reply.append(c);
    }
    if (count >= 1 && reply.back() == kTerminator && port_.isOpen() && port_.bytesWaiting() > 0) {
        // More came than was asked for: the '#' was a data byte of a longer answer, or this
        // answer ran into another one. Either way these bytes answer some other question.
        qCDebug(lcLink) << "answer" << hex(reply) << "followed by more";
        co_return -1;
    }
    if (count >= 1 && reply.back() != kTerminator) {
        // The controller's answer is shorter or longer than asked for; drop one more
        // character so that a simply late byte does not open the next answer.
        char extra = 0;
        const int received = co_await ReceiveChar(waits, extra, limit, exchange);
        if (received == 0)
            reply.append(extra);
        qCDebug(lcLink) << "answer" << hex(reply) << "without terminator";
        co_return -1;
    }
    qCDebug(lcLink) << "answer" << hex(reply);
    reply.chop(1);
    co_return 0;
}

void FocuserLink::SendText(const QByteArray& text) {
    // Only a sleep between the bytes, never an event pump: a handler dispatched here
    // could put its own frame between two bytes of this one.
    for (qsizetype i = 0; i < text.size(); ++i) {
        // The controller answers only a whole frame; read as the start of this answer,
        // anything earlier would shift every byte.
        if (i == text.size() - 1 && port_.isOpen())
            DropWaiting("before the frame's last byte");
        if (port_.isOpen())
            port_.writeByte(static_cast<quint8>(text.at(i)));
        platform_.sleepMs(kCharPacingMs);
    }
}

void FocuserLink::DropWaiting(const char* why) {
    const QByteArray dropped = port_.discardInput();
    if (!dropped.isEmpty())
        qCDebug(lcLink) << "dropped" << hex(dropped) << why;
}

Sequence<bool> FocuserLink::Settle(Pacer& waits) {
    bool settled = false;
    {
        const quint64 exchange = ++exchanges_;
        const Counted waiting(waiting_);
        settled = co_await WaitForQuiet(waits, exchange);
    }
    if (settled)
        unsettled_ = false;
    co_return settled;
}

bool FocuserLink::AnotherExchangeWaits(quint64 exchange) const {
    // Counted: this wait and the exchange that took the line, whose own wait (pumping the loop
    // that resumed this one) reads its answer alone.
    return exchanges_ != exchange && waiting_ > 1;
}

Sequence<bool> FocuserLink::WaitForQuiet(Pacer& waits, quint64 exchange) {
    const qint64 start = platform_.nowMs();
    qint64 quietSince = start;
    bool settled = !port_.isOpen();
    while (!settled) {
        co_await Pause(waits, kCharPacingMs);
        co_await tarnivel::PumpEvents(waits);
        if (AnotherExchangeWaits(exchange))
            continue;
        if (exchanges_ != exchange || !port_.isOpen())
            break;
        const qint64 now = platform_.nowMs();
        if (port_.bytesWaiting() > 0) {
            DropWaiting("while waiting for a quiet line");
            quietSince = now;
        }
        settled = now - quietSince >= kQuietGapMs || now - start >= kSettleLimitMs;
    }
    co_return settled;
}

Sequence<int> FocuserLink::ReceiveChar(Pacer& waits, char& out, int limit, quint64 exchange) {
    qint64 counter = 0;
    for (;;) {
        co_await Pause(waits, kCharPacingMs);
        co_await tarnivel::PumpEvents(waits);
        if (AnotherExchangeWaits(exchange))
            continue;
        // A stop went out inside this wait and took the line: what arrives from now on is
        // no answer to this frame.
        if (exchanges_ != exchange)
            co_return -1;
        counter += kPollCredit;
        // A port that closed itself (device gone) counts as an empty poll, so the wait ends
        // in the ordinary time-out.
        if (port_.isOpen() && port_.bytesWaiting() > 0) {
            const int b = port_.readByte();
            if (b >= 0) {
                out = static_cast<char>(b);
                co_return 0;
            }
        }
        if (counter >= limit)
            co_return -1;
    }
}

} // namespace tarnivel
