#pragma once

#include "parameterbook.h"

#include <QString>

#include <array>
#include <map>

namespace oe {

// Progress while the controller answers: no parameter left Writing or Verifying (or Unknown, where
// that is judged) and no Save or commit decision left waiting, for longer than kBoundMs. The time
// counts from the latest of: the state's start, the end of the controller's last silent spell, the
// close of the last box (a box holds the poll, and the checks go in the poll's gaps).
class ProgressWatch
{
public:
    // Ten poll gaps of verification reads on a noisy line, twice over, and a request's three tries
    // on top: a session that answers in time never comes near it.
    static constexpr qint64 kBoundMs = 20000;

    explicit ProgressWatch(bool judgeUnknown) : m_judgeUnknown(judgeUnknown) {}

    // Something that holds the wait back for a good reason: the controller silent, a box open, no
    // session.
    void holdUntil(qint64 atMs) { m_heldUntil = qMax(m_heldUntil, atMs); }
    // The session ended: nothing it waited for can still come.
    void sessionEnded(qint64 nowMs);
    quint64 waitBegins(qint64 nowMs, const char *what);
    void waitEnds(quint64 id) { m_waits.erase(id); }
    // The book as it is now; returns what is stuck, or an empty text.
    QString check(const ParameterBook &book, qint64 nowMs);

private:
    struct Wait {
        qint64 sinceMs;
        const char *what;
    };
    bool m_judgeUnknown;
    qint64 m_heldUntil = 0;
    std::array<ParameterBook::State, 8> m_states{};
    std::array<qint64, 8> m_since{};
    std::map<quint64, Wait> m_waits;
    quint64 m_nextWait = 0;
};

} // namespace oe
