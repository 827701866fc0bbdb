#include "maptexts.h"

namespace oe {

namespace {

// One pass over the text, so a value such as "%1" read from the file is shown as it is, and a
// translation that leaves out a placeholder loses only that piece.
QString fillPlaceholders(const QString &text, const QString &line, const QString &detail)
{
    QString out;
    out.reserve(text.size() + line.size() + detail.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 1 < text.size() && (text[i + 1] == u'1' || text[i + 1] == u'2')) {
            out += text[i + 1] == u'1' ? line : detail;
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

int mapErrorEntry(MapFileError::Kind kind)
{
    using Kind = MapFileError::Kind;
    switch (kind) {
    case Kind::CannotRead: return Caption::MapCannotRead;
    case Kind::TooLarge: return Caption::MapTooLarge;
    case Kind::NotText: return Caption::MapNotText;
    case Kind::TooFewLines: return Caption::MapTooFewLines;
    case Kind::TooManyLines: return Caption::MapTooManyLines;
    case Kind::BlankLine: return Caption::MapBlankLine;
    case Kind::NoEquals: return Caption::MapNoEquals;
    case Kind::NotANumber: return Caption::MapNotANumber;
    case Kind::OutOfRange: return Caption::MapOutOfRange;
    }
    return Caption::MapCannotRead;
}

QString builtInMapCaption(int entry)
{
    switch (entry) {
    case Caption::MapCannotRead: return QStringLiteral("The file cannot be read: %2.");
    case Caption::MapTooLarge: return QStringLiteral("The file is too large to be a map file.");
    case Caption::MapNotText:
        return QStringLiteral("Line %1 contains characters that are not plain text: this is not a map file.");
    case Caption::MapTooFewLines: return QStringLiteral("The file has too few lines: %1 instead of 8.");
    case Caption::MapTooManyLines: return QStringLiteral("The file has more than 11 lines: a map file has 8.");
    case Caption::MapBlankLine: return QStringLiteral("Line %1 is empty.");
    case Caption::MapNoEquals: return QStringLiteral("Line %1 has no = sign.");
    case Caption::MapNotANumber: return QStringLiteral("Line %1: the value '%2' is not a number.");
    case Caption::MapOutOfRange: return QStringLiteral("Line %1: the value %2 is outside 0 to 65535.");
    case Caption::MapNoChanges:
        return QStringLiteral("No parameter changes: the controller already holds these values.");
    case Caption::MapAllMatch: return QStringLiteral("All eight parameters match the file.");
    case Caption::MapDiffers: return QStringLiteral("These parameters differ from the file:");
    default: return QString();
    }
}

QString mapErrorText(const MapFileError &error, const CaptionTable &table)
{
    const int entry = mapErrorEntry(error.kind);
    QString text = table.text(entry);
    if (text.isEmpty())
        text = builtInMapCaption(entry);
    return fillPlaceholders(text, QString::number(error.line), error.detail);
}

} // namespace oe
