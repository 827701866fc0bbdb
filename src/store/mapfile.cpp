#include "mapfile.h"

#include "atomicfile.h"
#include "lenientnumber.h"
#include "textlines.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace oe {

namespace {

constexpr std::array<const char *, kMapValueCount> kKeys = {
    "MinPumpCycles", "MaxPumpCycles", "RpmMin", "TinjMin",
    "TinjMax", "MinLoadPumpPause", "MaxLoadPumpPause", "RpmMultiplier",
};

// Map files are ASCII. Any other byte means the user picked something that is not a map file
// (an image, a program, a file full of NULs); tabs pass because blanks are skipped anyway.
bool isTextChar(QChar c)
{
    const char16_t u = c.unicode();
    return u == u'\t' || (u >= 0x20 && u < 0x7f);
}

bool isBlankOnly(const QString &line)
{
    for (QChar c : line) {
        if (c != u' ' && c != u'\t')
            return false;
    }
    return true;
}

const QLatin1String kFirmwareKey("Firmware");
const QLatin1String kSavedKey("Saved");
const QLatin1String kNoteKey("Note");
const QString kSavedFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

bool readsAsLineNumber(QStringView text)
{
    return readLenientInteger(text, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()).has_value();
}

QString unquoted(const QString &text)
{
    return text.size() >= 2 && text.startsWith(u'"') && text.endsWith(u'"') ? text.mid(1, text.size() - 2) : text;
}

// What a line past the eighth says of the map's origin; other keys say nothing.
void takeOriginLine(const QString &key, const QString &text, MapOrigin &origin)
{
    if (key.compare(kFirmwareKey, Qt::CaseInsensitive) == 0)
        origin.firmware = unquoted(text);
    else if (key.compare(kSavedKey, Qt::CaseInsensitive) == 0)
        origin.saved = unquoted(text);
    else if (key.compare(kNoteKey, Qt::CaseInsensitive) == 0)
        origin.note = unquoted(text);
}

MapReadResult refused(MapFileError::Kind kind, int line, const QString &detail = QString(),
                      FileFault fault = FileFault::None)
{
    MapReadResult result;
    result.error = {kind, line, detail, fault};
    return result;
}

} // namespace

MapReadResult parseMap(QByteArrayView data)
{
    if (data.size() > kMapMaxFileSize)
        return refused(MapFileError::Kind::TooLarge, 0);
    // Some Windows editors start a UTF-8 file with a byte-order mark; it carries nothing for us.
    if (data.startsWith("\xEF\xBB\xBF"))
        data = data.sliced(3);

    // One line more than allowed is enough to see that there are too many.
    const QStringList lines =
        splitLines(QByteArray::fromRawData(data.data(), data.size()), kMapMaxLines + 1);

    MapReadResult result;
    // The extra lines 9 to 11 are checked too although their values are never used: a file with a
    // broken tail is more likely a damaged or wrong file than a map with notes.
    for (int i = 0; i < lines.size(); ++i) {
        const int lineNumber = i + 1;
        if (lineNumber > kMapMaxLines)
            return refused(MapFileError::Kind::TooManyLines, lineNumber);
        const QString &line = lines[i];
        if (!std::all_of(line.cbegin(), line.cend(), isTextChar))
            return refused(MapFileError::Kind::NotText, lineNumber);
        if (isBlankOnly(line))
            return refused(MapFileError::Kind::BlankLine, lineNumber);
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            return refused(MapFileError::Kind::NoEquals, lineNumber);
        qsizetype end = line.indexOf(u'=', equals + 1);
        if (end < 0)
            end = line.size();
        const QStringView value = QStringView(line).mid(equals + 1, end - equals - 1);
        if (i >= kMapValueCount) {
            // Read as every reader of the format reads it; what it says is kept, never sent.
            if (!readsAsLineNumber(value))
                return refused(MapFileError::Kind::ExtraOutOfRange, lineNumber, value.trimmed().toString());
            takeOriginLine(line.left(equals).trimmed(), line.mid(equals + 1).trimmed(), result.origin);
            continue;
        }
        const std::optional<double> number = readCleanNumber(value);
        if (!number)
            return refused(MapFileError::Kind::NotANumber, lineNumber, value.trimmed().toString());
        const auto rounded = roundHalfEven(*number, kMapMinValue, kMapMaxValue);
        if (!rounded)
            return refused(MapFileError::Kind::OutOfRange, lineNumber, value.trimmed().toString());
        result.values[size_t(i)] = qint32(*rounded);
        result.valueTexts.append(value.trimmed().toString());
        const QString key = line.left(equals).trimmed();
        if (key.compare(QLatin1String(kKeys[size_t(i)]), Qt::CaseInsensitive) != 0)
            result.keyNotes.append({lineNumber, key});
    }
    if (lines.size() < kMapValueCount)
        return refused(MapFileError::Kind::TooFewLines, int(lines.size()));
    result.ok = true;
    return result;
}

MapReadResult readMapFile(const QString &path)
{
    // A pipe or a device is never a map file, and opening a pipe would wait for a writer. A folder
    // is left to QFile, which refuses it with its own reason.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile() && !info.isDir())
        return refused(MapFileError::Kind::CannotRead, 0, QStringLiteral("not a regular file"), FileFault::NotAFile);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refused(MapFileError::Kind::CannotRead, 0, file.errorString(), readFault(path));
    const QByteArray data = file.read(kMapMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return refused(MapFileError::Kind::CannotRead, 0, file.errorString(), readFault(path));
    return parseMap(data);
}

QByteArray formatMap(const MapValues &values, const MapOrigin &origin)
{
    QByteArray out;
    for (int i = 0; i < kMapValueCount; ++i) {
        out += kKeys[size_t(i)];
        out += '=';
        out += QByteArray::number(values[size_t(i)]);
        out += "\r\n";
    }
    // Each part passes through mapNoteText: whatever a caller hands in stays one ASCII line. A text
    // that would not read as a number in range is quoted, which reads as 0.
    const auto line = [&out](QLatin1String key, const QString &text, bool quoted) {
        const QString clean = mapNoteText(text);
        if (clean.isEmpty())
            return;
        quoted = quoted || !readsAsLineNumber(clean);
        out += key.latin1();
        out += '=';
        out += (quoted ? QLatin1Char('"') + clean + QLatin1Char('"') : clean).toLatin1();
        out += "\r\n";
    };
    line(kFirmwareKey, origin.firmware, false);
    line(kSavedKey, origin.saved, false);
    line(kNoteKey, origin.note, true);
    return out;
}

bool writeMapFile(const QString &path, const MapValues &values, QString *error, FileProblem *problem,
                  const MapOrigin &origin)
{
    return writeFileAtomically(path, formatMap(values, origin), error, problem);
}

MapOrigin mapOrigin(const QString &firmware, const QDateTime &when, const QString &note)
{
    return {mapNoteText(firmware), when.isValid() ? when.toString(kSavedFormat) : QString(), mapNoteText(note)};
}

QString mapNoteText(const QString &typed)
{
    QString out;
    // Decomposed, an accented letter is its plain letter and a mark the file cannot hold.
    for (QChar c : typed.normalized(QString::NormalizationForm_KD)) {
        if (c.category() == QChar::Mark_NonSpacing)
            continue;
        if (c.isSpace())
            out += u' ';
        else if (c.category() == QChar::Punctuation_Dash)
            out += u'-';
        else if (c.unicode() >= 0x20 && c.unicode() < 0x7f)
            out += c;
        else
            out += u'?';
    }
    return out.simplified().left(kMapNoteMaxLength);
}

QString firmwareVersionText(const std::array<quint8, 3> &version)
{
    return QStringLiteral("%1.%2.%3").arg(version[0]).arg(version[1]).arg(version[2]);
}

QString mapFileKey(int index)
{
    if (index < 0 || index >= kMapValueCount)
        return QString();
    return QString::fromLatin1(kKeys[size_t(index)]);
}

} // namespace oe
