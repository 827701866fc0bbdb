// Map files: saving the parameters the window holds, and loading a file into the controller after
// the whole file was checked and the user saw what it changes.

#include "dialogs.h"
#include "mainwindow.h"
#include "mapfile.h"
#include "maptexts.h"
#include "numbertexts.h"

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
        dialogs().message(this, caption(Caption::MapsNotAFolder), caption(Caption::MessageTitle));
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

    const QString path = dialogs().openFileName(this, mapsFolder(), kMapFilter);
    if (path.isEmpty())
        return;
    const MapReadResult map = readMapFile(path);
    if (!map.ok) {
        dialogs().message(this, caption(Caption::MapInvalid) + QLatin1Char('\n') + mapErrorText(map.error, m_captions),
                          caption(Caption::MessageTitle));
        return;
    }
    const ParameterSet values = fromMapValues(map.values);

    QStringList changes;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const qint32 now = m_session->Parameters[index];
        if (values[index] != now)
            changes << changeLine(index, displayText(index, now), displayText(index, values[index]));
    }
    const QString details = changes.isEmpty() ? caption(Caption::MapNoChanges) : changes.join(QLatin1Char('\n'));
    if (!dialogs().question(this, caption(Caption::MapQuestion), caption(Caption::MessageTitle), details))
        return;
    // Refused when the port went away while the question was open.
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
                                                       : QStringLiteral("?");
        differing << changeLine(index, displayText(index, sent), now);
    }
    QString text = caption(Caption::MapNotice) + QStringLiteral("\n\n");
    if (differing.isEmpty())
        text += caption(Caption::MapAllMatch);
    else
        text += caption(Caption::MapDiffers) + QLatin1Char('\n') + differing.join(QLatin1Char('\n'));
    dialogs().message(this, text, caption(Caption::MessageTitle));
}

void MainWindow::onSaveMapClicked()
{
    if (m_session->state() != Session::State::Connected)
        return;
    m_session->holdPoll(true);
    const auto resumePoll = qScopeGuard([this] { m_session->holdPoll(false); });

    QString path = dialogs().saveFileName(this, mapsFolder(), kMapFilter, QStringLiteral("map"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty()) {
        // Whatever asked about the name as typed did not ask about the file we are about to write.
        path += QStringLiteral(".map");
        if (QFileInfo::exists(path)
            && !dialogs().question(this, caption(Caption::MapReplace).replace(QStringLiteral("%1"), QFileInfo(path).fileName()),
                                   caption(Caption::MessageTitle)))
            return;
    }
    QString error;
    if (!writeMapFile(path, toMapValues(m_session->Parameters), &error))
        dialogs().message(this, caption(Caption::MapNotSaved) + QLatin1Char('\n') + error,
                          caption(Caption::MessageTitle));
}

} // namespace oe
