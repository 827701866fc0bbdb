#include "parameterbook.h"

namespace oe {

namespace {
// The first answer and at most two checks.
constexpr qsizetype kMostChecks = 2;
} // namespace

void ParameterBook::set(ParameterIndex index, State state, std::optional<qint32> value)
{
    Entry &entry = m_entries[size_t(index)];
    entry.state = state;
    entry.value = value;
    entry.checks.clear();
}

void ParameterBook::readAnswered(ParameterIndex index, std::optional<qint32> answer)
{
    set(index, answer ? State::Verifying : State::Unknown, answer);
}

ParameterBook::Verdict ParameterBook::checkAnswered(ParameterIndex index, std::optional<qint32> answer)
{
    Entry &entry = m_entries[size_t(index)];
    if (entry.state != State::Verifying)
        return Verdict::ReadAgain; // not being checked (any more): an echo or a sequence came first
    entry.checks.append(answer);
    QList<std::optional<qint32>> answers{entry.value};
    answers += entry.checks;
    if (const std::optional<qint32> agreed = agreedAnswer(answers)) {
        const Verdict verdict = *agreed == *entry.value ? Verdict::Confirmed : Verdict::Changed;
        set(index, State::Known, agreed);
        return verdict;
    }
    if (entry.checks.size() < kMostChecks)
        return Verdict::ReadAgain;
    set(index, State::Unknown, std::nullopt);
    return Verdict::Unknown;
}

void ParameterBook::echoed(ParameterIndex index, qint32 value)
{
    set(index, State::Verifying, value);
}

void ParameterBook::writeStarted(ParameterIndex index)
{
    set(index, State::Writing, value(index));
}

void ParameterBook::forget(ParameterIndex index)
{
    set(index, State::Unknown, std::nullopt);
}

void ParameterBook::forgetAll()
{
    for (int i = 0; i < kParameterCount; ++i)
        forget(ParameterIndex(i));
}

std::optional<ParameterIndex> ParameterBook::nextToVerify() const
{
    for (int i = 0; i < kParameterCount; ++i) {
        if (m_entries[size_t(i)].state == State::Verifying)
            return ParameterIndex(i);
    }
    return std::nullopt;
}

} // namespace oe
