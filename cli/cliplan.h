#pragma once

#include "session.h"
#include "writeplan.h"

#include <QJsonArray>
#include <QString>

#include <functional>
#include <optional>

namespace oe {

// Runs a write plan on a session, one write at a time, each echo awaited before the next goes out.
// A write not echoed with its value is read once, so the report can say what the controller holds
// (a refusal or a clamp) or that it is gone (unanswered); the plan stops there.
class CliPlanWriter
{
public:
    using Starting = std::function<void(const PlannedWrite &write, int number, int count)>;

    // done runs once the plan has run out or stopped, unless the session ends first (then abandon()).
    void start(Session *session, const WritePlan &plan, Starting starting, std::function<void()> done);
    // The session ended under the plan (port lost, Ctrl+C): the write out, if one is, is unanswered.
    void abandon();
    bool started() const { return m_run.has_value(); }
    const WritePlan &plan() const { return m_run->plan(); }
    const WritePlanResult &result() const { return m_run->result(); }

private:
    void sendNext();

    Session *m_session = nullptr;
    std::optional<WritePlanRun> m_run;
    Starting m_starting;
    std::function<void()> m_done;
    bool m_writeOut = false;
    int m_number = 0;
};

// The plan's writes with their outcomes: {name, sent, outcome[, echoed]} per planned write.
QJsonArray planResultJson(const WritePlan &plan, const WritePlanResult &result);
// The JSON key of an outcome's count: written, refused, unanswered, notSent.
QString planCountKey(WriteOutcome outcome);
// "written: A=1, B=2; refused: C=9000 (holds 5000); not sent: D=3" (empty groups left out), in the
// words word gives for oe-cli's entries (CliWord).
QString planResultText(const WritePlan &plan, const WritePlanResult &result, const std::function<QString(int)> &word);

} // namespace oe
