// Any byte stream as the controller's answers: the link never crashes, never reads past
// what it was given, keeps every preset on failure and decodes only in-range values.
#include "core/link/focusercommands.h"
#include "core/link/focuserlink.h"
#include "core/seams/platform.h"
#include "core/seams/serialport.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <deque>

using namespace tarnivel;

namespace {

class NoWaitPlatform : public Platform {
public:
    void sleepMs(int ms) override { now_ += ms; }
    void pumpEvents() override {}
    qint64 nowMs() const override { return now_; }

private:
    qint64 now_ = 0;
};

// Delivers the next chunk of the fuzz input as the answer to each frame written, so that
// discarding stale input before a frame does not swallow the whole stream.
class FuzzPort : public SerialPort {
public:
    explicit FuzzPort(FuzzedDataProvider& fdp) : fdp_(fdp) {}
    bool open(int) override { return open_ = true; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    void writeByte(quint8) override {
        if (++written_ % 8 != 0)
            return;
        const size_t n = fdp_.ConsumeIntegralInRange<size_t>(0, 8);
        for (uint8_t b : fdp_.ConsumeBytes<uint8_t>(n))
            waiting_.push_back(b);
        if (fdp_.ConsumeBool())
            open_ = fdp_.ConsumeBool(); // the device may vanish at any frame
    }
    int bytesWaiting() override { return open_ ? static_cast<int>(waiting_.size()) : 0; }
    int readByte() override {
        if (!open_ || waiting_.empty())
            return -1;
        const int b = waiting_.front();
        waiting_.pop_front();
        return b;
    }
    QByteArray discardInput() override {
        QByteArray dropped;
        if (fdp_.ConsumeBool()) {
            for (uint8_t b : waiting_)
                dropped.append(static_cast<char>(b));
            waiting_.clear();
        }
        return dropped;
    }
    bool connectionLost() const override { return false; }

private:
    FuzzedDataProvider& fdp_;
    std::deque<uint8_t> waiting_;
    long written_ = 0;
    bool open_ = true;
};

void Check(bool ok) {
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    FuzzPort port(fdp);
    NoWaitPlatform platform;
    FocuserLink link(port, platform);
    FocuserCommands commands(link);
    link.SetLinkOpen(true);

    while (fdp.remaining_bytes() > 0) {
        switch (fdp.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: {
            const int p = commands.GetPosition();
            Check(p >= -1 && p <= 16777215);
            break;
        }
        case 1: {
            qint32 v = 12345;
            if (commands.IsSlewDone(v) != 0)
                Check(v == 12345);
            else
                Check(v >= 0 && v <= 255);
            break;
        }
        case 2: {
            bool ok = true;
            const double t = commands.GetTemperature(fdp.ConsumeIntegralInRange<int>(1, 3), &ok);
            Check(t == -9999.0 || (t >= -2048.0 && t <= 2048.0));
            if (!ok)
                Check(t == 0.0);
            break;
        }
        case 3: {
            qint32 v = -7;
            const int r = commands.GetMaxTravel(v);
            Check(v >= 0 && v <= 16777215);
            Check(r == 0 || r == -1);
            break;
        }
        case 4: {
            qint32 major = -3, minor = -4;
            if (commands.GetFirmwareVersion(major, minor) != 0)
                Check(major == -3 && minor == -4);
            break;
        }
        case 5:
            commands.MoveAtRate(fdp.ConsumeIntegralInRange<int>(-9, 9));
            break;
        case 6: {
            qint32 v = 77;
            commands.GetFanState(v);
            Check(v == 0 || v == 1 || v == 77);
            break;
        }
        default: {
            qint32 v = 99;
            const int r = link.SendCommand(
                18, fdp.ConsumeIntegral<uint8_t>(), fdp.ConsumeIntegralInRange<qint32>(0, 16777215),
                fdp.ConsumeIntegralInRange<int>(0, 3), fdp.ConsumeIntegralInRange<int>(0, 3), v);
            Check(r == 0 || r == -1);
            if (r != 0)
                Check(v == 99);
            break;
        }
        }
    }
    return 0;
}
