#include "cliplan.h"

#include "clitexts.h"
#include "cliwords.h"

#include <QJsonObject>

namespace oe {

void CliPlanWriter::start(Session *session, const WritePlan &plan, Starting starting, std::function<void()> done)
{
    m_session = session;
    m_run.emplace(plan);
    m_starting = std::move(starting);
    m_done = std::move(done);
    m_number = 0;
    sendNext();
}

void CliPlanWriter::sendNext()
{
    const std::optional<PlannedWrite> write = m_run->next();
    if (!write) {
        if (m_done)
            m_done();
        return;
    }
    if (m_starting)
        m_starting(*write, ++m_number, int(m_run->plan().writes.size()));
    m_writeOut = true;
    m_session->WriteParameter(quint8(write->index), write->value, [this, w = *write](bool echoedAsSent) {
        if (echoedAsSent) {
            m_writeOut = false;
            m_run->echoed(w.value);
            sendNext();
            return;
        }
        // Refused, clamped or unanswered: a read tells which. A read answered with the value sent
        // means the write landed but its echo was lost: still not an echo.
        m_session->ReadParameter(quint8(w.index), [this, w](bool answered) {
            m_writeOut = false;
            const std::optional<qint32> held = answered ? m_session->controllerValue(w.index) : std::nullopt;
            m_run->echoed(held && *held != w.value ? held : std::nullopt);
            sendNext();
        });
    });
}

void CliPlanWriter::abandon()
{
    if (m_run && !m_run->finished())
        m_run->abandon(m_writeOut);
    m_writeOut = false;
}

QJsonArray planResultJson(const WritePlan &plan, const WritePlanResult &result)
{
    QJsonArray writes;
    for (const PlannedWrite &w : plan.writes) {
        const int i = int(w.index);
        QJsonObject entry{{QStringLiteral("name"), paramKey(w.index)},
                          {QStringLiteral("sent"), w.value},
                          {QStringLiteral("outcome"), writeOutcomeName(result.outcome[i])}};
        if (result.echoed[i])
            entry.insert(QStringLiteral("echoed"), *result.echoed[i]);
        writes.append(entry);
    }
    return writes;
}

QString planCountKey(WriteOutcome outcome)
{
    return outcome == WriteOutcome::NotSent ? QStringLiteral("notSent") : writeOutcomeName(outcome);
}

QString planResultText(const WritePlan &plan, const WritePlanResult &result, const std::function<QString(int)> &word)
{
    const auto wordOf = [&word](WriteOutcome outcome) {
        switch (outcome) {
        case WriteOutcome::Written: return word(CliWord::Written);
        case WriteOutcome::Refused: return word(CliWord::Refused);
        case WriteOutcome::Unanswered: return word(CliWord::Unanswered);
        case WriteOutcome::NotSent: return word(CliWord::NotSent);
        case WriteOutcome::NotPlanned: break;
        }
        return QString();
    };
    QStringList groups;
    for (const WriteOutcome outcome : {WriteOutcome::Written, WriteOutcome::Refused, WriteOutcome::Unanswered,
                                       WriteOutcome::NotSent}) {
        QStringList names;
        for (const PlannedWrite &w : plan.writes) {
            const int i = int(w.index);
            if (result.outcome[i] != outcome)
                continue;
            QString name = QStringLiteral("%1=%2").arg(paramKey(w.index)).arg(w.value);
            if (outcome == WriteOutcome::Refused && result.echoed[i])
                name += QStringLiteral(" (%1)").arg(word(CliWord::Holds).arg(*result.echoed[i]));
            names << name;
        }
        if (!names.isEmpty())
            groups << QStringLiteral("%1: %2").arg(wordOf(outcome), names.join(QStringLiteral(", ")));
    }
    return groups.join(QStringLiteral("; "));
}

} // namespace oe
