#include "restorepoints.h"

#include "atomicfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>

namespace oe {

namespace {

const QString kStampFormat = QStringLiteral("yyyyMMdd-HHmmss");

QString stamp(const QDateTime &when)
{
    // Digits only, whatever the desktop's language; the name tells the technician's own clock.
    return QLocale::c().toString(when.toLocalTime(), kStampFormat);
}

QString causeText(RestoreCause cause)
{
    switch (cause) {
    case RestoreCause::Load: return QStringLiteral("load");
    case RestoreCause::Reset: return QStringLiteral("reset");
    case RestoreCause::Program: return QStringLiteral("program");
    }
    return {};
}

// Port and firmware as a name keeps them: letters, digits, '.' and '_'; anything else '_'.
QString namePart(const QString &text)
{
    QString out;
    for (const QChar c : text.trimmed()) {
        const bool kept = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')
                          || c == u'.' || c == u'_';
        out += kept ? c : QChar(u'_');
    }
    return out.isEmpty() ? QStringLiteral("unknown") : out;
}

// The two names the program gives; -N before ".map" when the plain name was taken. Restore points
// of earlier versions carry no port and firmware.
const QRegularExpression &restorePattern()
{
    static const QRegularExpression pattern(QStringLiteral(
        "^(\\d{8}-\\d{6})-before-(load|reset|program)(?:-([A-Za-z0-9._]+)-([A-Za-z0-9._]+))?(?:-(\\d{1,6}))?\\.map$"));
    return pattern;
}

const QRegularExpression &backupPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{8}-\\d{6})-([A-Za-z0-9._]+)-([A-Za-z0-9._]+)(?:-(\\d{1,6}))?\\.map$"));
    return pattern;
}

struct OwnFile {
    RestorePointInfo info;
    int suffix = 1; // a later file of the same second has a higher one
};

QList<OwnFile> ownFiles(const QString &folder)
{
    QList<OwnFile> files;
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.map")}, QDir::Files);
    for (const QString &name : names) {
        OwnFile file;
        QRegularExpressionMatch match = restorePattern().match(name);
        int suffixAt = 5;
        if (match.hasMatch()) {
            const QString cause = match.captured(2);
            file.info.cause = cause == QLatin1String("load")    ? RestoreCause::Load
                              : cause == QLatin1String("reset") ? RestoreCause::Reset
                                                                : RestoreCause::Program;
            file.info.origin = {match.captured(3), match.captured(4)};
        } else {
            match = backupPattern().match(name);
            if (!match.hasMatch())
                continue;
            file.info.origin = {match.captured(2), match.captured(3)};
            suffixAt = 4;
        }
        if (match.hasCaptured(suffixAt))
            file.suffix = match.captured(suffixAt).toInt();
        file.info.when = QLocale::c().toDateTime(match.captured(1), kStampFormat);
        if (!file.info.when.isValid())
            continue; // digits that are no date: not a name we gave
        file.info.path = QDir(folder).filePath(name);
        files.append(file);
    }
    std::sort(files.begin(), files.end(), [](const OwnFile &a, const OwnFile &b) {
        if (a.info.when != b.info.when)
            return a.info.when > b.info.when;
        if (a.suffix != b.suffix)
            return a.suffix > b.suffix;
        return a.info.path > b.info.path;
    });
    return files;
}

} // namespace

void pruneRestorePoints(const QString &mapsFolder, const QString &keep)
{
    const QList<OwnFile> files = ownFiles(restorePointFolder(mapsFolder));
    int kept = keep.isEmpty() ? 0 : 1;
    for (const OwnFile &file : files) {
        const bool automatic = file.info.cause == RestoreCause::Load || file.info.cause == RestoreCause::Reset;
        if (!automatic || file.info.path == keep)
            continue;
        if (kept < kRestorePointsKept)
            ++kept;
        else
            QFile::remove(file.info.path);
    }
}

QString restorePointFolder(const QString &mapsFolder)
{
    return QDir(mapsFolder).filePath(QStringLiteral("Backups"));
}

RestorePointWrite writeRestorePoint(const QString &mapsFolder, RestoreCause cause, const MapValues &values,
                                    const QDateTime &when, const RestorePointOrigin &origin)
{
    RestorePointWrite result;
    const QString folder = restorePointFolder(mapsFolder);
    if (!QDir().mkpath(folder)) {
        result.error = QStringLiteral("%1 cannot be created").arg(folder);
        result.problem = {folderFault(folder), result.error};
        return result;
    }
    const QString base = QStringLiteral("%1-before-%2-%3-%4")
                             .arg(stamp(when), causeText(cause), namePart(origin.port), namePart(origin.firmware));
    // The name is claimed with a file that must be new, so a restore point written in the same
    // second, by this program or a console run beside it, is never replaced.
    for (int n = 1; n < 1000; ++n) {
        const QString name = n == 1 ? base + QStringLiteral(".map") : QStringLiteral("%1-%2.map").arg(base).arg(n);
        const QString path = QDir(folder).filePath(name);
        QFile claim(path);
        if (!claim.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo::exists(path))
                continue;
            result.error = QStringLiteral("%1 cannot be written: %2").arg(path, claim.errorString());
            result.problem = {writeFault(path, false, 0), claim.errorString()};
            return result;
        }
        claim.close();
        if (!writeMapFile(path, values, &result.error, &result.problem, mapOrigin(origin.firmware, when))) {
            QFile::remove(path);
            return result;
        }
        result.ok = true;
        result.path = path;
        return result;
    }
    result.error = QStringLiteral("%1 holds too many restore points of the same second").arg(folder);
    result.problem = {FileFault::Other, result.error};
    return result;
}

QString backupFileName(const QDateTime &when, const QString &port, const QString &firmware)
{
    return QStringLiteral("%1-%2-%3.map").arg(stamp(when), namePart(port), namePart(firmware));
}

QList<RestorePointInfo> listRestorePoints(const QString &mapsFolder)
{
    QList<RestorePointInfo> list;
    for (const OwnFile &file : ownFiles(restorePointFolder(mapsFolder)))
        list.append(file.info);
    return list;
}

} // namespace oe
