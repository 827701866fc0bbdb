#include "writeplan.h"

#include "valuerule.h"

#include <algorithm>

namespace oe {

namespace {

struct Pair {
    ParameterIndex lower, upper;
};

// Each pair by the bound that must stay below: the pause pair's maximum-load pause is the shorter.
constexpr std::array<Pair, 3> kPairs{{
    {ParameterIndex::MinPumpCycles, ParameterIndex::MaxPumpCycles},
    {ParameterIndex::TinjMin, ParameterIndex::TinjMax},
    {ParameterIndex::MaxLoadPumpPause, ParameterIndex::MinLoadPumpPause},
}};

int at(ParameterIndex index) { return int(index); }

} // namespace

WritePlan planWrites(const KnownValues &held, const ParameterSet &wanted, const ParameterMask &write)
{
    WritePlan plan;
    std::array<bool, kParameterCount> due{};
    for (int i = 0; i < kParameterCount; ++i)
        due[i] = write[i] && held[i] != wanted[ParameterIndex(i)];

    auto refuse = [&](WritePlan::Refusal why, ParameterIndex index, ParameterIndex partner) {
        plan.refusal = why;
        plan.index = index;
        plan.partner = partner;
        plan.writes.clear();
        return plan;
    };

    // Each pair's writes, in the order that keeps it in order after each one.
    std::array<QList<ParameterIndex>, kParameterCount> orderOf{};
    for (const Pair &pair : kPairs) {
        const int lo = at(pair.lower), hi = at(pair.upper);
        if (!due[lo] && !due[hi])
            continue;
        const std::optional<qint32> newLo = write[lo] ? std::optional(wanted[pair.lower]) : held[lo];
        const std::optional<qint32> newHi = write[hi] ? std::optional(wanted[pair.upper]) : held[hi];
        const ParameterIndex judged = due[lo] ? pair.lower : pair.upper;
        const ParameterIndex other = judged == pair.lower ? pair.upper : pair.lower;
        if (!newLo || !newHi)
            return refuse(WritePlan::Refusal::PartnerUnknown, judged, other);
        if (*newLo > *newHi)
            return refuse(WritePlan::Refusal::Crossed, judged, other);
        if (!due[lo] || !due[hi]) {
            orderOf[due[lo] ? lo : hi] = {due[lo] ? pair.lower : pair.upper};
            continue;
        }
        // Both move. The lower bound first is safe while it stays at or under the upper bound the
        // controller holds; the upper bound first while the held lower bound stays at or under it.
        const bool lowerFirstSafe = held[hi] && *newLo <= *held[hi];
        const bool upperFirstSafe = held[lo] && *held[lo] <= *newHi;
        if (!lowerFirstSafe && !upperFirstSafe) {
            // Only a pair held crossed (or half unknown) gets here; an unknown half cannot be judged.
            if (!held[lo] || !held[hi])
                return refuse(WritePlan::Refusal::PartnerUnknown, judged, other);
        }
        const bool upperFirst = !lowerFirstSafe && upperFirstSafe;
        orderOf[lo] = upperFirst ? QList{pair.upper, pair.lower} : QList{pair.lower, pair.upper};
    }

    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const std::optional<ParameterIndex> partner = pairPartner(index);
        if (!partner) {
            if (due[i])
                plan.writes.append({index, wanted[index]});
            continue;
        }
        for (ParameterIndex each : orderOf[i])
            plan.writes.append({each, wanted[each]});
    }
    return plan;
}

QString writeOutcomeName(WriteOutcome outcome)
{
    switch (outcome) {
    case WriteOutcome::NotPlanned: return QStringLiteral("unchanged");
    case WriteOutcome::Written: return QStringLiteral("written");
    case WriteOutcome::Refused: return QStringLiteral("refused");
    case WriteOutcome::Unanswered: return QStringLiteral("unanswered");
    case WriteOutcome::NotSent: return QStringLiteral("not sent");
    }
    return {};
}

bool WritePlanResult::complete() const
{
    return count(WriteOutcome::Refused) == 0 && count(WriteOutcome::Unanswered) == 0
           && count(WriteOutcome::NotSent) == 0;
}

int WritePlanResult::count(WriteOutcome which) const
{
    return int(std::count(outcome.begin(), outcome.end(), which));
}

WritePlanRun::WritePlanRun(WritePlan plan)
    : m_plan(std::move(plan))
{
    m_result.outcome.fill(WriteOutcome::NotPlanned);
    for (const PlannedWrite &w : m_plan.writes)
        m_result.outcome[at(w.index)] = WriteOutcome::NotSent;
}

std::optional<PlannedWrite> WritePlanRun::next() const
{
    if (finished())
        return std::nullopt;
    return m_plan.writes[m_position];
}

bool WritePlanRun::echoed(std::optional<qint32> echo)
{
    const std::optional<PlannedWrite> w = next();
    if (!w)
        return false;
    const int i = at(w->index);
    m_result.echoed[i] = echo;
    if (!echo)
        m_result.outcome[i] = WriteOutcome::Unanswered;
    else if (*echo != w->value)
        m_result.outcome[i] = WriteOutcome::Refused;
    else
        m_result.outcome[i] = WriteOutcome::Written;
    ++m_position;
    m_stopped = m_result.outcome[i] != WriteOutcome::Written;
    return !finished();
}

void WritePlanRun::abandon(bool writeOut)
{
    if (const std::optional<PlannedWrite> w = next(); w && writeOut)
        m_result.outcome[at(w->index)] = WriteOutcome::Unanswered;
    m_stopped = true;
}

} // namespace oe
