#include "mapfiledialogs.h"

#include "boxqueue.h"
#include "captiontable.h"
#include "dialogs.h"
#include "mapfile.h"
#include "maptexts.h"

#include <QFileInfo>

namespace oe {

namespace {

const QString kMapFilter = QStringLiteral("File Map (*.map)");

} // namespace

std::optional<CheckedMap> readCheckedMap(const QString &path, const CaptionTable &captions, const QString &heading,
                                         const std::function<void(const QString &)> &tell)
{
    const MapReadResult map = readMapFile(path);
    const MapCheck check = map.ok ? checkMap(map) : MapCheck{};
    if (!map.ok || !check.ok) {
        tell(heading + QLatin1Char('\n') + mapErrorText(map.ok ? check.refusal : map.error, captions));
        return std::nullopt;
    }
    CheckedMap checked;
    for (int i = 0; i < kParameterCount; ++i)
        checked.values[ParameterIndex(i)] = map.values[size_t(i)];
    checked.check = check;
    checked.origin = map.origin;
    for (const MapKeyNote &note : map.keyNotes)
        checked.notes << mapKeyNoteText(note, captions);
    return checked;
}

QString askMapToOpen(BoxQueue &boxes, QWidget *parent, const QString &folder)
{
    BoxQueue::Scope scope(boxes);
    return boxes.dialogs().openFileName(parent, folder, kMapFilter);
}

QString askMapToSave(BoxQueue &boxes, QWidget *parent, const QString &folder, const QString &replaceQuestion,
                     const QString &title, const std::function<bool()> &stillWanted)
{
    QString path;
    {
        BoxQueue::Scope scope(boxes);
        path = boxes.dialogs().saveFileName(parent, folder, kMapFilter, QStringLiteral("map"));
    }
    if (path.isEmpty() || (stillWanted && !stillWanted()))
        return {};
    if (!QFileInfo(path).suffix().isEmpty())
        return path;
    path += QStringLiteral(".map");
    if (!QFileInfo::exists(path))
        return path;
    BoxQueue::Scope scope(boxes);
    const bool replace =
        boxes.dialogs().question(parent, QString(replaceQuestion).replace(QStringLiteral("%1"), QFileInfo(path).fileName()), title);
    return replace ? path : QString();
}

} // namespace oe
