#pragma once

// A serial port whose far end is a script: each frame the link writes is answered with the
// next scripted answer (or by a responder function), after an optional delay on virtual
// time. Every written byte is recorded with the virtual time and the number of event pumps
// seen so far, so tests can check pacing and that no pump falls inside a frame.

#include "core/link/focusercommands.h"
#include "core/link/focuserlink.h"
#include "core/seams/serialport.h"
#include "virtualplatform.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <utility>

namespace tarnivel::test {

class ScriptedPort : public SerialPort {
public:
    struct WrittenByte {
        quint8 byte = 0;
        qint64 atMs = 0;
        int pumpsBefore = 0;
    };

    explicit ScriptedPort(VirtualPlatform& platform) : platform_(platform) {
        platform_.onAdvance([this](qint64 now) { deliverDue(now); });
    }

    // The answer to the next frame, arriving delayMs after its last byte.
    void answer(const QByteArray& bytes, int delayMs = 0) { script_.push_back({bytes, delayMs}); }
    // The next frame goes unanswered.
    void silence() { script_.push_back({std::nullopt, 0}); }
    // Answers frames once the script is used up; nullopt = no answer.
    std::function<std::optional<QByteArray>(const QByteArray& frame)> responder;
    // Bytes that arrive now, asked for by nobody.
    void inject(const QByteArray& bytes) { input_.append(bytes); }

    bool open(int) override {
        open_ = true;
        return true;
    }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }

    void writeByte(quint8 byte) override {
        if (!open_)
            return;
        written.append({byte, platform_.nowMs(), platform_.pumpCalls});
        pendingFrame_.append(static_cast<char>(byte));
        if (pendingFrame_.size() == kFrameLength) {
            frames.append(pendingFrame_);
            onFrame(pendingFrame_);
            pendingFrame_.clear();
        }
    }
    int bytesWaiting() override { return open_ ? static_cast<int>(input_.size()) : 0; }
    int readByte() override {
        if (!open_ || input_.isEmpty())
            return -1;
        const auto b = static_cast<quint8>(input_.at(0));
        input_.remove(0, 1);
        ++bytesRead;
        return b;
    }
    QByteArray discardInput() override {
        ++discardCalls;
        discardedBytes += static_cast<int>(input_.size());
        return std::exchange(input_, QByteArray());
    }
    bool connectionLost() const override { return false; }

    QStringList framesHex() const {
        QStringList out;
        for (const auto& f : frames)
            out << QString::fromLatin1(f.toHex(' ').toUpper());
        return out;
    }
    QByteArray waitingInput() const { return input_; }

    QList<QByteArray> frames;
    QList<WrittenByte> written;
    int bytesRead = 0;
    int discardCalls = 0;
    int discardedBytes = 0;

private:
    struct Scripted {
        std::optional<QByteArray> bytes;
        int delayMs = 0;
    };
    struct Pending {
        qint64 dueMs = 0;
        QByteArray bytes;
    };

    void onFrame(const QByteArray& frame) {
        Scripted next;
        if (!script_.empty()) {
            next = script_.front();
            script_.pop_front();
        } else if (responder) {
            next.bytes = responder(frame);
        }
        if (!next.bytes)
            return;
        if (next.delayMs <= 0)
            input_.append(*next.bytes);
        else
            pending_.push_back({platform_.nowMs() + next.delayMs, *next.bytes});
    }

    void deliverDue(qint64 now) {
        while (!pending_.empty() && pending_.front().dueMs <= now) {
            input_.append(pending_.front().bytes);
            pending_.pop_front();
        }
    }

    VirtualPlatform& platform_;
    bool open_ = true;
    std::deque<Scripted> script_;
    std::deque<Pending> pending_;
    QByteArray pendingFrame_;
    QByteArray input_;
};

// The bytes of a hex text such as "01 02 23".
inline QByteArray bytesFromHex(const char* text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// The link and its command set on a scripted port, already open.
struct ScriptedLinkRig {
    ScriptedLinkRig() { link.SetLinkOpen(true); }
    VirtualPlatform platform;
    ScriptedPort port{platform};
    FocuserLink link{port, platform};
    FocuserCommands commands{link};
};

} // namespace tarnivel::test
