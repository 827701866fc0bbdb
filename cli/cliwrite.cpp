// The commands that write to the controller: load, set and reset.
#include "clirunner.h"
#include "clitexts.h"

#include "maptexts.h"
#include "numbertexts.h"
#include "sliderrules.h"

namespace oe {

namespace {

// The field values a slider can reach, in the controller's units: the window sends nothing else.
struct FieldRange {
    qint32 min, max;
};
constexpr FieldRange kFieldRanges[kParameterCount] = {
    {1, 50}, {2, 50}, {0, 6000}, {50, 30000}, {50, 30000}, {80, 2400}, {80, 2400}, {50, 200},
};

struct OrderedPair {
    ParameterIndex low, high; // low ≤ high
};
// MaxLoadPumpPause is the shorter pause: that pair runs the other way round.
constexpr OrderedPair kOrderedPairs[] = {
    {ParameterIndex::MinPumpCycles, ParameterIndex::MaxPumpCycles},
    {ParameterIndex::TinjMin, ParameterIndex::TinjMax},
    {ParameterIndex::MaxLoadPumpPause, ParameterIndex::MinLoadPumpPause},
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
        const bool known = m_session->parameterKnown(index);
        if (known && m_session->confirmedParameters()[index] == to)
            continue;
        QJsonObject change{{QStringLiteral("name"), paramKey(index)}, {QStringLiteral("to"), to}};
        if (known)
            change.insert(QStringLiteral("from"), m_session->confirmedParameters()[index]);
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
    if (m_phase != Phase::Sequence)
        return;
    QStringList unanswered, differing;
    QJsonArray readBack;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        QJsonObject p{{QStringLiteral("name"), paramKey(index)},
                      {QStringLiteral("sent"), result.sent[index]},
                      {QStringLiteral("confirmed"), result.confirmed[size_t(i)]}};
        if (!result.answered[size_t(i)]) {
            unanswered << paramKey(index);
        } else {
            p.insert(QStringLiteral("readBack"), result.readBack[index]);
            if (result.readBack[index] != result.sent[index])
                differing << QStringLiteral("%1: %2 → %3")
                                 .arg(paramKey(index), displayText(index, result.sent[index]),
                                      displayText(index, result.readBack[index]));
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
    // The pairs are judged on what the controller holds now, with the new values in place.
    ParameterSet after = m_session->confirmedParameters();
    QSet<int> given;
    for (const auto &[index, value] : std::as_const(m_options.values)) {
        after[index] = value;
        given.insert(int(index));
    }
    for (const OrderedPair &pair : kOrderedPairs) {
        if (!given.contains(int(pair.low)) && !given.contains(int(pair.high)))
            continue;
        for (const ParameterIndex side : {pair.low, pair.high}) {
            if (!given.contains(int(side)) && !m_session->parameterKnown(side)) {
                finish(CliExit::NoAnswer, QStringLiteral("%1 was not read, so its partner cannot be checked; nothing sent").arg(paramKey(side)));
                return;
            }
        }
        if (after[pair.low] > after[pair.high]) {
            finish(CliExit::InvalidInput,
                   QStringLiteral("%1 (%2) would be above %3 (%4); nothing sent")
                       .arg(paramKey(pair.low)).arg(after[pair.low]).arg(paramKey(pair.high)).arg(after[pair.high]));
            return;
        }
    }
    QStringList steps;
    for (const auto &[index, value] : std::as_const(m_options.values))
        steps << QStringLiteral("write %1=%2").arg(paramKey(index)).arg(value);
    for (const auto &[index, value] : std::as_const(m_options.values))
        steps << QStringLiteral("read %1").arg(paramKey(index));
    beginSteps(QStringLiteral("set"), steps);
    for (const auto &[index, value] : std::as_const(m_options.values))
        m_session->commitParameter(index, value);
    for (qsizetype i = 0; i < m_options.values.size(); ++i) {
        const ParameterIndex index = m_options.values[i].first;
        const bool last = i == m_options.values.size() - 1;
        m_session->ReadParameter(quint8(index), [this, index, last](bool answered) {
            if (!answered)
                m_unanswered.insert(int(index));
            if (last && m_phase == Phase::Sequence)
                verifySet();
        });
    }
}

void CliRunner::verifySet()
{
    QStringList unanswered, differing;
    QJsonArray readBack;
    for (const auto &[index, value] : std::as_const(m_options.values)) {
        QJsonObject p{{QStringLiteral("name"), paramKey(index)}, {QStringLiteral("sent"), value}};
        if (m_unanswered.contains(int(index))) {
            unanswered << paramKey(index);
        } else {
            p.insert(QStringLiteral("readBack"), m_session->confirmedParameters()[index]);
            if (m_session->confirmedParameters()[index] != value)
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

} // namespace oe
