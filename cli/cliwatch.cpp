// watch: the live readings, one line per status reply.
#include "clirunner.h"
#include "clitexts.h"

#include "numbertexts.h"

#include <QDateTime>
#include <QTimer>

namespace oe {

void CliRunner::runWatch()
{
    // The session's own judgement of a silent controller: said once, until it answers again.
    connect(m_session, &Session::controllerAnsweringChanged, this, [this](bool answering) {
        if (answering)
            return;
        const QDateTime now = QDateTime::currentDateTime();
        if (m_options.json)
            outJson(QJsonObject{{QStringLiteral("time"), isoTime(now)}, {QStringLiteral("answered"), false}});
        else
            out(QStringLiteral("%1  --- %2").arg(clockTime(now), caption(Caption::NotAnswering)).trimmed());
    });
    // Each reading as it comes, with its time: a pipe gets it at once.
    connect(m_session, &Session::liveReadingsChanged, this, [this] {
        const Session &s = *m_session;
        const QDateTime now = QDateTime::currentDateTime();
        const QString pump = secondsText(s.LivePump, SecondsUnit::Steps20ms);
        const QString pause = pauseReadingText(s.LiveRpm, s.LivePause);
        if (m_options.json) {
            outJson(QJsonObject{{QStringLiteral("time"), isoTime(now)},
                                {QStringLiteral("rpm"), s.LiveRpm},
                                {QStringLiteral("tinj"), s.LiveTinj},
                                {QStringLiteral("pump"), s.LivePump},
                                {QStringLiteral("pause"), s.LivePause},
                                {QStringLiteral("pumpDisplay"), pump},
                                {QStringLiteral("pauseDisplay"), pause}});
        } else {
            out(QStringLiteral("%1  %2 %3  %4 %5  %6 %7  %8 %9")
                    .arg(clockTime(now), caption(Caption::RpmName), plainNumberText(s.LiveRpm), caption(Caption::TinjName),
                         plainNumberText(s.LiveTinj), caption(Caption::PumpName), pump, caption(Caption::PauseName), pause));
        }
    });
    m_session->holdPoll(false);
    m_session->RequestStatus();
    if (m_options.seconds > 0)
        QTimer::singleShot(m_options.seconds * 1000, this, [this] { finishWatch(); });
}

void CliRunner::finishWatch()
{
    if (!m_session->controllerAnswering())
        finish(CliExit::NoAnswer, caption(CliWord::StoppedAnswering));
    else
        finish(CliExit::Done);
}

} // namespace oe
