#include "sim/controllermodel.h"

#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace tarnivel::sim {

namespace {

constexpr quint8 kMarker = 0x50;
constexpr quint8 kTerminator = 0x23;
// What a corrupted answer ends with instead of "#", and the noise byte of ExtraByte.
constexpr quint8 kBadTerminator = 0x24;
constexpr quint8 kGarbage = 0xA5;
constexpr quint8 kSlewDone = 0xFF;
constexpr quint8 kNotFitted = 0x7F;
constexpr quint8 kFanOff = 3;
constexpr quint8 kFanRunning = 0;
constexpr quint8 kNoSlot = 0xFF;
constexpr int kFrameLength = 8;
constexpr qint64 kMilli = 1000;

namespace id {
constexpr int GetPosition = 1;
constexpr int GotoPosition = 2;
constexpr int SetPosition = 4;
constexpr int IsSlewDone = 19;
constexpr int ApproachPosition = 23;
constexpr int SetLimitMin = 26;
constexpr int SetLimitMax = 27;
constexpr int GetLimitMin = 28;
constexpr int GetLimitMax = 29;
constexpr int MoveUp = 36;
constexpr int MoveDown = 37;
constexpr int GetTemperature = 38;
constexpr int SetFan = 39;
constexpr int GetFanState = 40;
constexpr int GetSensorCount = 43;
constexpr int GetSensorSlot = 46;
constexpr int ReadMemory = 48;
constexpr int WriteMemory = 49;
constexpr int GetAutoStop = 238;
constexpr int SetAutoStop = 239;
constexpr int GetFirmwareVersion = 254;
} // namespace id

qint64 floorDiv(qint64 a, qint64 b) {
    qint64 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

quint32 wrap24(qint64 v) {
    qint64 m = v % kCounterModulus;
    if (m < 0)
        m += kCounterModulus;
    return static_cast<quint32>(m);
}

QByteArray bigEndian(quint32 value, int bytes) {
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    return out;
}

quint32 rawFrom(const QByteArray& data) {
    return (static_cast<quint32>(static_cast<quint8>(data[0])) << 16) |
           (static_cast<quint32>(static_cast<quint8>(data[1])) << 8) |
           static_cast<quint32>(static_cast<quint8>(data[2]));
}

} // namespace

ControllerModel::ControllerModel(const SimConfig& config)
    : config_(config), autoStop_(config.autoStop), limitMinByte_(config.limitMinByte & 0xFF),
      limitMaxByte_(config.limitMaxByte & 0xFF), registers_(config.registers),
      sensors_(config.sensors), fanOn_(config.fanOn), firmwareMajor_(config.firmwareMajor),
      firmwareMinor_(config.firmwareMinor), rates_(config.faultRates), random_(config.faultSeed) {
    if (config_.upperEndStop < config_.lowerEndStop)
        std::swap(config_.upperEndStop, config_.lowerEndStop);
    setDrift(config.driftAmplitude, config.driftPeriodMs);
    placeMilli_ =
        std::clamp(config_.startPosition, config_.lowerEndStop, config_.upperEndStop) * kMilli;
    if (!config_.stateFile.isEmpty() && QFile::exists(config_.stateFile))
        loadState(config_.stateFile);
}

// ---- Time and mechanics ----------------------------------------------------------------------

qint64 ControllerModel::signedSteps(quint32 raw) const {
    return raw > 8388608 ? static_cast<qint64>(raw) - kCounterModulus : static_cast<qint64>(raw);
}

qint64 ControllerModel::place() const {
    return floorDiv(placeMilli_, kMilli);
}

quint32 ControllerModel::position() const {
    return wrap24(place() + counterOffset_);
}

qint64 ControllerModel::limitPlace(int limitByte) const {
    // The limit is a counter value; it lies where the counter will read it, measured from
    // here without going round the 24-bit circle.
    const qint64 limit = signedSteps(static_cast<quint32>(limitByte) << 16);
    return (place() + limit - signedSteps(position())) * kMilli;
}

qint64 ControllerModel::lowLimitPlace() const {
    return limitMinByte_ == 0 ? std::numeric_limits<qint64>::min() : limitPlace(limitMinByte_);
}

qint64 ControllerModel::highLimitPlace() const {
    return limitMaxByte_ == 0 ? std::numeric_limits<qint64>::max() : limitPlace(limitMaxByte_);
}

bool ControllerModel::atLowerEndStop() const {
    return placeMilli_ <= config_.lowerEndStop * kMilli;
}

bool ControllerModel::atUpperEndStop() const {
    return placeMilli_ >= config_.upperEndStop * kMilli;
}

void ControllerModel::advanceTo(qint64 nowMs) {
    if (nowMs < now_)
        return;
    const qint64 dt = nowMs - now_;
    now_ = nowMs;
    if (motion_ == Motion::None || direction_ == 0)
        return;

    const qint64 lowStop = config_.lowerEndStop * kMilli;
    const qint64 highStop = config_.upperEndStop * kMilli;
    const qint64 wanted = placeMilli_ + direction_ * static_cast<qint64>(speed_) * dt;
    bool endsAtBound = false; // reached the goto target or an active limit
    qint64 next = wanted;
    if (direction_ > 0) {
        const qint64 limit = std::max(placeMilli_, highLimitPlace());
        qint64 bound = limit;
        if (motion_ == Motion::Goto)
            bound = std::min(bound, targetMilli_);
        if (next >= bound && bound <= highStop) {
            next = bound;
            endsAtBound = true;
        }
        next = std::min(next, highStop);
    } else {
        const qint64 limit = std::min(placeMilli_, lowLimitPlace());
        qint64 bound = limit;
        if (motion_ == Motion::Goto)
            bound = std::max(bound, targetMilli_);
        if (next <= bound && bound >= lowStop) {
            next = bound;
            endsAtBound = true;
        }
        next = std::max(next, lowStop);
    }
    placeMilli_ = next;
    if (endsAtBound)
        stopMotor();
    checkStall();
}

void ControllerModel::checkStall() {
    if (motion_ == Motion::None || !autoStop_)
        return;
    // The stall sensing stops a motor that pushes against an end stop.
    if ((direction_ > 0 && atUpperEndStop()) || (direction_ < 0 && atLowerEndStop()))
        stopMotor();
}

qint64 ControllerModel::targetPlace() const {
    // The nearer way round the 24-bit circle from the counter's present reading.
    const qint64 delta = signedSteps(wrap24(static_cast<qint64>(targetRaw_) - position()));
    return (place() + delta) * kMilli;
}

void ControllerModel::startGoto(quint32 target, int speed) {
    targetRaw_ = target & 0xFFFFFF;
    targetMilli_ = targetPlace();
    rate_ = 0;
    if (targetMilli_ == placeMilli_) {
        stopMotor();
        return;
    }
    motion_ = Motion::Goto;
    direction_ = targetMilli_ > placeMilli_ ? 1 : -1;
    speed_ = std::max(0, speed);
    // A zero-length advance applies the bounds that hold already (standing on a limit, or
    // against an end stop under auto-stop).
    advanceTo(now_);
}

void ControllerModel::startRate(int rate) {
    rate = std::clamp(rate, -(kRateCount - 1), kRateCount - 1);
    if (rate == 0) {
        stopMotor();
        rate_ = 0;
        return;
    }
    motion_ = Motion::Rate;
    rate_ = rate;
    direction_ = rate > 0 ? 1 : -1;
    speed_ = std::max(0, config_.rateSpeeds[static_cast<size_t>(std::abs(rate))]);
    advanceTo(now_);
}

void ControllerModel::setPosition(quint32 raw) {
    counterOffset_ = static_cast<qint64>(raw & 0xFFFFFF) - place();
    // A running goto heads for its counter value, which now sits elsewhere mechanically.
    if (motion_ == Motion::Goto) {
        targetMilli_ = targetPlace();
        direction_ = targetMilli_ > placeMilli_ ? 1 : (targetMilli_ < placeMilli_ ? -1 : 0);
        if (direction_ == 0)
            stopMotor();
    }
}

void ControllerModel::placeAt(qint64 steps) {
    stopMotor();
    rate_ = 0;
    placeMilli_ = std::clamp(steps, config_.lowerEndStop, config_.upperEndStop) * kMilli;
}

void ControllerModel::setAutoStop(bool on) {
    autoStop_ = on;
    checkStall();
}

void ControllerModel::setLimitBytes(int minByte, int maxByte) {
    limitMinByte_ = minByte & 0xFF;
    limitMaxByte_ = maxByte & 0xFF;
}

quint8 ControllerModel::memory(int reg) const {
    if (reg < kFirstRegister || reg >= kFirstRegister + kRegisterCount)
        return 0;
    return registers_[static_cast<size_t>(reg - kFirstRegister)];
}

void ControllerModel::setMemory(int reg, quint8 value) {
    if (reg < kFirstRegister || reg >= kFirstRegister + kRegisterCount)
        return;
    registers_[static_cast<size_t>(reg - kFirstRegister)] = value;
}

// ---- Sensors ---------------------------------------------------------------------------------

double ControllerModel::temperature(int slot) const {
    if (slot < 1 || slot > kSensorSlots)
        return 0.0;
    const SensorConfig& s = sensors_[static_cast<size_t>(slot - 1)];
    if (driftAmplitude_ == 0.0)
        return s.setPoint;
    // Each slot runs a third of a period behind the one before, so they never move together.
    const double phase = static_cast<double>(now_ % driftPeriodMs_) / driftPeriodMs_ +
                         static_cast<double>(slot - 1) / kSensorSlots;
    return s.setPoint + driftAmplitude_ * std::sin(2.0 * std::numbers::pi * phase);
}

void ControllerModel::setTemperature(int slot, double celsius) {
    if (slot >= 1 && slot <= kSensorSlots)
        sensors_[static_cast<size_t>(slot - 1)].setPoint = celsius;
}

bool ControllerModel::sensorFitted(int slot) const {
    return slot >= 1 && slot <= kSensorSlots && sensors_[static_cast<size_t>(slot - 1)].fitted;
}

void ControllerModel::setSensorFitted(int slot, bool fitted) {
    if (slot >= 1 && slot <= kSensorSlots)
        sensors_[static_cast<size_t>(slot - 1)].fitted = fitted;
}

void ControllerModel::setDrift(double amplitude, int periodMs) {
    driftAmplitude_ = amplitude;
    driftPeriodMs_ = std::max(1, periodMs);
}

void ControllerModel::setFirmwareVersion(int major, int minor) {
    firmwareMajor_ = major & 0xFF;
    firmwareMinor_ = minor & 0xFF;
}

QByteArray ControllerModel::encodeTemperature(double celsius) {
    const long sixteenths = std::clamp(std::lround(celsius * 16.0), -32768L, 32767L);
    const auto bits = static_cast<quint16>(static_cast<qint16>(sixteenths));
    QByteArray out;
    out.append(static_cast<char>(bits & 0xFF));
    out.append(static_cast<char>(bits >> 8));
    return out;
}

// ---- Wire ------------------------------------------------------------------------------------

void ControllerModel::receiveByte(quint8 byte, qint64 nowMs) {
    advanceTo(nowMs);
    if (!pending_.isEmpty() && now_ - pendingSince_ > config_.frameTimeoutMs)
        pending_.clear();
    if (pending_.isEmpty() && byte != kMarker)
        return;
    pending_.append(static_cast<char>(byte));
    pendingSince_ = now_;
    if (pending_.size() < kFrameLength)
        return;
    const QByteArray frame = pending_;
    pending_.clear();
    handleFrame(frame);
}

void ControllerModel::handleFrame(const QByteArray& frame) {
    frames_.append(frame);
    const int address = static_cast<quint8>(frame[2]);
    const int messageId = static_cast<quint8>(frame[3]);
    const int nReply = static_cast<quint8>(frame[7]);
    const int nData = std::clamp(static_cast<quint8>(frame[1]) - 1, 0, 3);
    QByteArray data = frame.mid(4, 3);
    for (int i = nData; i < 3; ++i)
        data[i] = 0;

    QByteArray answer;
    bool answered = false;
    if (!silent_ && (address == config_.focuserAddress || address == config_.fanAddress)) {
        FaultRule fault;
        const bool faulty = drawFault(messageId, fault);
        if (faulty && fault.fault == Fault::GoSilent) {
            silent_ = true;
        } else if (faulty && fault.fault == Fault::PortVanish) {
            vanishRequested_ = true;
        } else {
            const QByteArray natural = act(address, messageId, data, answered);
            if (answered) {
                QByteArray reply(nReply, '\0');
                const int keep = std::min<int>(nReply, static_cast<int>(natural.size()));
                for (int i = 0; i < keep; ++i)
                    reply[nReply - 1 - i] = natural[natural.size() - 1 - i];
                reply.append(static_cast<char>(kTerminator));
                qint64 delay = config_.replyDelayMs;
                if (faulty) {
                    switch (fault.fault) {
                    case Fault::NoAnswer:
                        reply.clear();
                        break;
                    case Fault::WrongTerminator:
                        reply[reply.size() - 1] = static_cast<char>(kBadTerminator);
                        break;
                    case Fault::DropByte:
                        reply.remove(0, 1);
                        break;
                    case Fault::ExtraByte:
                        reply.prepend(static_cast<char>(kGarbage));
                        break;
                    case Fault::SlowAnswer:
                        delay += fault.delayMs >= 0 ? fault.delayMs : config_.slowAnswerMs;
                        break;
                    case Fault::GoSilent:
                    case Fault::PortVanish:
                        break;
                    }
                }
                answer = reply;
                qint64 at = now_ + delay;
                for (char c : answer) {
                    if (!out_.empty())
                        at = std::max(at, out_.back().at + config_.byteIntervalMs);
                    out_.push_back({at, static_cast<quint8>(c)});
                    at += config_.byteIntervalMs;
                }
            }
        }
    }
    if (onExchange)
        onExchange(frame, answer);
}

QByteArray ControllerModel::act(int address, int messageId, const QByteArray& data,
                                bool& answered) {
    answered = true;
    const auto b0 = static_cast<quint8>(data[0]);
    const auto b1 = static_cast<quint8>(data[1]);
    if (address == config_.fanAddress) {
        switch (messageId) {
        case id::SetFan:
            fanOn_ = b0 != 0;
            return {};
        case id::GetFanState:
            return QByteArray(1, static_cast<char>(fanOn_ ? kFanRunning : kFanOff));
        default:
            break;
        }
    }
    if (address != config_.focuserAddress) {
        answered = false;
        return {};
    }
    switch (messageId) {
    case id::GetPosition:
        return bigEndian(position(), 3);
    case id::GotoPosition:
        startGoto(rawFrom(data), config_.slewSpeed);
        return {};
    case id::ApproachPosition:
        startGoto(rawFrom(data), config_.approachSpeed);
        return {};
    case id::SetPosition:
        setPosition(rawFrom(data));
        persist();
        return {};
    case id::IsSlewDone:
        return QByteArray(1, static_cast<char>(isMoving() ? 0 : kSlewDone));
    case id::SetLimitMin:
        limitMinByte_ = b0;
        persist();
        return {};
    case id::SetLimitMax:
        limitMaxByte_ = b0;
        persist();
        return {};
    case id::GetLimitMin:
        return bigEndian(static_cast<quint32>(limitMinByte_) << 16, 3);
    case id::GetLimitMax:
        return bigEndian(static_cast<quint32>(limitMaxByte_) << 16, 3);
    case id::MoveUp:
        startRate(b0);
        return {};
    case id::MoveDown:
        startRate(-static_cast<int>(b0));
        return {};
    case id::GetTemperature: {
        const int slot = b0 + 1;
        if (!sensorFitted(slot))
            return QByteArray(2, static_cast<char>(kNotFitted));
        return encodeTemperature(temperature(slot));
    }
    case id::GetSensorCount:
        return QByteArray(
            1, static_cast<char>(std::count_if(sensors_.begin(), sensors_.end(),
                                               [](const SensorConfig& s) { return s.fitted; })));
    case id::GetSensorSlot: {
        int n = b0;
        for (int slot = 1; slot <= kSensorSlots; ++slot) {
            if (sensorFitted(slot) && n-- == 0)
                return QByteArray(1, static_cast<char>(slot - 1));
        }
        return QByteArray(1, static_cast<char>(kNoSlot));
    }
    case id::ReadMemory:
        return QByteArray(1, static_cast<char>(memory(b0)));
    case id::WriteMemory:
        setMemory(b0, b1);
        persist();
        return {};
    case id::GetAutoStop:
        return QByteArray(1, static_cast<char>(autoStop_ ? 1 : 0));
    case id::SetAutoStop:
        setAutoStop(b0 != 0);
        persist();
        return {};
    case id::GetFirmwareVersion: {
        QByteArray v;
        v.append(static_cast<char>(firmwareMajor_));
        v.append(static_cast<char>(firmwareMinor_));
        return v;
    }
    default:
        answered = false;
        return {};
    }
}

bool ControllerModel::drawFault(int messageId, FaultRule& out) {
    for (FaultRule& rule : rules_) {
        if (rule.times == 0 || (rule.messageId != -1 && rule.messageId != messageId))
            continue;
        if (rule.times > 0)
            --rule.times;
        out = rule;
        return true;
    }
    const std::array<std::pair<double, Fault>, 7> chances{{
        {rates_.noAnswer, Fault::NoAnswer},
        {rates_.wrongTerminator, Fault::WrongTerminator},
        {rates_.dropByte, Fault::DropByte},
        {rates_.extraByte, Fault::ExtraByte},
        {rates_.slowAnswer, Fault::SlowAnswer},
        {rates_.goSilent, Fault::GoSilent},
        {rates_.portVanish, Fault::PortVanish},
    }};
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    for (const auto& [chance, fault] : chances) {
        if (chance > 0.0 && uniform(random_) < chance) {
            out = FaultRule{messageId, fault, 1, -1};
            return true;
        }
    }
    return false;
}

void ControllerModel::injectFault(const FaultRule& rule) {
    rules_.append(rule);
}

bool ControllerModel::takeVanishRequest() {
    const bool was = vanishRequested_;
    vanishRequested_ = false;
    return was;
}

int ControllerModel::bytesArrived(qint64 nowMs) const {
    int n = 0;
    for (const OutByte& b : out_) {
        if (b.at > nowMs)
            break;
        ++n;
    }
    return n;
}

int ControllerModel::takeByte(qint64 nowMs) {
    if (out_.empty() || out_.front().at > nowMs)
        return -1;
    const int b = out_.front().byte;
    out_.pop_front();
    return b;
}

QByteArray ControllerModel::discardArrived(qint64 nowMs) {
    QByteArray dropped;
    while (!out_.empty() && out_.front().at <= nowMs) {
        dropped.append(static_cast<char>(out_.front().byte));
        out_.pop_front();
    }
    return dropped;
}

void ControllerModel::resetLine() {
    out_.clear();
    pending_.clear();
}

qint64 ControllerModel::nextArrival() const {
    return out_.empty() ? -1 : out_.front().at;
}

QString ControllerModel::toHex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ')).toUpper();
}

// ---- State file ------------------------------------------------------------------------------

void ControllerModel::persist() const {
    if (!config_.stateFile.isEmpty())
        saveState(config_.stateFile);
}

bool ControllerModel::saveState() const {
    return config_.stateFile.isEmpty() || saveState(config_.stateFile);
}

bool ControllerModel::saveState(const QString& path) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream out(&file);
    out << "# tarnivel-sim controller state\n";
    for (int i = 0; i < kRegisterCount; ++i)
        out << QStringLiteral("register%1=%2\n")
                   .arg(kFirstRegister + i, 2, 16, QLatin1Char('0'))
                   .arg(registers_[static_cast<size_t>(i)]);
    out << "limitMin=" << limitMinByte_ << '\n';
    out << "limitMax=" << limitMaxByte_ << '\n';
    out << "autoStop=" << (autoStop_ ? 1 : 0) << '\n';
    out << "place=" << place() << '\n';
    out << "position=" << position() << '\n';
    out.flush();
    return file.commit();
}

bool ControllerModel::loadState(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bool havePlace = false;
    bool havePosition = false;
    qint64 newPlace = 0;
    quint32 newPosition = 0;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        bool ok = false;
        const qint64 value = line.mid(eq + 1).trimmed().toLongLong(&ok);
        if (!ok)
            continue;
        if (key.startsWith(QStringLiteral("register"))) {
            bool regOk = false;
            const int reg = key.mid(8).toInt(&regOk, 16);
            if (regOk)
                setMemory(reg, static_cast<quint8>(value & 0xFF));
        } else if (key == QStringLiteral("limitMin")) {
            limitMinByte_ = static_cast<int>(value & 0xFF);
        } else if (key == QStringLiteral("limitMax")) {
            limitMaxByte_ = static_cast<int>(value & 0xFF);
        } else if (key == QStringLiteral("autoStop")) {
            autoStop_ = value != 0;
        } else if (key == QStringLiteral("place")) {
            newPlace = value;
            havePlace = true;
        } else if (key == QStringLiteral("position")) {
            newPosition = wrap24(value);
            havePosition = true;
        }
    }
    if (havePlace) {
        stopMotor();
        placeMilli_ = std::clamp(newPlace, config_.lowerEndStop, config_.upperEndStop) * kMilli;
    }
    if (havePosition)
        setPosition(newPosition);
    return true;
}

} // namespace tarnivel::sim
