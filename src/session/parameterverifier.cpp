#include "parameterverifier.h"

namespace oe {

namespace {
// The sequence's read and at most two more.
constexpr qsizetype kMostAnswers = 3;
} // namespace

void ParameterVerifier::start(const std::array<std::optional<qint32>, kParameterCount> &firstAnswers)
{
    clear();
    for (int i = 0; i < kParameterCount; ++i) {
        if (firstAnswers[size_t(i)])
            add(ParameterIndex(i), *firstAnswers[size_t(i)]);
    }
}

void ParameterVerifier::add(ParameterIndex index, qint32 firstAnswer)
{
    m_answers[size_t(index)] = {firstAnswer};
    if (m_order.contains(index))
        return;
    qsizetype at = 0;
    while (at < m_order.size() && m_order[at] < index)
        ++at;
    m_order.insert(at, index);
}

std::optional<ParameterIndex> ParameterVerifier::next() const
{
    return m_order.isEmpty() ? std::nullopt : std::optional(m_order.first());
}

ParameterVerifier::Outcome ParameterVerifier::answer(ParameterIndex index, std::optional<qint32> value)
{
    QList<std::optional<qint32>> &answers = m_answers[size_t(index)];
    if (answers.isEmpty() || next() != index)
        return {Verdict::ReadAgain, 0}; // not in this pass (any more)
    answers.append(value);
    const std::optional<qint32> first = answers.first();
    Outcome outcome{Verdict::ReadAgain, 0};
    // Two equal answers decide; the first pair found is the only one possible among three answers.
    for (qsizetype a = 0; a < answers.size() && outcome.verdict == Verdict::ReadAgain; ++a) {
        for (qsizetype b = a + 1; b < answers.size(); ++b) {
            if (answers[a] && answers[a] == answers[b]) {
                outcome = {*answers[a] == *first ? Verdict::Confirmed : Verdict::Changed, *answers[a]};
                break;
            }
        }
    }
    if (outcome.verdict == Verdict::ReadAgain && answers.size() >= kMostAnswers)
        outcome.verdict = Verdict::Unknown;
    if (outcome.verdict != Verdict::ReadAgain)
        forget(index);
    return outcome;
}

void ParameterVerifier::forget(ParameterIndex index)
{
    m_answers[size_t(index)].clear();
    m_order.removeAll(index);
}

void ParameterVerifier::clear()
{
    for (auto &answers : m_answers)
        answers.clear();
    m_order.clear();
}

} // namespace oe
