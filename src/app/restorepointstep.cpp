#include "restorepointstep.h"

#include "captiontable.h"
#include "maptexts.h"
#include "session.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <memory>

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

ParameterSet fromMapValues(const MapValues &values)
{
    ParameterSet set;
    for (int i = 0; i < kParameterCount; ++i)
        set[ParameterIndex(i)] = values[size_t(i)];
    return set;
}

void takeRestorePoint(Session *session, const QString &mapsFolder, RestoreCause cause, QObject *context,
                      std::function<void(const RestorePointOutcome &)> done)
{
    // Each unknown value is asked for once, one after the other; the file is written once all were.
    struct Step {
        QPointer<Session> session;
        QPointer<QObject> context;
        QString mapsFolder;
        RestoreCause cause;
        std::function<void(const RestorePointOutcome &)> done;
        int next = 0;
    };
    auto step = std::make_shared<Step>(Step{session, context, mapsFolder, cause, std::move(done)});
    // The pending read's callback keeps the walk alive; when the session drops it, the walk goes.
    auto advance = std::make_shared<std::function<void()>>();
    *advance = [step, weak = std::weak_ptr<std::function<void()>>(advance)] {
        const auto self = weak.lock();
        if (!self || !step->session || !step->context)
            return;
        while (step->next < kParameterCount && step->session->parameterKnown(ParameterIndex(step->next)))
            ++step->next;
        if (step->next < kParameterCount) {
            const auto index = ParameterIndex(step->next++);
            // Refused once the session is no longer connected: then nothing is left to save.
            step->session->readIfUnknown(index, [self](bool) { (*self)(); });
            return;
        }
        RestorePointOutcome outcome;
        outcome.folder = restorePointFolder(step->mapsFolder);
        for (int i = 0; i < kParameterCount; ++i)
            if (!step->session->parameterKnown(ParameterIndex(i)))
                outcome.unknown.append(ParameterIndex(i));
        if (outcome.unknown.isEmpty()) {
            const RestorePointWrite written =
                writeRestorePoint(step->mapsFolder, step->cause, toMapValues(step->session->controllerValues()),
                                  QDateTime::currentDateTime());
            if (written.ok)
                outcome.path = written.path;
            else
                outcome.problem = written.problem;
        }
        step->done(outcome);
    };
    (*advance)();
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
