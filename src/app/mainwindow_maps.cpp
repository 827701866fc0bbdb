// Map files: saving the parameters the window holds, and loading a file into the controller after
// the whole file was checked and the user saw what it changes.

#include "dialogs.h"
#include "mainwindow.h"
#include "mapfile.h"
#include "maptexts.h"
#include "numbertexts.h"
#include "valuerule.h"

#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QScopeGuard>

namespace oe {

namespace {

const QString kMapFilter = QStringLiteral("File Map (*.map)");

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

} // namespace

QString MainWindow::mapsFolder()
{
    const QString folder = QDir(m_programFolder).filePath(QStringLiteral("Maps"));
    // A missing folder would leave the dialog in some unrelated place.
    QDir().mkpath(folder);
    const QFileInfo info(folder);
    if (info.isDir())
        return folder;
    // A file (or a broken link) named Maps: the dialog would open beside it with "Maps" filled in as
    // the name, and nothing would say why. Say it once and use the program folder. Nothing there at
    // all (a read-only program folder) needs no word: the program folder it is.
    if ((info.exists() || info.isSymLink()) && !m_mapsProblemShown) {
        m_mapsProblemShown = true;
        showMessage(caption(Caption::MapsNotAFolder), caption(Caption::MessageTitle));
    }
    return m_programFolder;
}

// The name a technician knows the parameter by: its frame's caption, and the row's caption where the
// frame holds two rows, all in the language shown.
QString MainWindow::parameterCaption(ParameterIndex index) const
{
    auto within = [](const QGroupBox *frame, const QLabel *row) {
        return QStringLiteral("%1 – %2").arg(frame->title(), row->text());
    };
    switch (index) {
    case ParameterIndex::MinPumpCycles: return within(Frame4, Label10);
    case ParameterIndex::MaxPumpCycles: return within(Frame4, Label7);
    case ParameterIndex::RpmMin: return Frame2->title();
    case ParameterIndex::TinjMin: return Label4->text();
    case ParameterIndex::TinjMax: return Label5->text();
    case ParameterIndex::MinLoadPumpPause: return within(Frame6, Label6);
    case ParameterIndex::MaxLoadPumpPause: return within(Frame6, Label11);
    case ParameterIndex::RpmMultiplier: return Frame7->title();
    }
    return QString();
}

// "Tinj Max: 9000 → 14": one parameter going from one shown value to another.
QString MainWindow::changeLine(ParameterIndex index, const QString &from, const QString &to) const
{
    return QStringLiteral("%1: %2 → %3").arg(parameterCaption(index), from, to);
}

void MainWindow::onLoadMapClicked()
{
    if (m_session->state() != Session::State::Connected)
        return;
    // No poll while the dialog, the question and the load run; it comes back in every case.
    m_session->holdPoll(true);
    const auto resumePoll = qScopeGuard([this] { m_session->holdPoll(false); });

    // Before the dialog: a Maps that is no folder is told first.
    const QString folder = mapsFolder();
    QString path;
    {
        ModalScope scope(this);
        path = dialogs().openFileName(this, folder, kMapFilter);
    }
    // The session may have ended while the dialog was open; then there is nothing to ask.
    if (path.isEmpty() || m_session->state() != Session::State::Connected)
        return;
    const MapReadResult map = readMapFile(path);
    const MapCheck check = map.ok ? checkMap(map) : MapCheck{};
    if (!map.ok || !check.ok) {
        showMessage(caption(Caption::MapInvalid) + QLatin1Char('\n')
                        + mapErrorText(map.ok ? check.refusal : map.error, m_captions),
                    caption(Caption::MessageTitle));
        return;
    }
    const ParameterSet values = fromMapValues(map.values);

    // Against what the controller has; a value it never told shows as unknown.
    QStringList changes;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const bool known = m_session->parameterKnown(index);
        const qint32 now = m_session->controllerValues()[index];
        if (!known || values[index] != now)
            changes << changeLine(index, known ? displayText(index, now) : QStringLiteral("---"),
                                  displayText(index, values[index]));
    }
    QString details = changes.isEmpty() ? caption(Caption::MapNoChanges) : changes.join(QLatin1Char('\n'));
    // Lines named otherwise than we name them are still read by position; the user sees how.
    QStringList notes;
    for (const MapKeyNote &note : map.keyNotes)
        notes << mapKeyNoteText(note, m_captions);
    if (!notes.isEmpty())
        details = notes.join(QLatin1Char('\n')) + QStringLiteral("\n\n") + details;
    bool send = false;
    {
        ModalScope scope(this);
        send = dialogs().question(this, caption(Caption::MapQuestion), caption(Caption::MessageTitle), details);
    }
    if (!send)
        return;
    // Refused when the port went away while the question was open.
    m_recorder->setCause(Recorder::Cause::Map);
    m_session->loadMap(values);
}

void MainWindow::onMapLoaded(const MapLoadResult &result)
{
    QStringList differing;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const qint32 sent = result.sent[index];
        if (result.answered[size_t(i)] && result.readBack[index] == sent)
            continue;
        const QString now = result.answered[size_t(i)] ? displayText(index, result.readBack[index])
                                                       : QStringLiteral("---");
        differing << changeLine(index, displayText(index, sent), now);
    }
    QString text = caption(Caption::MapNotice) + QStringLiteral("\n\n");
    if (differing.isEmpty())
        text += caption(Caption::MapAllMatch);
    else
        text += caption(Caption::MapDiffers) + QLatin1Char('\n') + differing.join(QLatin1Char('\n'));
    showMessage(text, caption(Caption::MessageTitle));
}

void MainWindow::onSaveMapClicked()
{
    if (m_session->state() != Session::State::Connected)
        return;
    // A map holds what the controller holds: with a value it never told, there is no such map.
    if (!m_session->allParametersKnown()) {
        QStringList unknown;
        for (int i = 0; i < kParameterCount; ++i)
            if (!m_session->parameterKnown(ParameterIndex(i)))
                unknown << parameterCaption(ParameterIndex(i));
        showMessage(caption(Caption::SaveUnknown) + QLatin1Char('\n') + unknown.join(QLatin1Char('\n')),
                    caption(Caption::MessageTitle));
        return;
    }
    m_session->holdPoll(true);
    const auto resumePoll = qScopeGuard([this] { m_session->holdPoll(false); });

    // Before the dialog: a Maps that is no folder is told first.
    const QString folder = mapsFolder();
    QString path;
    {
        ModalScope scope(this);
        path = dialogs().saveFileName(this, folder, kMapFilter, QStringLiteral("map"));
    }
    // The values are taken after the dialog: the session may have ended or learnt otherwise meanwhile.
    if (path.isEmpty() || m_session->state() != Session::State::Connected || !m_session->allParametersKnown())
        return;
    if (QFileInfo(path).suffix().isEmpty()) {
        // Whatever asked about the name as typed did not ask about the file we are about to write.
        path += QStringLiteral(".map");
        if (QFileInfo::exists(path)) {
            bool replace = false;
            {
                ModalScope scope(this);
                replace = dialogs().question(
                    this, caption(Caption::MapReplace).replace(QStringLiteral("%1"), QFileInfo(path).fileName()),
                    caption(Caption::MessageTitle));
            }
            if (!replace || m_session->state() != Session::State::Connected || !m_session->allParametersKnown())
                return;
        }
    }
    FileProblem problem;
    if (!writeMapFile(path, toMapValues(m_session->controllerValues()), nullptr, &problem))
        showMessage(caption(Caption::MapNotSaved) + QLatin1Char('\n') + fileProblemText(problem, m_captions),
                    caption(Caption::MessageTitle));
}

} // namespace oe
