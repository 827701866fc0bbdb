#pragma once

#include "parameterset.h"

#include <QList>

#include <array>
#include <optional>

namespace oe {

// The line has no checksum: a read answer with one bit flipped can hold a value that looks right. So
// every answered read (the eight of a connect, a reset or a map load, and any single one) is followed
// by one more; a value that differs is read a third time, and two equal answers decide. Without two
// equal answers the value is not known.
//
// This keeps the pass's bookkeeping; the session does the reads, one per gap between status polls.
class ParameterVerifier
{
public:
    enum class Verdict {
        ReadAgain, // no decision yet: read this parameter once more
        Confirmed, // the value the sequence read holds
        Changed,   // two answers agree on another value: that is the controller's
        Unknown,   // no two answers agree
    };
    struct Outcome {
        Verdict verdict = Verdict::ReadAgain;
        qint32 value = 0; // for Confirmed and Changed
    };

    // Starts a pass over the parameters that have a first answer; a pass already running is dropped.
    void start(const std::array<std::optional<qint32>, kParameterCount> &firstAnswers);
    // Puts one parameter (back) into the pass with a new first answer; the pass keeps index order.
    void add(ParameterIndex index, qint32 firstAnswer);
    // The parameter to read in the next gap, if any.
    std::optional<ParameterIndex> next() const;
    // The answer of a verification read of the parameter next() gave (nullopt: none came).
    Outcome answer(ParameterIndex index, std::optional<qint32> value);
    // The parameter no longer needs checking: a commit's echo told its value.
    void forget(ParameterIndex index);
    void clear();
    bool running() const { return !m_order.isEmpty(); }
    bool pending(ParameterIndex index) const { return m_order.contains(index); }

private:
    std::array<QList<std::optional<qint32>>, kParameterCount> m_answers{};
    QList<ParameterIndex> m_order;
};

} // namespace oe
