// The commands that only read: info, save, verify and backup; and the backup before a write.
#include "clirunner.h"
#include "datafolder.h"
#include "clitexts.h"

#include "maptexts.h"
#include "numbertexts.h"
#include "restorepoints.h"

#include <QDateTime>
#include <QDir>
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
            const QString pause = pauseReadingText(s.LiveRpm, s.LivePause);
            const QString pump = secondsText(s.LivePump, SecondsUnit::Steps20ms);
            m_json.insert(QStringLiteral("status"),
                          QJsonObject{{QStringLiteral("rpm"), s.LiveRpm},
                                      {QStringLiteral("tinj"), s.LiveTinj},
                                      {QStringLiteral("pump"), s.LivePump},
                                      {QStringLiteral("pause"), s.LivePause},
                                      {QStringLiteral("pumpDisplay"), pump},
                                      {QStringLiteral("pauseDisplay"), pause}});
            out(cliRow(caption(CliWord::StatusLabel),
                       QStringLiteral("%1 %2  %3 %4  %5 %6  %7 %8")
                           .arg(caption(Caption::RpmName), plainNumberText(s.LiveRpm), caption(Caption::TinjName),
                                plainNumberText(s.LiveTinj), caption(Caption::PumpName), pump,
                                caption(Caption::PauseName), pause)));
        } else {
            out(cliRow(caption(CliWord::StatusLabel), QStringLiteral("---")));
        }
        QStringList unknown;
        for (int i = 0; i < kParameterCount; ++i) {
            if (!s.parameterKnown(ParameterIndex(i)))
                unknown << paramKey(ParameterIndex(i));
        }
        if (!unknown.isEmpty())
            finish(CliExit::NoAnswer, caption(CliWord::NotRead).arg(unknown.join(QStringLiteral(", "))));
        else if (!answered)
            finish(CliExit::NoAnswer, caption(CliWord::StatusUnanswered));
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
        values[size_t(i)] = *m_session->controllerValue(ParameterIndex(i));
    QString path = m_options.file;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".map");
    FileProblem problem;
    if (!writeMapFile(path, values, nullptr, &problem, mapOrigin(m_firmware, QDateTime::currentDateTime(), m_options.note))) {
        finish(CliExit::InvalidInput, notSavedText(path, problem));
        return;
    }
    m_json.insert(QStringLiteral("file"), path);
    out(cliRow(caption(CliWord::SavedLabel), path));
    finish(CliExit::Done);
}

QString CliRunner::mapsFolder() const
{
    return QDir(dataFolderFor(m_programFolder)).filePath(QStringLiteral("Maps"));
}

QStringList CliRunner::unknownParameters() const
{
    QStringList unknown;
    for (int i = 0; i < kParameterCount; ++i) {
        if (!m_session->parameterKnown(ParameterIndex(i)))
            unknown << paramKey(ParameterIndex(i));
    }
    return unknown;
}

// What the controller holds, as it reported it: a backup must put back exactly that.
MapValues CliRunner::heldValues(const Session &session)
{
    MapValues values{};
    for (int i = 0; i < kParameterCount; ++i)
        values[size_t(i)] = session.controllerValues()[ParameterIndex(i)];
    return values;
}

void CliRunner::runVerify()
{
    // Only the values the connect read: nothing is written, whatever the file says.
    const QStringList unknown = unknownParameters();
    if (!unknown.isEmpty()) {
        finish(CliExit::NoAnswer, caption(CliWord::NotRead).arg(unknown.join(QStringLiteral(", "))));
        return;
    }
    QJsonArray differences;
    QStringList lines;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const qint32 held = m_session->controllerValues()[index];
        const qint32 wanted = m_mapValues[size_t(i)];
        if (sameValue(index, held, wanted))
            continue;
        differences.append(QJsonObject{{QStringLiteral("name"), paramKey(index)},
                                       {QStringLiteral("controller"), held},
                                       {QStringLiteral("file"), wanted}});
        lines << QStringLiteral("%1 %2 %3").arg(paramKey(index), -17).arg(plainNumberText(held), 10).arg(plainNumberText(wanted), 10);
    }
    m_json.insert(QStringLiteral("file"), m_options.file);
    m_json.insert(QStringLiteral("differences"), differences);
    if (lines.isEmpty()) {
        out(caption(Caption::MapAllMatch));
        finish(CliExit::Done);
        return;
    }
    out(caption(Caption::MapDiffers));
    out(QStringLiteral("%1 %2 %3").arg(caption(Caption::ColumnParameter), -17).arg(caption(Caption::ColumnController), 10)
            .arg(caption(Caption::ColumnFile), 10));
    for (const QString &line : std::as_const(lines))
        out(line);
    finish(CliExit::ReadBackDiffers, caption(CliWord::ValuesDiffer).arg(lines.size()).arg(m_options.file));
}

// The file's value and the controller's agree.
QString CliRunner::fileProblemWords(const FileProblem &problem) const
{
    return fileProblemText(problem, m_captions);
}

bool CliRunner::sameValue(ParameterIndex, qint32 held, qint32 wanted) const
{
    return held == wanted;
}

void CliRunner::runBackup()
{
    printParameters();
    const QStringList unknown = unknownParameters();
    if (!unknown.isEmpty()) {
        finish(CliExit::NoAnswer, caption(Caption::SaveUnknown) + QLatin1Char(' ') + unknown.join(QStringLiteral(", ")));
        return;
    }
    const QString name = backupFileName(QDateTime::currentDateTime(), m_options.port, m_firmware);
    QString path = m_options.file;
    QString folder;
    if (path.isEmpty())
        folder = restorePointFolder(mapsFolder());
    else if (QFileInfo(path).isDir() || path.endsWith(QLatin1Char('/')))
        folder = path;
    else if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".map");
    if (!folder.isEmpty()) {
        // A folder that cannot be made is said as such, not as a missing file inside it.
        if (!QDir().mkpath(folder)) {
            finish(CliExit::InvalidInput, notSavedText(folder, {folderFault(folder), QStringLiteral("cannot be created")}));
            return;
        }
        path = QDir(folder).filePath(name);
    }
    FileProblem problem;
    if (!writeMapFile(path, heldValues(), nullptr, &problem,
                      mapOrigin(m_firmware, QDateTime::currentDateTime(), m_options.note))) {
        finish(CliExit::InvalidInput, notSavedText(path, problem));
        return;
    }
    m_json.insert(QStringLiteral("file"), path);
    out(cliRow(caption(CliWord::BackupLabel), path));
    finish(CliExit::Done);
}

// Before a load or a reset overwrites them, the controller's values go to a restore point; without
// one nothing is written (unless --no-backup). False when the command has finished.
bool CliRunner::backupBeforeWriting(RestoreCause cause)
{
    if (m_options.noBackup)
        return true;
    const QStringList unknown = unknownParameters();
    if (!unknown.isEmpty()) {
        finish(CliExit::NoAnswer, QStringLiteral("no backup: the controller did not tell %1; nothing sent "
                                                 "(--no-backup writes without one)")
                                      .arg(unknown.join(QStringLiteral(", "))));
        return false;
    }
    const RestorePointWrite written = writeRestorePoint(mapsFolder(), cause, heldValues(), QDateTime::currentDateTime(),
                                                        {m_options.port, m_firmware});
    if (!written.ok) {
        finish(CliExit::InvalidInput, QStringLiteral("no backup in %1: %2; nothing sent (--no-backup writes without one)")
                                          .arg(restorePointFolder(mapsFolder()), fileProblemWords(written.problem)));
        return false;
    }
    m_json.insert(QStringLiteral("backup"), written.path);
    out(cliRow(caption(CliWord::BackupLabel), written.path));
    m_restorePoint = written.path;
    return true;
}

} // namespace oe
