#include "wirewatch.h"

namespace oe {

namespace {

constexpr qsizetype kRecentKept = 4096;

QByteArray word(qint32 value)
{
    return QByteArray(1, char((value >> 8) & 0xff)) + QByteArray(1, char(value & 0xff));
}

} // namespace

void WireWatch::sessionEnded()
{
    m_live = false;
    m_lastTryEndAt = -1;
    m_recent.clear();
}

QString WireWatch::requestStarted(bool status)
{
    QString broken = requestGone();
    m_live = true;
    m_status = status;
    m_answered = false;
    m_frames = 0;
    m_triesEnded = 0;
    m_firstOfRequest = true;
    return broken;
}

QString WireWatch::frameOut(qint64 nowMs, QString *invariant)
{
    if (!m_live)
        return {};
    ++m_frames;
    *invariant = QStringLiteral("exact tries");
    if (m_frames > kTries)
        return QStringLiteral("try %1 of a request went out; the protocol tries %2 times").arg(m_frames).arg(kTries);
    if (std::exchange(m_firstOfRequest, false) && m_status && m_lastTryEndAt >= 0
        && nowMs - m_lastTryEndAt < kPollGapMs) {
        *invariant = QStringLiteral("poll gap");
        return QStringLiteral("a status request went out %1 ms after the last try ended; the poll waits %2 ms")
            .arg(nowMs - m_lastTryEndAt).arg(kPollGapMs);
    }
    return {};
}

void WireWatch::tryEnded(TryEnd end, qint64 nowMs)
{
    ++m_triesEnded;
    m_answered = m_answered || end == TryEnd::Answered;
    m_lastTryEndAt = nowMs;
}

QString WireWatch::requestGone()
{
    if (!m_live)
        return {};
    m_live = false;
    // Ended unanswered: every try went out and ended (a request dropped with its session is not judged).
    if (!m_answered && m_frames > 0 && m_triesEnded == m_frames && m_frames != kTries)
        return QStringLiteral("a request ended unanswered after %1 tries; the protocol tries %2 times").arg(m_frames).arg(kTries);
    return {};
}

void WireWatch::bytesIn(const QByteArray &bytes)
{
    m_recent += bytes;
    if (m_recent.size() > kRecentKept)
        m_recent.remove(0, m_recent.size() - kRecentKept);
}

QString WireWatch::liveReadings(qint32 rpm, qint32 tinj, qint32 pump, qint32 pause) const
{
    const QByteArray frame = QByteArray("CU\x03", 3) + word(rpm) + word(tinj) + word(pump) + word(pause);
    if (m_recent.contains(frame))
        return {};
    return QStringLiteral("the readings show %1 rpm, %2 injection, %3 pump, %4 pause: no status frame on the line said so")
        .arg(rpm).arg(tinj).arg(pump).arg(pause);
}

} // namespace oe
