// The commands that write to the controller: load, set and reset.
#include "clirunner.h"
#include "clitexts.h"

#include "maptexts.h"
#include "writeplan.h"
#include "numbertexts.h"
#include "restorepoints.h"
#include "valuerule.h"
#include "valuetexts.h"
#include "writeplan.h"

#include <QDir>

namespace oe {

// A map file is read whole, and set's values judged, before the port is opened.
bool CliRunner::checkInput()
{
    using Command = CliOptions::Command;
    // verify writes nothing: what a question would be about does not stop it.
    if (m_options.command == Command::Load || m_options.command == Command::Program)
        return checkLoadFile(true);
    if (m_options.command == Command::Verify)
        return checkLoadFile(false);
    if (m_options.command == Command::Set)
        return checkSetValues();
    return true;
}

QString CliRunner::verdictText(const ValueVerdict &verdict) const
{
    return valueVerdictText(verdict, m_captions,
                            {[](ParameterIndex index) { return paramKey(index); },
                             [](ParameterIndex, qint32 value) { return plainNumberText(value); }});
}

// The file whole, by the value rule: a script gets no question, so whatever the window would only
// ask about (a value past a slider's end, a line named otherwise than its place) is refused unless
// the command line allows it.
// Values beyond a slider among those to be written are refused unless the command line allows them.
bool CliRunner::refuseBeyondSlider(const Session::ParameterMask &written)
{
    if (m_options.allowOutsideRange)
        return true;
    QStringList refused;
    for (const ValueVerdict &v : m_mapCheck.values) {
        if (v.beyondSlider && written[size_t(v.index)])
            refused << QStringLiteral("%1 %2").arg(paramKey(v.index), verdictText(v));
    }
    if (refused.isEmpty())
        return true;
    finish(CliExit::InvalidInput, caption(CliWord::OutsideRange).arg(refused.join(QStringLiteral("; "))));
    return false;
}

bool CliRunner::checkLoadFile(bool writes)
{
    const MapReadResult map = readMapFile(m_options.file);
    const MapCheck check = map.ok ? checkMap(map) : MapCheck{};
    // A file that cannot be read is not an invalid one: its name and why.
    if (!map.ok && map.error.kind == MapFileError::Kind::CannotRead) {
        finish(CliExit::InvalidInput, QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(m_options.file),
                                                                   mapErrorText(map.error, m_captions)));
        return false;
    }
    if (!map.ok || !check.ok) {
        finish(CliExit::InvalidInput, caption(Caption::MapInvalid) + QLatin1Char(' ')
                                          + mapErrorText(map.ok ? check.refusal : map.error, m_captions));
        return false;
    }
    m_mapCheck = check;
    // program writes the file to controllers not yet read: every value counts. load judges only the
    // values it would write, once it knows what the controller holds (runLoad).
    if (m_options.command == CliOptions::Command::Program && !refuseBeyondSlider({true, true, true, true, true, true, true, true}))
        return false;
    QStringList refused;
    if (writes && !m_options.byPosition && !map.keyNotes.isEmpty()) {
        for (const MapKeyNote &note : map.keyNotes)
            refused << mapKeyNoteText(note, m_captions);
        finish(CliExit::InvalidInput, caption(CliWord::ByPosition).arg(refused.join(QLatin1Char(' '))));
        return false;
    }
    m_mapValues = map.values;
    m_mapKeyNotes = map.keyNotes;
    return true;
}

// Each value alone, before the controller is asked; the pairs follow once its values are known.
// A command takes a value exactly: one the rule would round is refused, not changed.
bool CliRunner::checkSetValues()
{
    ValueContext context;
    context.allowBeyondSlider = m_options.allowOutsideRange;
    for (const auto &[index, text] : std::as_const(m_options.values)) {
        const ValueVerdict v = judgeValue(index, text, context);
        if (!v.accepted() || v.changed()) {
            finish(CliExit::InvalidInput, QStringLiteral("%1=%2: %3; %4").arg(paramKey(index), text, verdictText(v),
                                                                              caption(CliWord::NothingSent)));
            return false;
        }
        m_setValues.append({index, v.value});
    }
    return true;
}

void CliRunner::runLoad()
{
    QJsonArray changes;
    QStringList lines;
    ParameterMask write{};
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const qint32 to = m_mapValues[size_t(i)];
        // Against the controller's own report: an equal value is not written again, an unknown one is.
        const auto now = m_session->controllerValue(index);
        if (now == to)
            continue;
        write[size_t(i)] = true;
        QJsonObject change{{QStringLiteral("name"), paramKey(index)}, {QStringLiteral("to"), to}};
        if (now)
            change.insert(QStringLiteral("from"), *now);
        changes.append(change);
        QString line = QStringLiteral("%1: %2 → %3").arg(paramKey(index), valueText(index), displayText(index, to));
        const QString why = verdictText(m_mapCheck.values[size_t(i)]);
        if (!why.isEmpty())
            line += QStringLiteral(" (%1)").arg(why);
        lines << line;
    }
    // Lines named otherwise than we name them are still read by position; the user sees how.
    QJsonArray notes;
    for (const MapKeyNote &note : std::as_const(m_mapKeyNotes)) {
        notes.append(mapKeyNoteText(note, m_captions));
        out(mapKeyNoteText(note, m_captions));
    }
    m_json.insert(QStringLiteral("file"), m_options.file);
    m_json.insert(QStringLiteral("notes"), notes);
    m_json.insert(QStringLiteral("changes"), changes);
    if (!refuseBeyondSlider(write))
        return;
    if (lines.isEmpty()) {
        // Nothing to write and nothing to ask: the controller holds the file already.
        out(caption(Caption::MapAlreadyMatches));
        finish(CliExit::Done);
        return;
    }
    ParameterSet values;
    for (int i = 0; i < kParameterCount; ++i)
        values[ParameterIndex(i)] = m_mapValues[size_t(i)];
    if (!checkPlan(values, write))
        return;
    for (const QString &line : std::as_const(lines))
        out(line);
    if (!m_options.yes && !confirm(caption(Caption::MapQuestion))) {
        finish(CliExit::Interrupted, caption(CliWord::Declined));
        return;
    }
    if (m_phase == Phase::Done)
        return; // interrupted while asking
    if (!backupBeforeWriting(RestoreCause::Load))
        return;
    writePlanned(QStringLiteral("load"), values, write, [this] { reportLoad(); });
}

// The pairs as they would stand after every single write, against what the controller holds: a set
// of values that cannot be written without crossing one, or beside a partner not known, is refused
// before anything is sent. False when the command has finished.
bool CliRunner::checkPlan(const ParameterSet &wanted, const ParameterMask &write)
{
    const WritePlan plan = planWrites(heldKnown(), wanted, write);
    if (plan.ok())
        return true;
    if (plan.refusal == WritePlan::Refusal::PartnerUnknown) {
        finish(CliExit::NoAnswer, QStringLiteral("%1; %2").arg(caption(CliWord::PartnerNotRead).arg(paramKey(plan.partner), paramKey(plan.index)),
                                                               caption(CliWord::NothingSent)));
        return false;
    }
    const auto valueOf = [&](ParameterIndex index) {
        return write[size_t(index)] ? wanted[index] : *m_session->controllerValue(index);
    };
    ValueContext context;
    context.allowBeyondSlider = true; // each value was judged alone before the port opened
    context.pairCheck = true;
    context.partnerValue = valueOf(plan.partner);
    const ValueVerdict v = judgeValue(plan.index, double(valueOf(plan.index)), context);
    const auto named = [&](ParameterIndex index) {
        return QStringLiteral("%1=%2%3").arg(paramKey(index)).arg(valueOf(index))
            .arg(write[size_t(index)] ? QString() : QStringLiteral(" (held)"));
    };
    // The rule's words without the value it would have written instead: nothing is changed here.
    finish(CliExit::InvalidInput, QStringLiteral("%1, %2: %3; %4")
                                      .arg(named(plan.index), named(plan.partner), verdictText(v).section(QStringLiteral(": "), 1),
                                           caption(CliWord::NothingSent)));
    return false;
}

KnownValues CliRunner::heldKnown() const
{
    KnownValues held{};
    for (int i = 0; i < kParameterCount; ++i)
        held[size_t(i)] = m_session->controllerValue(ParameterIndex(i));
    return held;
}

void CliRunner::writePlanned(const QString &what, const ParameterSet &wanted, const ParameterMask &write,
                             std::function<void()> then)
{
    m_phase = Phase::Sequence;
    m_steps.clear();
    if (!m_restorePoint.isEmpty())
        pruneRestorePoints(mapsFolder(), m_restorePoint);
    const WritePlan plan = planWrites(heldKnown(), wanted, write);
    m_plan.start(m_session, plan,
                 [this, what](const PlannedWrite &w, int number, int count) {
                     err(QStringLiteral("%1 %2/%3: %4").arg(what).arg(number).arg(count)
                             .arg(caption(CliWord::WriteStep).arg(paramKey(w.index)).arg(w.value)));
                 },
                 [this, write, then = std::move(then)] {
                     if (m_phase != Phase::Sequence)
                         return;
                     const WritePlanResult &result = m_plan.result();
                     if (result.count(WriteOutcome::Unanswered) > 0) {
                         finish(CliExit::NoAnswer, caption(CliWord::UnansweredStop));
                         return;
                     }
                     if (result.count(WriteOutcome::Refused) > 0) {
                         finish(CliExit::ReadBackDiffers, caption(CliWord::RefusedStop));
                         return;
                     }
                     // Every write echoed as sent: the values are read back and told twice alike.
                     auto left = std::make_shared<int>(0);
                     for (int i = 0; i < kParameterCount; ++i)
                         *left += write[size_t(i)] ? 1 : 0;
                     err(caption(CliWord::ReadingBack).arg(*left));
                     for (int i = 0; i < kParameterCount; ++i) {
                         if (!write[size_t(i)])
                             continue;
                         m_session->ReadParameter(quint8(i), [this, left, then](bool) {
                             if (--*left == 0 && m_phase == Phase::Sequence)
                                 m_session->verifyNow([this, then] { if (m_phase == Phase::Sequence) then(); });
                         });
                     }
                 });
}

void CliRunner::reportLoad()
{
    QStringList unanswered, differing;
    QJsonArray readBack;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const qint32 sent = m_mapValues[size_t(i)];
        QJsonObject p{{QStringLiteral("name"), paramKey(index)},
                      {QStringLiteral("sent"), sent},
                      {QStringLiteral("confirmed"), m_plan.result().outcome[size_t(i)] == WriteOutcome::Written}};
        const auto now = m_session->controllerValue(index);
        if (!now) {
            unanswered << paramKey(index);
        } else {
            p.insert(QStringLiteral("readBack"), *now);
            if (*now != sent)
                differing << QStringLiteral("%1: %2 → %3").arg(paramKey(index), displayText(index, sent), displayText(index, *now));
        }
        readBack.append(p);
    }
    m_json.insert(QStringLiteral("readBack"), readBack);
    if (!unanswered.isEmpty()) {
        finish(CliExit::NoAnswer, caption(CliWord::ReadBackUnanswered).arg(unanswered.join(QStringLiteral(", "))));
        return;
    }
    if (!differing.isEmpty()) {
        out(caption(Caption::MapDiffers));
        for (const QString &line : std::as_const(differing))
            out(line);
        finish(CliExit::ReadBackDiffers, caption(CliWord::HoldsOtherValues).arg(differing.join(QStringLiteral("; "))));
        return;
    }
    out(caption(Caption::MapAllMatch));
    finish(CliExit::Done);
}

void CliRunner::runSet()
{
    // Judged together before anything is sent: the given values against each other and against what
    // the controller holds, at every step of the session's write order. A value the pair rule would
    // move is refused, never changed.
    ParameterSet wanted = m_session->controllerValues();
    ParameterMask write{};
    for (const auto &[index, value] : std::as_const(m_setValues)) {
        wanted[index] = value;
        write[size_t(index)] = true;
    }
    if (!checkPlan(wanted, write))
        return;
    writePlanned(QStringLiteral("set"), wanted, write, [this] { verifySet(); });
}

void CliRunner::verifySet()
{
    QStringList unanswered, differing;
    QJsonArray readBack;
    for (const auto &[index, value] : std::as_const(m_setValues)) {
        QJsonObject p{{QStringLiteral("name"), paramKey(index)}, {QStringLiteral("sent"), value}};
        const auto now = m_session->controllerValue(index);
        if (!now) {
            unanswered << paramKey(index);
        } else {
            p.insert(QStringLiteral("readBack"), *now);
            if (*now != value)
                differing << QStringLiteral("%1: %2 → %3").arg(paramKey(index), displayText(index, value), valueText(index));
        }
        readBack.append(p);
    }
    m_json.insert(QStringLiteral("readBack"), readBack);
    printParameters();
    if (!unanswered.isEmpty())
        finish(CliExit::NoAnswer, caption(CliWord::ReadBackUnanswered).arg(unanswered.join(QStringLiteral(", "))));
    else if (!differing.isEmpty())
        finish(CliExit::ReadBackDiffers, caption(CliWord::HoldsOtherValues).arg(differing.join(QStringLiteral("; "))));
    else
        finish(CliExit::Done);
}

bool CliRunner::confirm(const QString &question)
{
    const std::optional<QByteArray> answer = m_ask(question + QLatin1Char(' ') + caption(CliWord::YesNo));
    return answer && cliAnswerIsYes(*answer, m_languageCode == QLatin1String("ITA"));
}

void CliRunner::runReset()
{
    if (!m_options.yes && !confirm(caption(Caption::ResetQuestion))) {
        finish(CliExit::Interrupted, caption(CliWord::Declined));
        return;
    }
    if (m_phase == Phase::Done)
        return;
    if (!backupBeforeWriting(RestoreCause::Reset))
        return;
    QStringList steps{QStringLiteral("reset")};
    for (int i = 0; i < kParameterCount; ++i)
        steps << QStringLiteral("read %1").arg(paramKey(ParameterIndex(i)));
    beginSteps(QStringLiteral("reset"), steps);
    if (!m_session->reset()) {
        finish(CliExit::NoAnswer, caption(Caption::PortLost));
        return;
    }
    if (!m_restorePoint.isEmpty())
        pruneRestorePoints(mapsFolder(), m_restorePoint);
}

void CliRunner::finishReset()
{
    const bool allRead = m_session->allParametersKnown();
    m_json.insert(QStringLiteral("resetConfirmed"), m_resetAcknowledged);
    printParameters();
    if (!m_resetAcknowledged)
        finish(CliExit::NoAnswer, caption(Caption::ResetNotConfirmed));
    else if (!allRead)
        finish(CliExit::NoAnswer, caption(CliWord::ResetReadBackUnanswered));
    else
        finish(CliExit::Done);
}

} // namespace oe
