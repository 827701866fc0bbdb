#pragma once

#include "parameterset.h"

#include <QList>

#include <array>
#include <optional>

namespace oe {

// Two equal answers decide: the value two of the answers agree on, or nothing while no two agree. An
// unanswered request (nullopt) agrees with nothing. Among three answers the first pair found is the
// only one possible. Parameter reads and the identification are judged by it.
template<typename T>
std::optional<T> agreedAnswer(const QList<std::optional<T>> &answers)
{
    for (qsizetype a = 0; a < answers.size(); ++a) {
        for (qsizetype b = a + 1; b < answers.size(); ++b) {
            if (answers[a] && answers[a] == answers[b])
                return answers[a];
        }
    }
    return std::nullopt;
}

// What the controller holds, as far as this session knows: per parameter a state and the value the
// controller reported. It is the only record of reported values; what a window shows, what a map
// saves, what an interlock compares with and what oe-cli prints are read from here.
//
// The line has no checksum: a read answer with one bit flipped can hold a value that looks right. So
// a read's answer, and a write's echo, is only a first answer: the parameter is being verified until a
// read agrees with it (a third answer when the two differ; two equal answers decide), and without two
// equal answers it is unknown. A value is whatever the controller holds, 0 to 65535, also outside its slider's range.
class ParameterBook
{
public:
    enum class State {
        Unknown,   // nothing the controller said holds now: never read, a read unanswered, answers
                   // that never agreed, or the controller may have changed it (a reset, a map load)
        Verifying, // one answer came, its check is due; the value is that answer
        Known,     // two answers agreed (a write's echo is one of them)
        Writing,   // a write is on its way; the value is the one before it, if there was one
    };
    // How a verification read ended.
    enum class Verdict {
        ReadAgain, // no decision yet: read this parameter once more
        Confirmed, // the first answer holds
        Changed,   // two answers agree on another value: that is the controller's
        Unknown,   // no two answers agree
    };

    State state(ParameterIndex index) const { return m_entries[size_t(index)].state; }
    // The controller's value: set while Verifying and Known, and while Writing when it was before.
    std::optional<qint32> value(ParameterIndex index) const { return m_entries[size_t(index)].value; }
    bool hasValue(ParameterIndex index) const { return value(index).has_value(); }

    // A read's answer (nullopt: none came). An answer starts its verification; no answer leaves the
    // parameter unknown.
    void readAnswered(ParameterIndex index, std::optional<qint32> answer);
    // The answer of a verification read of the parameter nextToVerify() gave (nullopt: none came).
    Verdict checkAnswered(ParameterIndex index, std::optional<qint32> answer);
    // The controller echoed the value written. An echo is one answer, like a read's: a bit flipped
    // on the line, or a noise byte that took the place of its last one in a gap, can make the echo
    // of a write the controller clamped or refused say the value written. It is checked by a read.
    void echoed(ParameterIndex index, qint32 value);
    void writeStarted(ParameterIndex index);
    void forget(ParameterIndex index);
    void forgetAll();

    // The parameter to check in the next gap, in index order.
    std::optional<ParameterIndex> nextToVerify() const;
    bool verifying() const { return nextToVerify().has_value(); }

private:
    struct Entry {
        State state = State::Unknown;
        std::optional<qint32> value;
        // Answers of the verification reads so far (nullopt: unanswered).
        QList<std::optional<qint32>> checks;
    };
    void set(ParameterIndex index, State state, std::optional<qint32> value);

    std::array<Entry, kParameterCount> m_entries{};
};

} // namespace oe
