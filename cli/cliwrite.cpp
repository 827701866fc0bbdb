// The commands that write to the controller: load, set and reset.
#include "clirunner.h"
#include "clitexts.h"

#include "maptexts.h"
#include "writeplan.h"
#include "numbertexts.h"
#include "valuerule.h"
#include "valuetexts.h"

#include <QDir>
#include <QMap>

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
    finish(CliExit::InvalidInput, QStringLiteral("%1; nothing sent (--allow-outside-range sends such values)")
                                      .arg(refused.join(QStringLiteral("; "))));
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
        finish(CliExit::InvalidInput, QStringLiteral("%1 Nothing sent (--by-position takes the lines by their place).")
                                          .arg(refused.join(QLatin1Char(' '))));
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
            finish(CliExit::InvalidInput, QStringLiteral("%1=%2: %3; nothing sent").arg(paramKey(index), text, verdictText(v)));
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
    Session::ParameterMask write{};
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
    for (const QString &line : std::as_const(lines))
        out(line);
    if (!m_options.yes && !m_ask(caption(Caption::MapQuestion))) {
        finish(CliExit::Interrupted, caption(CliWord::Declined));
        return;
    }
    if (m_phase == Phase::Done)
        return; // interrupted while asking
    if (!backupBeforeWriting(RestoreCause::Load))
        return;
    ParameterSet values;
    KnownValues held{};
    for (int i = 0; i < kParameterCount; ++i) {
        values[ParameterIndex(i)] = m_mapValues[size_t(i)];
        if (m_session->parameterConfirmed(ParameterIndex(i)))
            held[size_t(i)] = m_session->controllerValue(ParameterIndex(i));
    }
    // The session writes in the write plan's order and reads back what it wrote.
    const WritePlan plan = planWrites(held, values, write);
    QStringList steps;
    std::array<bool, kParameterCount> planned{};
    for (const PlannedWrite &w : plan.writes) {
        steps << QStringLiteral("write %1=%2").arg(paramKey(w.index)).arg(w.value);
        planned[size_t(w.index)] = true;
    }
    for (int i = 0; i < kParameterCount; ++i) {
        if (planned[size_t(i)])
            steps << QStringLiteral("read %1").arg(paramKey(ParameterIndex(i)));
    }
    beginSteps(QStringLiteral("load"), steps);
    if (!m_session->loadMap(values, write))
        finish(CliExit::NoAnswer, caption(Caption::PortLost));
}

void CliRunner::onMapLoaded(const MapLoadResult &result)
{
    QStringList unanswered, differing;
    QJsonArray readBack;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        QJsonObject p{{QStringLiteral("name"), paramKey(index)},
                      {QStringLiteral("sent"), result.sent[index]},
                      {QStringLiteral("confirmed"), result.confirmed[size_t(i)]}};
        const auto now = m_session->controllerValue(index);
        if (!now) {
            unanswered << paramKey(index);
        } else {
            p.insert(QStringLiteral("readBack"), *now);
            if (*now != result.sent[index])
                differing << QStringLiteral("%1: %2 → %3")
                                 .arg(paramKey(index), displayText(index, result.sent[index]), displayText(index, *now));
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
    // The pairs are judged on what the controller holds now, with the new values in place, by the
    // value rule the session holds every commit to: a value it would move is refused before anything
    // is sent.
    QMap<int, qint32> given;
    for (const auto &[index, value] : std::as_const(m_setValues))
        given.insert(int(index), value);
    QList<std::pair<ParameterIndex, qint32>> first, after;
    for (const auto &[index, value] : std::as_const(m_setValues)) {
        const auto partner = pairPartner(index);
        if (!partner) {
            first.append({index, value});
            continue;
        }
        const auto now = m_session->controllerValue(*partner);
        if (!given.contains(int(*partner)) && !now) {
            finish(CliExit::NoAnswer, QStringLiteral("%1 was not read, so its partner cannot be checked; nothing sent").arg(paramKey(*partner)));
            return;
        }
        ValueContext context;
        context.allowBeyondSlider = true; // judged with the value alone, before the port opened
        context.pairCheck = true;
        context.partnerValue = given.value(int(*partner), now.value_or(0));
        const ValueVerdict v = judgeValue(index, double(value), context);
        if (v.heldBy) {
            finish(CliExit::InvalidInput, QStringLiteral("%1=%2 and %3=%4: %5; nothing sent")
                                              .arg(paramKey(index)).arg(value).arg(paramKey(*partner))
                                              .arg(*context.partnerValue).arg(verdictText(v)));
            return;
        }
        // A value its partner's present value would hold back goes after the partner's own write.
        const bool waits = given.contains(int(*partner)) && (!now || !pairHolds(index, value, *now));
        (waits ? after : first).append({index, value});
    }
    m_setOrder = first + after;
    QStringList steps;
    for (const auto &[index, value] : std::as_const(m_setOrder))
        steps << QStringLiteral("write %1=%2").arg(paramKey(index)).arg(value) << QStringLiteral("read %1").arg(paramKey(index));
    beginSteps(QStringLiteral("set"), steps);
    m_setOutstanding = int(m_setOrder.size());
    for (const auto &[index, value] : std::as_const(m_setOrder)) {
        const ParameterIndex which = index;
        m_session->commitHeld(index, value, [this, which](const HeldCommit &commit) {
            if (m_phase != Phase::Sequence)
                return;
            if (commit.kind != HeldCommit::Kind::Writing) {
                finish(CliExit::NoAnswer, QStringLiteral("%1: its partner could not be read").arg(paramKey(which)));
                return;
            }
            m_session->ReadParameter(quint8(which), [this, which](bool answered) {
                if (!answered)
                    m_unanswered.insert(int(which));
                if (--m_setOutstanding == 0 && m_phase == Phase::Sequence)
                    m_session->verifyNow([this] { if (m_phase == Phase::Sequence) verifySet(); });
            });
        });
    }
}

void CliRunner::verifySet()
{
    QStringList unanswered, differing;
    QJsonArray readBack;
    for (const auto &[index, value] : std::as_const(m_setValues)) {
        QJsonObject p{{QStringLiteral("name"), paramKey(index)}, {QStringLiteral("sent"), value}};
        const auto now = m_session->controllerValue(index);
        if (m_unanswered.contains(int(index)) || !now) {
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

void CliRunner::runReset()
{
    if (!m_options.yes && !m_ask(caption(Caption::ResetQuestion))) {
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
    if (!m_session->reset())
        finish(CliExit::NoAnswer, caption(Caption::PortLost));
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
