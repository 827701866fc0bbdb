// The commands that write to the controller: load, set and reset.
#include "clirunner.h"
#include "clitexts.h"

#include "maptexts.h"
#include "numbertexts.h"
#include "sliderrules.h"

#include <QMap>

namespace oe {

namespace {

// The field values a slider can reach, in the controller's units: the window sends nothing else.
struct FieldRange {
    qint32 min, max;
};
constexpr FieldRange kFieldRanges[kParameterCount] = {
    {1, 50}, {2, 50}, {0, 6000}, {50, 30000}, {50, 30000}, {80, 2400}, {80, 2400}, {50, 200},
};

} // namespace

// A map file is read whole, and set's values judged, before the port is opened.
bool CliRunner::checkInput()
{
    using Command = CliOptions::Command;
    if (m_options.command == Command::Load || m_options.command == Command::Verify ||
        m_options.command == Command::Program) {
        const MapReadResult map = readMapFile(m_options.file);
        if (!map.ok) {
            finish(CliExit::InvalidInput, caption(Caption::MapInvalid) + QLatin1Char(' ') + mapErrorText(map.error, m_captions));
            return false;
        }
        m_mapValues = map.values;
        m_mapKeyNotes = map.keyNotes;
    }
    if (m_options.command == Command::Set) {
        for (const auto &[index, value] : std::as_const(m_options.values)) {
            const FieldRange range = kFieldRanges[int(index)];
            const bool reachable = fieldFromPosition(index, positionFromField(index, value)) == value;
            if (value < range.min || value > range.max || !reachable) {
                const QString step = index == ParameterIndex::RpmMultiplier ? QStringLiteral(", in tens")
                                     : index == ParameterIndex::RpmMin || index == ParameterIndex::TinjMin ||
                                             index == ParameterIndex::TinjMax
                                         ? QStringLiteral(", in fifties")
                                         : QString();
                finish(CliExit::InvalidInput, QStringLiteral("%1=%2: the window sets %1 from %3 to %4%5; nothing sent")
                                                  .arg(paramKey(index)).arg(value).arg(range.min).arg(range.max).arg(step));
                return false;
            }
        }
    }
    return true;
}

void CliRunner::runLoad()
{
    QJsonArray changes;
    QStringList lines;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const qint32 to = m_mapValues[size_t(i)];
        const auto now = m_session->controllerValue(index);
        if (now == to)
            continue;
        QJsonObject change{{QStringLiteral("name"), paramKey(index)}, {QStringLiteral("to"), to}};
        if (now)
            change.insert(QStringLiteral("from"), *now);
        changes.append(change);
        lines << QStringLiteral("%1: %2 → %3").arg(paramKey(index), valueText(index), displayText(index, to));
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
    if (lines.isEmpty())
        out(caption(Caption::MapNoChanges));
    for (const QString &line : std::as_const(lines))
        out(line);
    if (!m_options.yes && !m_ask(caption(Caption::MapQuestion))) {
        finish(CliExit::Interrupted, QStringLiteral("declined; nothing sent"));
        return;
    }
    if (m_phase == Phase::Done)
        return; // interrupted while asking
    if (!backupBeforeWriting(RestoreCause::Load))
        return;
    QStringList steps;
    for (int i = 0; i < kParameterCount; ++i)
        steps << QStringLiteral("write %1=%2").arg(paramKey(ParameterIndex(i))).arg(m_mapValues[size_t(i)]);
    for (int i = 0; i < kParameterCount; ++i)
        steps << QStringLiteral("read %1").arg(paramKey(ParameterIndex(i)));
    beginSteps(QStringLiteral("load"), steps);
    ParameterSet values;
    for (int i = 0; i < kParameterCount; ++i)
        values[ParameterIndex(i)] = m_mapValues[size_t(i)];
    if (!m_session->loadMap(values))
        finish(CliExit::NoAnswer, caption(Session::kPortLostEntry));
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
        finish(CliExit::NoAnswer, QStringLiteral("read-back unanswered: %1").arg(unanswered.join(QStringLiteral(", "))));
        return;
    }
    if (!differing.isEmpty()) {
        out(caption(Caption::MapDiffers));
        for (const QString &line : std::as_const(differing))
            out(line);
        finish(CliExit::ReadBackDiffers, QStringLiteral("the controller holds other values: %1").arg(differing.join(QStringLiteral("; "))));
        return;
    }
    out(caption(Caption::MapAllMatch));
    finish(CliExit::Done);
}

void CliRunner::runSet()
{
    // The pairs are judged on what the controller holds now, with the new values in place, by the
    // rule the session holds every commit to: a value it would move is refused before anything is sent.
    QMap<int, qint32> given;
    for (const auto &[index, value] : std::as_const(m_options.values))
        given.insert(int(index), value);
    QList<std::pair<ParameterIndex, qint32>> first, after;
    for (const auto &[index, value] : std::as_const(m_options.values)) {
        const auto partner = interlockPartner(index);
        if (!partner) {
            first.append({index, value});
            continue;
        }
        const auto now = m_session->controllerValue(*partner);
        if (!given.contains(int(*partner)) && !now) {
            finish(CliExit::NoAnswer, QStringLiteral("%1 was not read, so its partner cannot be checked; nothing sent").arg(paramKey(*partner)));
            return;
        }
        const qint32 partnerAfter = given.value(int(*partner), now.value_or(0));
        if (interlockedPosition(index, value, partnerAfter) != value) {
            finish(CliExit::InvalidInput, QStringLiteral("%1=%2 and %3=%4 are out of order; nothing sent")
                                              .arg(paramKey(index)).arg(value).arg(paramKey(*partner)).arg(partnerAfter));
            return;
        }
        // A value its partner's present value would hold back goes after the partner's own write.
        const bool waits = given.contains(int(*partner)) && (!now || interlockedPosition(index, value, *now) != value);
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
    for (const auto &[index, value] : std::as_const(m_options.values)) {
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
        finish(CliExit::NoAnswer, QStringLiteral("read-back unanswered: %1").arg(unanswered.join(QStringLiteral(", "))));
    else if (!differing.isEmpty())
        finish(CliExit::ReadBackDiffers, QStringLiteral("the controller holds other values: %1").arg(differing.join(QStringLiteral("; "))));
    else
        finish(CliExit::Done);
}

void CliRunner::runReset()
{
    if (!m_options.yes && !m_ask(caption(Caption::ResetQuestion))) {
        finish(CliExit::Interrupted, QStringLiteral("declined; nothing sent"));
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
        finish(CliExit::NoAnswer, caption(Session::kPortLostEntry));
}

void CliRunner::finishReset()
{
    const bool allRead = m_session->allParametersKnown();
    m_json.insert(QStringLiteral("resetConfirmed"), m_resetAcknowledged);
    printParameters();
    if (!m_resetAcknowledged)
        finish(CliExit::NoAnswer, caption(Caption::ResetNotConfirmed));
    else if (!allRead)
        finish(CliExit::NoAnswer, QStringLiteral("the read-back after the reset went unanswered"));
    else
        finish(CliExit::Done);
}

} // namespace oe
