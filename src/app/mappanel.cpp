#include "mappanel.h"
#include "valuerule.h"
#include "valuetexts.h"

#include "accessibility.h"
#include "boxqueue.h"
#include "dialogs.h"
#include "mapfile.h"
#include "mapfiledialogs.h"
#include "maptexts.h"
#include "numbertexts.h"
#include "recorder.h"
#include "windowcontext.h"
#include "windowlayout.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

namespace oe {

using namespace layout;

MapPanel::MapPanel(WindowContext &context, QGroupBox *frame)
    : QObject(context.window), m_context(context), m_session(*context.session), m_frame(frame)
{
    cmdLoadMap = makeButton(frame, "cmdLoadMap", QStringLiteral("Carica Mappa"), twips(240, 315, 2445, 420));
    cmdSaveMap = makeButton(frame, "cmdSaveMap", QStringLiteral("Salva Mappa"), twips(225, 765, 2445, 420));
    connect(&m_session, &Session::stateChanged, this, &MapPanel::onSessionState);
    connect(cmdLoadMap, &QPushButton::clicked, this, &MapPanel::onLoadMapClicked);
    connect(cmdSaveMap, &QPushButton::clicked, this, &MapPanel::onSaveMapClicked);
    connect(&m_session, &Session::mapLoaded, this, &MapPanel::onMapLoaded);
}

QScopeGuard<std::function<void()>> MapPanel::holdPoll()
{
    if (m_pollHolds++ == 0) {
        m_session.holdPoll(true);
        emit pollHeld(true);
    }
    return qScopeGuard(std::function<void()>([this] {
        if (--m_pollHolds > 0)
            return;
        m_session.holdPoll(false);
        emit pollHeld(false);
    }));
}

void MapPanel::resetView()
{
    cmdLoadMap->setEnabled(false);
    cmdSaveMap->setEnabled(false);
}

void MapPanel::applyCaptions()
{
    // An entry no language filled keeps the caption the control has, rather than blanking it.
    if (const QString text = m_context.captions.text(Caption::LoadMapButton); !text.isEmpty())
        cmdLoadMap->setText(text);
    if (const QString text = m_context.captions.text(Caption::SaveMapButton); !text.isEmpty())
        cmdSaveMap->setText(text);
    if (const QString text = m_context.captions.text(Caption::MapFrame); !text.isEmpty())
        m_frame->setTitle(text);
    describe(cmdLoadMap, cmdLoadMap->text(), m_context.caption(Caption::LoadMapHint));
    describe(cmdSaveMap, cmdSaveMap->text(), m_context.caption(Caption::SaveMapHint));
}

// Like the sliders, the map buttons take input while connected with no sequence running, and not
// while a save or a load waits for the values being confirmed.
void MapPanel::onSessionState(Session::State state)
{
    if (state == Session::State::Idle) {
        // A step waiting for the session it belonged to waits no more.
        m_saveWaiting = false;
        m_preparing = false;
        m_loadPoint = {};
        m_pendingRestore.clear();
    } else if (state == Session::State::Connected && !m_pendingRestore.isEmpty()) {
        // Started from the event loop: the session is still reporting the end of its sequence.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (const QString path = std::exchange(m_pendingRestore, {}); !path.isEmpty())
                    loadFile(path);
            },
            Qt::QueuedConnection);
    }
    updateButtons();
}

void MapPanel::updateButtons()
{
    const bool enabled = m_session.state() == Session::State::Connected && !m_saveWaiting && !m_preparing;
    cmdLoadMap->setEnabled(enabled);
    cmdSaveMap->setEnabled(enabled);
}

QString MapPanel::mapsFolder()
{
    const QString folder = m_context.mapsFolder();
    // A missing folder would leave the dialog in some unrelated place.
    QDir().mkpath(folder);
    const QFileInfo info(folder);
    if (info.isDir())
        return folder;
    // A file (or a broken link) named Maps: the dialog would open beside it with "Maps" filled in as
    // the name, and nothing would say why. Say it once and use the data folder. Nothing there at
    // all (a folder that cannot be written) needs no word: the data folder it is.
    if ((info.exists() || info.isSymLink()) && !m_mapsProblemShown) {
        m_mapsProblemShown = true;
        m_context.tell(m_context.caption(Caption::MapsNotAFolder));
    }
    return m_context.dataFolder;
}

void MapPanel::onLoadMapClicked()
{
    if (m_session.state() != Session::State::Connected)
        return;
    // No poll while the dialog, the question and the load run; it comes back in every case.
    const auto resumePoll = holdPoll();

    // Before the dialog: a Maps that is no folder is told first.
    const QString folder = mapsFolder();
    const QString path = askMapToOpen(*m_context.boxes, m_context.window, folder);
    // The session may have ended while the dialog was open; then there is nothing to ask.
    if (path.isEmpty() || m_session.state() != Session::State::Connected)
        return;
    loadFile(path);
}

void MapPanel::loadFile(const QString &path)
{
    if (m_session.state() != Session::State::Connected || m_preparing)
        return;
    const std::optional<CheckedMap> map = readCheckedMap(path, m_context.captions, m_context.caption(Caption::MapInvalid),
                                                         [this](const QString &text) { m_context.tell(text); });
    // Lines named otherwise than we name them are still read by position; the user sees how.
    if (map)
        loadValues(map->values, map->notes, map->check, map->origin);
}

void MapPanel::loadValues(const ParameterSet &values, const QStringList &notes, const MapCheck &check,
                          const MapOrigin &origin)
{
    if (m_session.state() != Session::State::Connected || m_preparing)
        return;
    m_preparing = true;
    updateButtons();
    takeRestorePoint(&m_session, m_context.mapsFolder(), RestoreCause::Load, m_context.controller, this,
                     [this, values, notes, check, origin](const RestorePointOutcome &point) {
                         m_preparing = false;
                         updateButtons();
                         askAndLoad(values, notes, check, origin, point);
                     });
}

void MapPanel::askAndLoad(const ParameterSet &values, const QStringList &notes, const MapCheck &check,
                          const MapOrigin &origin, const RestorePointOutcome &point)
{
    // A restore point of a load that does not happen overwrote nothing: it goes again.
    auto dropPoint = qScopeGuard([&point] {
        if (point.written())
            QFile::remove(point.path);
    });
    if (m_session.state() != Session::State::Connected)
        return;
    // No poll while the question is open; it comes back in every case.
    const auto resumePoll = holdPoll();

    // Against what the controller has; a value it never told shows as unknown. A value the file held
    // otherwise (a decimal) or that lies beyond its slider says so on its line.
    QStringList changes;
    bool beyondSlider = false;
    const ValueWords words{m_context.parameterName, [](ParameterIndex index, qint32 value) { return displayText(index, value); }};
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const std::optional<qint32> now = m_session.controllerValue(index);
        if (now == values[index])
            continue;
        QString line = m_context.changeLine(index, now ? displayText(index, *now) : kUnknownText,
                                            displayText(index, values[index]));
        const ValueVerdict &verdict = check.values[size_t(i)];
        if (verdict.rounded || verdict.beyondSlider)
            line += QStringLiteral(" (%1)").arg(valueVerdictText(verdict, m_context.captions, words));
        beyondSlider = beyondSlider || verdict.beyondSlider;
        changes << line;
    }
    QString details = changes.isEmpty() ? m_context.caption(Caption::MapNoChanges) : changes.join(QLatin1Char('\n'));
    if (!notes.isEmpty())
        details = notes.join(QLatin1Char('\n')) + QStringLiteral("\n\n") + details;
    if (!origin.isEmpty())
        details = mapOriginText(origin, m_context.captions) + QStringLiteral("\n\n") + details;
    // Another firmware may number or scale its parameters otherwise: said in the text itself, not
    // in the details a technician may never open.
    const QString otherFirmware = otherFirmwareText(origin, controllerFirmwareText(m_session), m_context.captions);
    QString text = m_context.caption(Caption::MapQuestion) + QStringLiteral("\n\n");
    if (!otherFirmware.isEmpty())
        text += otherFirmware + QStringLiteral("\n\n");
    text += restorePointText(point, m_context.captions, m_context.parameterName);
    bool send = false;
    {
        BoxQueue::Scope scope(*m_context.boxes);
        Dialogs &dialogs = m_context.boxes->dialogs();
        const QString title = m_context.caption(Caption::MessageTitle);
        // Without a restore point the tune would be gone for good, and a value no slider can set is
        // unusual enough: in both cases a stray Enter must not send.
        send = point.written() ? dialogs.question(m_context.window, text, title, details,
                                                  beyondSlider || !otherFirmware.isEmpty())
                               : dialogs.confirm(m_context.window, text, title, details);
    }
    // Refused when the port went away while the question was open.
    if (!send || m_session.state() != Session::State::Connected)
        return;
    m_context.recorder->setCause(Recorder::Cause::Map);
    if (!m_session.loadMap(values))
        return;
    dropPoint.dismiss();
    m_loadPoint = point;
    // Older restore points go only now that the load went out: a cancelled one deletes nothing.
    pruneRestorePoints(m_context.mapsFolder(), point.path);
}

void MapPanel::restoreWhenReady(const QString &path)
{
    if (m_session.state() == Session::State::Connected)
        loadFile(path);
    else
        m_pendingRestore = path;
}

void MapPanel::onMapLoaded(const MapLoadResult &result)
{
    QStringList differing;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const qint32 sent = result.sent[index];
        if (result.answered[size_t(i)] && result.readBack[index] == sent)
            continue;
        const QString now = result.answered[size_t(i)] ? displayText(index, result.readBack[index]) : kUnknownText;
        differing << m_context.changeLine(index, displayText(index, sent), now);
    }
    QString text = m_context.caption(Caption::MapNotice) + QStringLiteral("\n\n");
    if (differing.isEmpty())
        text += m_context.caption(Caption::MapAllMatch);
    else
        text += m_context.caption(Caption::MapDiffers) + QLatin1Char('\n') + differing.join(QLatin1Char('\n'));
    const RestorePointOutcome point = std::exchange(m_loadPoint, {});
    text += QStringLiteral("\n\n") + restorePointText(point, m_context.captions, m_context.parameterName);
    if (!point.written()) {
        m_context.tell(text);
        return;
    }
    // The notice offers to put the values from before back; it waits for a box already open.
    const auto notice = [this, text, path = point.path] {
        bool undo = false;
        {
            BoxQueue::Scope scope(*m_context.boxes);
            undo = m_context.boxes->dialogs().messageWithAction(m_context.window, text,
                                                                m_context.caption(Caption::MessageTitle), QString(),
                                                                m_context.caption(Caption::UndoButton));
        }
        if (undo)
            restoreWhenReady(path);
    };
    if (m_context.boxes->isOpen())
        m_context.boxes->deferBox(notice);
    else
        notice();
}

void MapPanel::onSaveMapClicked()
{
    if (m_session.state() != Session::State::Connected || m_saveWaiting)
        return;
    // A map holds only values the controller confirmed: the first seconds after a connect, a value
    // is still being verified, or a write is on its way. The button waits for them, busy meanwhile.
    if (!m_session.verifiedValues([this](const VerifiedValues &values) { onVerifiedForSave(values); }))
        return;
    m_saveWaiting = true;
    updateButtons();
}

void MapPanel::onVerifiedForSave(const VerifiedValues &values)
{
    m_saveWaiting = false;
    updateButtons();
    // A sequence took over meanwhile, or the technician opened a box of another part: no dialog
    // over it; the button is there again.
    if (m_session.state() != Session::State::Connected || m_context.boxes->isOpen())
        return;
    if (!values.complete()) {
        QStringList unknown;
        for (ParameterIndex index : values.unknown())
            unknown << m_context.parameterName(index);
        m_context.tell(m_context.caption(Caption::SaveUnknown) + QLatin1Char('\n') + unknown.join(QLatin1Char('\n')));
        return;
    }
    const auto resumePoll = holdPoll();

    // Before the dialog: a Maps that is no folder is told first.
    const QString folder = mapsFolder();
    // The values are taken after the dialogs: the session may have ended or learnt otherwise meanwhile.
    const auto stillSaveable = [this] {
        return m_session.state() == Session::State::Connected && m_session.allParametersKnown();
    };
    const QString path = askMapToSave(*m_context.boxes, m_context.window, folder, m_context.caption(Caption::MapReplace),
                                      m_context.caption(Caption::MessageTitle), stillSaveable);
    if (path.isEmpty() || !stillSaveable())
        return;
    std::optional<QString> typedNote;
    {
        BoxQueue::Scope scope(*m_context.boxes);
        typedNote = m_context.boxes->dialogs().textLine(m_context.window, m_context.caption(Caption::NoteQuestion),
                                                   m_context.caption(Caption::MessageTitle));
    }
    if (!typedNote || !stillSaveable())
        return;
    const MapOrigin origin = mapOrigin(controllerFirmwareText(m_session), QDateTime::currentDateTime(), *typedNote);
    FileProblem problem;
    if (writeMapFile(path, toMapValues(m_session.controllerValues()), nullptr, &problem, origin))
        emit note(fillPlaceholders(m_context.caption(Caption::MapSavedTo), {QDir::toNativeSeparators(path)}));
    else
        m_context.tell(m_context.caption(Caption::MapNotSaved) + QLatin1Char('\n') + QDir::toNativeSeparators(path)
                       + QLatin1Char('\n') + fileProblemText(problem, m_context.captions));
}

} // namespace oe
