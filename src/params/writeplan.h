#pragma once

// The one order in which values go to the controller. The controller checks nothing: between two
// writes it holds whatever the first one left, so a map load that raises TinjMin/TinjMax from
// 1500/12000 to 14000/15000 in index order holds 14000 over 12000 until the second write lands, and
// for good when that write is refused or the cable goes. Every writer (a slider's commit, a map load,
// Undo and Restore, oe-cli set, load and program) asks this plan for its order and stops it at the
// first write that does not come back as sent.

#include "parameterset.h"

#include <QList>
#include <QString>

#include <array>
#include <optional>

namespace oe {

// What a writer knows of the controller: a value per parameter where it is confirmed, nothing where
// it is not.
using KnownValues = std::array<std::optional<qint32>, kParameterCount>;
// Which parameters a writer wants written.
using ParameterMask = std::array<bool, kParameterCount>;
inline constexpr ParameterMask kAllParameters{true, true, true, true, true, true, true, true};

struct PlannedWrite {
    ParameterIndex index{};
    qint32 value = 0;
    friend bool operator==(const PlannedWrite &, const PlannedWrite &) = default;
};

struct WritePlan {
    enum class Refusal {
        None,
        // A pair the writes would leave crossed: both named values, or one value against what the
        // controller holds for its partner.
        Crossed,
        // A value is to be written beside a partner whose value the controller has not confirmed:
        // nothing can tell whether it would cross. Confirm the partner first.
        PartnerUnknown,
    };
    Refusal refusal = Refusal::None;
    // For a refusal: the parameter whose value was judged, and its partner.
    ParameterIndex index{};
    ParameterIndex partner{};
    // The writes in the order that keeps every pair in order after each one; only the parameters
    // marked and not already holding the wanted value.
    QList<PlannedWrite> writes;

    bool ok() const { return refusal == Refusal::None; }
};

// The order of writes that takes the controller from held to wanted (only the marked parameters)
// with every pair in order after each single write: a pair raised past its old upper bound writes the
// upper bound first, otherwise the lower bound goes first (the pause pair mirrored: its maximum-load
// pause is the lower bound). A marked value equal to the one held is left out. A pair the controller
// holds crossed already (an erased memory) is put in order by the first write that can; the plan is
// refused only when the wanted values would leave a pair crossed, or a partner needed to judge it is
// unknown.
WritePlan planWrites(const KnownValues &held, const ParameterSet &wanted, const ParameterMask &write = kAllParameters);

// How one write of a plan ended. The names are what oe-cli prints and logs.
enum class WriteOutcome {
    NotPlanned, // not in the plan (not marked, or already held)
    Written,    // echoed with the value sent
    Refused,    // echoed, with another value than the one sent (refused or clamped)
    Unanswered, // no echo in the protocol's tries, or the port went
    NotSent,    // the plan stopped before it
};
QString writeOutcomeName(WriteOutcome outcome);

// The outcome of a plan run: one entry per parameter, and the value the controller echoed where it did.
struct WritePlanResult {
    std::array<WriteOutcome, kParameterCount> outcome{};
    std::array<std::optional<qint32>, kParameterCount> echoed{};

    // Every planned write was echoed with its value.
    bool complete() const;
    int count(WriteOutcome which) const;
};

// A writer's running account of a plan: feed it each write's echo in the plan's order; it says when to
// stop (the first write not echoed as sent) and marks everything after it NotSent.
class WritePlanRun
{
public:
    explicit WritePlanRun(WritePlan plan);
    // The next write to send, or nothing when the plan is done or stopped.
    std::optional<PlannedWrite> next() const;
    // The echo of next() (nullopt: unanswered). Returns whether the plan goes on.
    bool echoed(std::optional<qint32> echo);
    // Ends the run where it stands (the session ended, the port went): the write out, when one is, is
    // unanswered; the rest stays NotSent.
    void abandon(bool writeOut);
    bool finished() const { return m_position >= m_plan.writes.size() || m_stopped; }
    const WritePlan &plan() const { return m_plan; }
    const WritePlanResult &result() const { return m_result; }

private:
    WritePlan m_plan;
    qsizetype m_position = 0;
    bool m_stopped = false;
    WritePlanResult m_result;
};

} // namespace oe
