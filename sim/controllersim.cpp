#include "controllersim.h"

#include <QString>

namespace oe {

namespace {

constexpr quint8 kRead = 1;
constexpr quint8 kWrite = 2;
constexpr quint8 kStatus = 3;
constexpr quint8 kVersion = 4;
constexpr quint8 kReset = 10;

constexpr qsizetype kFrameLength = 7;
constexpr qsizetype kWriteFrameLength = 9;

void appendWord(QByteArray &out, quint16 value)
{
    out.append(char(value >> 8));
    out.append(char(value & 0xFF));
}

QByteArray replyHead(quint8 code)
{
    QByteArray out;
    out.append(char(ControllerSim::kReplyC));
    out.append(char(ControllerSim::kReplyU));
    out.append(char(code));
    return out;
}

// Junk that can never be mistaken for the start of a reply.
QByteArray junk(int count)
{
    static constexpr char kPattern[] = {char(0xFF), char(0x00), char(0xA5), char(0x5A)};
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out.append(kPattern[i % 4]);
    return out;
}

} // namespace

qsizetype ControllerSim::requestLength(QByteArrayView bytes)
{
    if (bytes.size() < 3)
        return 0;
    const quint8 code = quint8(bytes[2]);
    // Bytes the program always sends as 0; anything else there means this is no request.
    qsizetype firstZero = 3;
    qsizetype length = kFrameLength;
    switch (code) {
    case kRead:
        firstZero = 4;
        break;
    case kWrite:
        firstZero = 6;
        length = kWriteFrameLength;
        break;
    case kStatus:
    case kVersion:
    case kReset:
        break;
    default:
        return -1;
    }
    for (qsizetype i = firstZero; i < std::min(length, bytes.size()); ++i) {
        if (bytes[i] != 0)
            return -1;
    }
    return bytes.size() < length ? 0 : length;
}

ControllerSim::ControllerSim()
    : m_params(defaultSimParameters())
{
}

quint16 ControllerSim::parameter(int index) const
{
    return index >= 0 && index < simparam::Count ? m_params[size_t(index)] : 0;
}

void ControllerSim::setParameter(int index, quint16 value)
{
    if (index >= 0 && index < simparam::Count)
        m_params[size_t(index)] = value;
}

void ControllerSim::setFaults(const SimFaults &faults)
{
    m_faults = faults;
    m_framesCounted = 0;
    m_hungUp = false;
    m_nextNoiseMs = -1;
    if (m_faultsListener)
        m_faultsListener();
}

QByteArray ControllerSim::noise(qint64 nowMs)
{
    QByteArray out;
    if (m_faults.noisePerSecond <= 0)
        return out;
    // Bursts of 1 to 8 bytes (4.5 on average) at exponentially spread times, so the mean rate is the
    // fault's; one burst in ten starts like a reply: "C" "U" and a reply code.
    constexpr double kMeanBurst = 4.5;
    std::exponential_distribution<double> gap(m_faults.noisePerSecond / kMeanBurst / 1000.0);
    if (m_nextNoiseMs < 0) {
        m_nextNoiseMs = nowMs + qint64(gap(m_random));
        return out;
    }
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> burstLength(1, 8);
    std::uniform_int_distribution<int> tenth(0, 9);
    static constexpr quint8 kReplyCodes[] = {1, 2, 3, 4, 10};
    std::uniform_int_distribution<int> code(0, int(std::size(kReplyCodes)) - 1);
    while (m_nextNoiseMs <= nowMs && out.size() < 65536) {
        QByteArray burst;
        if (tenth(m_random) == 0)
            burst = replyHead(kReplyCodes[code(m_random)]);
        for (int n = burstLength(m_random); n > 0; --n)
            burst.append(char(byte(m_random)));
        out += burst;
        m_nextNoiseMs += std::max<qint64>(1, qint64(gap(m_random)));
    }
    return out;
}

void ControllerSim::restartLine()
{
    m_framesCounted = 0;
    m_hungUp = false;
    m_discarded += m_buffer.size();
    m_buffer.clear();
}

EngineReading ControllerSim::engineAt(qint64 nowMs) const
{
    if (!m_engineRunning)
        return {};
    return m_engineOverride ? *m_engineOverride : EngineModel::sample(nowMs);
}

QByteArray ControllerSim::statusReply(qint64 nowMs) const
{
    const EngineReading engine = engineAt(nowMs);
    const quint16 rpm = reportedRpm(m_params, engine.rpm);
    const PumpTiming pump = pumpTiming(m_params, rpm, engine.tinj);
    QByteArray out = replyHead(kStatus);
    appendWord(out, rpm);
    appendWord(out, engine.tinj);
    appendWord(out, pump.pump);
    appendWord(out, pump.pause);
    return out;
}

QByteArray ControllerSim::answer(QByteArrayView frame, qint64 nowMs)
{
    const quint8 code = quint8(frame[2]);
    const quint8 index = quint8(frame[3]);
    switch (code) {
    case kRead: {
        QByteArray out = replyHead(kRead);
        out.append(char(index));
        appendWord(out, parameter(index));
        return out;
    }
    case kWrite: {
        int value = quint8(frame[4]) * 256 + quint8(frame[5]);
        if (m_faults.echoClamp)
            value = clampToSliderRange(index, value);
        if (index < 8 && m_faults.refuseWriteMask & (1 << index))
            value = parameter(index);
        setParameter(index, quint16(value));
        // An index the controller does not have is echoed as sent, so the echo still tells the
        // program what arrived.
        QByteArray out = replyHead(kWrite);
        out.append(char(index));
        appendWord(out, quint16(value));
        return out;
    }
    case kStatus:
        return statusReply(nowMs);
    case kVersion: {
        QByteArray out = replyHead(kVersion);
        for (quint8 part : m_version)
            out.append(char(part));
        return out;
    }
    case kReset: {
        restoreDefaults();
        QByteArray out = replyHead(kReset);
        out.append('\0');
        return out;
    }
    default:
        return {};
    }
}

QByteArray ControllerSim::shaped(QByteArray reply)
{
    if (m_faults.flipPercent > 0 && !reply.isEmpty()
        && std::uniform_int_distribution<int>(0, 99)(m_random) < m_faults.flipPercent) {
        const int bit = std::uniform_int_distribution<int>(0, int(reply.size()) * 8 - 1)(m_random);
        reply[bit / 8] = char(reply[bit / 8] ^ (1 << (bit % 8)));
    }
    if (m_faults.wrongHeader)
        reply[1] = char(kWrongU);
    if (m_faults.unknownCode)
        reply[2] = char(kUnknownCode);
    if (m_faults.shortBy > 0)
        reply.chop(m_faults.shortBy);
    return junk(m_faults.garbageBefore) + reply + junk(m_faults.garbageAfter);
}

std::optional<SimOutput> ControllerSim::handle(QByteArrayView frame, qint64 nowMs)
{
    ++m_framesCounted;
    const bool hangUp = m_faults.hangUpAfter > 0 && m_framesCounted == m_faults.hangUpAfter;
    if (hangUp)
        m_hungUp = true;
    const bool heard = !m_faults.silent && m_framesCounted > m_faults.dropFirst;
    SimOutput out;
    out.hangUp = hangUp;
    if (heard) {
        const QByteArray reply = answer(frame, nowMs);
        if (!reply.isEmpty()) {
            out.bytes = shaped(reply);
            out.delayMs = m_faults.lateMs > 0 ? m_faults.lateMs : m_faults.replyDelayMs;
            if (m_faults.byteGapMs > 0) {
                out.byteGapMs = m_faults.byteGapMs;
            } else if (m_faults.splitGapMs > 0 && out.bytes.size() >= 2) {
                // At least two bytes in the first write: a header the program can tell from junk.
                out.splitAt = int(std::max<qsizetype>(2, out.bytes.size() / 2));
                out.splitGapMs = m_faults.splitGapMs;
                if (out.splitAt >= out.bytes.size())
                    out.splitAt = 0;
                if (out.splitAt == 0)
                    out.splitGapMs = 0;
            }
        }
    }
    if (out.bytes.isEmpty() && !out.hangUp)
        return std::nullopt;
    return out;
}

void ControllerSim::plugIn(const SimParameters &params, Version version)
{
    m_params = params;
    m_version = version;
    m_buffer.clear();
    m_present = true;
}

QList<SimOutput> ControllerSim::feed(QByteArrayView bytes, qint64 nowMs)
{
    QList<SimOutput> outputs;
    if (m_hungUp || !m_present || bytes.isEmpty())
        return outputs;
    if (!m_buffer.isEmpty() && nowMs - m_lastFeedMs > kStalePartialMs) {
        m_discarded += m_buffer.size();
        m_buffer.clear();
    }
    m_lastFeedMs = nowMs;
    m_buffer.append(bytes.data(), bytes.size());

    qsizetype pos = 0;
    const QByteArrayView header(kRequestHeader, 2);
    while (!m_hungUp) {
        const qsizetype start = QByteArrayView(m_buffer).indexOf(header, pos);
        if (start < 0) {
            // Keep a trailing "P": it may be the first half of the next header.
            const qsizetype keepFrom =
                std::max(pos, m_buffer.endsWith('P') ? m_buffer.size() - 1 : m_buffer.size());
            m_discarded += keepFrom - pos;
            pos = keepFrom;
            break;
        }
        m_discarded += start - pos;
        pos = start;
        const qsizetype length = requestLength(QByteArrayView(m_buffer).sliced(pos));
        if (length < 0) {
            // Not a request after all: this "P" "C" was junk; look for the next one.
            ++m_discarded;
            ++pos;
            continue;
        }
        if (length == 0)
            break;
        const QByteArray frame = m_buffer.mid(pos, length);
        pos += length;
        if (m_requests.size() >= kMaxLoggedRequests)
            m_requests.remove(0, kMaxLoggedRequests / 2);
        m_requests.append({nowMs, frame});
        ++m_requestCount;
        if (std::optional<SimOutput> out = handle(frame, nowMs))
            outputs.append(std::move(*out));
    }
    if (m_hungUp) {
        m_discarded += m_buffer.size() - pos;
        m_buffer.clear();
    } else {
        m_buffer.remove(0, pos);
    }
    return outputs;
}

QString hexBytes(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
}

} // namespace oe
