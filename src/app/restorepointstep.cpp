#include "restorepointstep.h"

#include "captiontable.h"
#include "maptexts.h"
#include "session.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QPointer>


namespace oe {

namespace {

QString captionOr(const CaptionTable &captions, int entry, const char *english)
{
    const QString text = captions.text(entry);
    return text.isEmpty() ? QString::fromUtf8(english) : text;
}

} // namespace

MapValues toMapValues(const ParameterSet &set)
{
    MapValues values{};
    for (int i = 0; i < kParameterCount; ++i)
        values[size_t(i)] = set[ParameterIndex(i)];
    return values;
}

QString controllerFirmwareText(const Session &session)
{
    const auto firmware = session.firmware();
    return firmware ? firmwareVersionText(*firmware) : QString();
}

ParameterSet fromMapValues(const MapValues &values)
{
    ParameterSet set;
    for (int i = 0; i < kParameterCount; ++i)
        set[ParameterIndex(i)] = values[size_t(i)];
    return set;
}

void takeRestorePoint(Session *session, const QString &mapsFolder, RestoreCause cause, const RestorePointOrigin &origin,
                      QObject *context, std::function<void(const RestorePointOutcome &)> done)
{
    // A restore point holds what a saved map may hold: confirmed values only (unknown ones read first).
    const auto write = [context = QPointer<QObject>(context), mapsFolder, cause, origin,
                        done = std::move(done)](const VerifiedValues &values) {
        if (!context)
            return;
        RestorePointOutcome outcome;
        outcome.folder = restorePointFolder(mapsFolder);
        outcome.unknown = values.unknown();
        if (values.complete()) {
            const RestorePointWrite written =
                writeRestorePoint(mapsFolder, cause, toMapValues(values.values), QDateTime::currentDateTime(), origin);
            if (written.ok)
                outcome.path = written.path;
            else
                outcome.problem = written.problem;
        }
        done(outcome);
    };
    // Refused once the session is no longer connected: then nothing is known to save.
    if (!session->verifiedValues(write))
        write(VerifiedValues{});
}

QString restorePointText(const RestorePointOutcome &outcome, const CaptionTable &captions,
                         const std::function<QString(ParameterIndex)> &parameterName)
{
    if (outcome.written())
        return captionOr(captions, Caption::RestorePointSaved,
                         "The controller's values were saved first as restore point %1 (Tools > Restore…).")
            .replace(QStringLiteral("%1"), QFileInfo(outcome.path).fileName());
    if (!outcome.unknown.isEmpty()) {
        QStringList names;
        for (ParameterIndex index : outcome.unknown)
            names << parameterName(index);
        return captionOr(captions, Caption::RestorePointUnknown,
                         "No restore point could be made: the controller did not tell %1.")
            .replace(QStringLiteral("%1"), names.join(QStringLiteral(", ")));
    }
    return captionOr(captions, Caption::RestorePointNotSaved, "No restore point could be made: %1")
        .replace(QStringLiteral("%1"), QStringLiteral("%1 (%2)").arg(fileProblemText(outcome.problem, captions),
                                                                    QDir::toNativeSeparators(outcome.folder)));
}

} // namespace oe
