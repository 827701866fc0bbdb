#include "controllermodel.h"

#include "requestengine.h"
#include "valuerule.h"

namespace oe {

namespace {

QByteArray word(quint16 value)
{
    return QByteArray(1, char(value >> 8)) + QByteArray(1, char(value & 0xff));
}

// A value a reset may leave: mostly what the parameter can hold, now and then anything.
quint16 drawValue(RandomStream &random, int index)
{
    if (random.chance(150))
        return quint16(random.below(65536));
    // What each parameter usually holds: its slider's range.
    const SliderRange range = sliderRange(ParameterIndex(index));
    return quint16(random.between(range.min, range.max));
}

} // namespace

ControllerModel::ControllerModel(SimulatedPort *port, VirtualClock *clock, RandomStream random,
                                 TrialFigures *figures, Log log)
    : m_port(port), m_clock(clock), m_random(std::move(random)), m_figures(figures), m_log(std::move(log))
{
    m_values = {5, 25, 1500, 800, 12000, 1200, 200, 100};
    m_limits.fill(0xffff);
    // Some firmwares stop a parameter short of what the program may send.
    for (int i = 0; i < 8; ++i) {
        if (m_random.chance(60)) {
            const SliderRange range = sliderRange(ParameterIndex(i));
            m_limits[size_t(i)] = quint16(m_random.between(range.min, range.max));
            m_clamps[size_t(i)] = m_random.chance(500);
        }
    }
    // Some controllers come with values of their own, also ones no slider can show.
    if (m_random.chance(300)) {
        for (int i = 0; i < 8; ++i)
            m_values[size_t(i)] = drawValue(m_random, i);
    }
}

QByteArray ControllerModel::answer(const QByteArray &frame)
{
    const quint8 code = quint8(frame[2]);
    const int index = quint8(frame[3]);
    const QByteArray header = QByteArray::fromHex("4355") + QByteArray(1, char(code));
    switch (code) {
    case 1:
        if (index >= 8)
            return {};
        return header + QByteArray(1, char(index)) + word(m_values[size_t(index)]);
    case 2: {
        if (index >= 8 || frame.size() < 6)
            return {};
        const quint16 sent = quint16((quint8(frame[4]) << 8) | quint8(frame[5]));
        if (m_onWrite)
            m_onWrite(index, sent);
        quint16 stored = sent;
        if (sent > m_limits[size_t(index)]) {
            if (m_clamps[size_t(index)]) {
                ++m_figures->fault(Fault::ClampedWrite);
                stored = m_limits[size_t(index)];
                m_log("controller clamps the write of %1: stores %2", sent, stored);
            } else {
                ++m_figures->fault(Fault::RefusedWrite);
                stored = m_values[size_t(index)];
                m_log("controller refuses the write of %1 to parameter %2", sent, index);
            }
        }
        m_storedAsSent = stored == sent;
        const Values before = m_values;
        m_values[size_t(index)] = stored;
        if (m_onStored)
            m_onStored(index, before);
        return header + QByteArray(1, char(index)) + word(stored);
    }
    case 3: {
        // Readings that move a little, within what a status can report.
        const quint16 rpm = quint16(m_random.between(0, 9000));
        const quint16 tinj = quint16(m_random.between(0, 20000));
        const quint16 pump = quint16(m_random.between(0, 50));
        // Now and then a pause whose low byte reads as the "C" every reply begins with.
        const quint16 pause = m_random.chance(200) ? quint16(0x0143) : quint16(m_random.between(0, 2400));
        return header + word(rpm) + word(tinj) + word(pump) + word(pause);
    }
    case 4:
        return header + QByteArray(reinterpret_cast<const char *>(m_version.data()), 3);
    case 10:
        if (m_random.chance(500)) {
            ++m_figures->fault(Fault::ResetChange);
            for (int i = 0; i < 8; ++i)
                m_values[size_t(i)] = drawValue(m_random, i);
            m_log("controller reset: every value changed", 0, 0);
        }
        return header + QByteArray(1, '\0');
    default:
        return {};
    }
}

void ControllerModel::onFrame(const QByteArray &frame, qint64 frameNumber)
{
    if (frame.size() < 7 || frame[0] != 'P' || frame[1] != 'C')
        return;
    const qint64 now = m_clock->nowMs();
    if (now < m_silentUntil)
        return;
    if (m_random.chance(4)) {
        ++m_figures->fault(Fault::SilentSpell);
        m_silentUntil = now + m_random.between(300, 6000);
        m_log("controller goes silent until %1 ms", m_silentUntil, 0);
        return;
    }
    if (m_swaps && m_swaps->chance(4)) {
        // Longer than a box that holds the poll and the two unanswered polls after it: the program
        // can count the controller as not answering.
        RandomStream &swap = *m_swaps;
        ++m_figures->fault(Fault::Swap);
        m_silentUntil = now + swap.between(9000, 15000);
        for (int i = 0; i < 8; ++i)
            m_values[size_t(i)] = drawValue(swap, i);
        m_version = {quint8(swap.between(1, 3)), quint8(swap.below(10)), quint8(swap.below(10))};
        m_log("another controller on the line, silent until %1 ms", m_silentUntil, 0);
        m_onSwap();
        return;
    }
    if (m_random.chance(1)) {
        ++m_figures->fault(Fault::HangUp);
        const qint64 at = now + m_random.between(0, 400);
        m_log("the line will hang up at %1 ms", at, 0);
        ClockTimer *timer = m_clock->createTimer(m_port);
        QObject::connect(timer, &ClockTimer::timeout, m_port, [port = m_port, timer] {
            timer->disconnect();
            port->hangUp();
        });
        timer->start(std::chrono::milliseconds(at - now));
    }
    const QByteArray reply = answer(frame);
    if (reply.isEmpty())
        return;
    const quint8 code = quint8(frame[2]);
    const auto timeout = code == 3 ? RequestEngine::kStatusTimeout
                         : code == 10 ? RequestEngine::kResetTimeout
                                      : RequestEngine::kReadTimeout;
    send(reply, frameNumber, timeout);
}

void ControllerModel::send(const QByteArray &reply, qint64 frameNumber, std::chrono::milliseconds timeout)
{
    const qint64 now = m_clock->nowMs();
    // The frame's own bytes on a 9600-baud line, then the controller's think time.
    qint64 delay = m_random.between(2, 15);
    if (m_random.chance(60)) {
        ++m_figures->fault(Fault::LateReply);
        delay = m_random.between(timeout.count(), timeout.count() + 350);
    } else if (m_random.chance(80)) {
        ++m_figures->fault(Fault::SlowReply);
        delay = m_random.between(15, timeout.count() - 1);
    }
    QByteArray bytes = reply;
    const qint64 origin = ++m_replies;
    m_replyFrames.append(frameNumber);
    bool clean = true;
    if (m_random.chance(10)) {
        ++m_figures->fault(Fault::BitFlip);
        const qint64 bit = m_random.below(bytes.size() * 8);
        bytes[bit / 8] = char(quint8(bytes[bit / 8]) ^ (1u << (bit % 8)));
        clean = false;
        // A read answer or a write's echo (both six bytes, the parameter and its value) now says a
        // value the controller does not hold.
        if (bytes.size() == 6 && (bytes.startsWith("CU\x01") || bytes.startsWith("CU\x02")))
            m_flipped.insert({quint8(bytes[3]), (quint8(bytes[4]) << 8) | quint8(bytes[5])});
    }
    if (m_random.chance(80)) {
        ++m_figures->fault(Fault::SplitReply);
        clean = false;
        qint64 at = now + delay;
        qsizetype from = 0;
        while (from < bytes.size()) {
            const qsizetype piece = qMin<qsizetype>(bytes.size() - from, m_random.between(1, 4));
            m_port->deliver(bytes.mid(from, piece), at, origin);
            from += piece;
            at += m_random.between(1, 40);
        }
    } else {
        m_port->deliver(bytes, now + delay, origin);
    }
    if (clean && delay < timeout.count())
        m_clean = CleanReply{frameNumber, now + delay};
    if (m_random.chance(10)) {
        ++m_figures->fault(Fault::Duplicate);
        m_replyFrames.append(frameNumber);
        m_port->deliver(reply, now + delay + m_random.between(20, 700), ++m_replies);
    }
}

} // namespace oe
