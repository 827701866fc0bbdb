#pragma once

#include "linequality.h"

#include <QByteArray>
#include <QString>

namespace oe {

// What the protocol promises on the wire, judged from the frames that go out, the tries as they end
// and the bytes that come in: each request tried exactly three times unless answered, the poll never
// sooner than its interval after the last exchange, and the live readings those of a status frame that
// was on the line. Each call returns what broke, or an empty text.
class WireWatch
{
public:
    // The protocol's numbers, written here and not taken from the engine: a fault in the engine's own
    // constants must show.
    static constexpr int kTries = 3;
    static constexpr qint64 kPollGapMs = 500;

    // The session ended: what was in flight went with it, unjudged.
    void sessionEnded();
    // A request left the queue (status: it is the poll's).
    QString requestStarted(bool status);
    // Sets invariant to the one broken.
    QString frameOut(qint64 nowMs, QString *invariant);
    void tryEnded(TryEnd end, qint64 nowMs);
    // No request in flight any more.
    QString requestGone();
    void bytesIn(const QByteArray &bytes);
    // The readings the session shows now.
    QString liveReadings(qint32 rpm, qint32 tinj, qint32 pump, qint32 pause) const;

private:
    bool m_live = false;   // a request started and not judged yet
    bool m_status = false;
    bool m_answered = false;
    int m_frames = 0;
    int m_triesEnded = 0;
    qint64 m_lastTryEndAt = -1;
    bool m_firstOfRequest = false;
    // The last bytes that came in, where every status frame the session took must lie.
    QByteArray m_recent;
};

} // namespace oe
