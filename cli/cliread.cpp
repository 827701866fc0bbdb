// The commands that only read: info and save.
#include "clirunner.h"
#include "clitexts.h"

#include "maptexts.h"
#include "numbertexts.h"

#include <QFileInfo>

namespace oe {

void CliRunner::runInfo()
{
    printParameters();
    m_session->RequestStatus([this](bool answered) {
        if (m_phase == Phase::Done)
            return;
        const Session &s = *m_session;
        if (answered) {
            const QString pause = s.LiveRpm != 0 ? secondsText(s.LivePause, SecondsUnit::Steps25ms) : QStringLiteral("Err!");
            const QString pump = secondsText(s.LivePump, SecondsUnit::Steps20ms);
            m_json.insert(QStringLiteral("status"),
                          QJsonObject{{QStringLiteral("rpm"), s.LiveRpm},
                                      {QStringLiteral("tinj"), s.LiveTinj},
                                      {QStringLiteral("pump"), s.LivePump},
                                      {QStringLiteral("pause"), s.LivePause},
                                      {QStringLiteral("pumpDisplay"), pump},
                                      {QStringLiteral("pauseDisplay"), pause}});
            out(QStringLiteral("status    %1 %2  %3 %4  %5 %6  %7 %8")
                    .arg(caption(Caption::RpmName), plainNumberText(s.LiveRpm), caption(Caption::TinjName),
                         plainNumberText(s.LiveTinj), caption(Caption::PumpName), pump, caption(Caption::PauseName), pause));
        } else {
            out(QStringLiteral("status    ---"));
        }
        QStringList unknown;
        for (int i = 0; i < kParameterCount; ++i) {
            if (!s.parameterKnown(ParameterIndex(i)))
                unknown << paramKey(ParameterIndex(i));
        }
        if (!unknown.isEmpty())
            finish(CliExit::NoAnswer, QStringLiteral("not read: %1").arg(unknown.join(QStringLiteral(", "))));
        else if (!answered)
            finish(CliExit::NoAnswer, QStringLiteral("the status request went unanswered"));
        else
            finish(CliExit::Done);
    });
}

void CliRunner::runSave()
{
    printParameters();
    // A map holds what the controller told us, never a guess.
    if (!m_session->allParametersKnown()) {
        QStringList unknown;
        for (int i = 0; i < kParameterCount; ++i) {
            if (!m_session->parameterKnown(ParameterIndex(i)))
                unknown << paramKey(ParameterIndex(i));
        }
        finish(CliExit::NoAnswer, caption(Caption::SaveUnknown) + QLatin1Char(' ') + unknown.join(QStringLiteral(", ")));
        return;
    }
    MapValues values{};
    for (int i = 0; i < kParameterCount; ++i)
        values[size_t(i)] = m_session->confirmedParameters()[ParameterIndex(i)];
    QString path = m_options.file;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".map");
    FileProblem problem;
    if (!writeMapFile(path, values, nullptr, &problem)) {
        finish(CliExit::InvalidInput, caption(Caption::MapNotSaved) + QLatin1Char(' ') + fileProblemText(problem, m_captions));
        return;
    }
    m_json.insert(QStringLiteral("file"), path);
    out(QStringLiteral("saved     %1").arg(path));
    finish(CliExit::Done);
}

} // namespace oe
