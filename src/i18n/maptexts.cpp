#include "maptexts.h"

#include <QStringList>

namespace oe {

namespace {

QString entryText(int entry, const CaptionTable &table)
{
    const QString text = table.text(entry);
    return text.isEmpty() ? builtInMapCaption(entry) : text;
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
    case Kind::CrossedPair: return Caption::MapCrossedPair;
    case Kind::ExtraOutOfRange: return Caption::MapExtraOutOfRange;
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
    case Caption::MapCrossedPair:
        return QStringLiteral("Line %1 is out of order with the line before it (%2): the sliders never allow this pair.");
    case Caption::MapKeyNote: return QStringLiteral("Line %1 is named '%2'; it is read as %3.");
    case Caption::MapExtraOutOfRange:
        return QStringLiteral("Line %1: '%2' reads as a number too large for a map file.");
    case Caption::OriginFirmware: return QStringLiteral("Firmware %1");
    case Caption::OriginSaved: return QStringLiteral("saved %1");
    case Caption::OriginNote: return QStringLiteral("Note: %1");
    case Caption::NoOrigin: return QStringLiteral("The file does not say where it came from.");
    case Caption::OtherFirmware:
        return QStringLiteral("This map was saved from firmware %1; this controller has firmware %2. Its values may mean "
                              "something else here.");
    case Caption::FileNotFound: return QStringLiteral("The file or its folder does not exist.");
    case Caption::FileNoPermission: return QStringLiteral("Access to the file or its folder is denied.");
    case Caption::DiskFull: return QStringLiteral("The disk is full.");
    case Caption::NotAFile: return QStringLiteral("This is not a file.");
    default: return QString();
    }
}

QString mapErrorText(const MapFileError &error, const CaptionTable &table)
{
    if (error.kind == MapFileError::Kind::CannotRead && error.fault != FileFault::Other
        && error.fault != FileFault::None)
        return fileProblemText({error.fault, error.detail}, table);
    return fillPlaceholders(entryText(mapErrorEntry(error.kind), table), {QString::number(error.line), error.detail});
}

QString fileProblemText(const FileProblem &problem, const CaptionTable &table)
{
    switch (problem.fault) {
    case FileFault::NotFound: return entryText(Caption::FileNotFound, table);
    case FileFault::NoPermission: return entryText(Caption::FileNoPermission, table);
    case FileFault::DiskFull: return entryText(Caption::DiskFull, table);
    case FileFault::NotAFile: return entryText(Caption::NotAFile, table);
    case FileFault::None:
    case FileFault::Other: break;
    }
    return problem.systemText;
}

QString mapOriginText(const MapOrigin &origin, const CaptionTable &table)
{
    if (origin.isEmpty())
        return entryText(Caption::NoOrigin, table);
    QStringList first;
    if (!origin.firmware.isEmpty())
        first << fillPlaceholders(entryText(Caption::OriginFirmware, table), {origin.firmware});
    if (!origin.saved.isEmpty())
        first << fillPlaceholders(entryText(Caption::OriginSaved, table), {origin.saved});
    QStringList lines;
    if (!first.isEmpty()) {
        QString line = first.join(QStringLiteral(", "));
        line[0] = line[0].toUpper(); // "saved …" opens the line when the firmware is not known
        lines << line;
    }
    if (!origin.note.isEmpty())
        lines << fillPlaceholders(entryText(Caption::OriginNote, table), {origin.note});
    return lines.join(QLatin1Char('\n'));
}

QString otherFirmwareText(const MapOrigin &origin, const QString &controllerFirmware, const CaptionTable &table)
{
    if (origin.firmware.isEmpty() || controllerFirmware.isEmpty() || origin.firmware == controllerFirmware)
        return {};
    return fillPlaceholders(entryText(Caption::OtherFirmware, table), {origin.firmware, controllerFirmware});
}

QString mapKeyNoteText(const MapKeyNote &note, const CaptionTable &table)
{
    return fillPlaceholders(entryText(Caption::MapKeyNote, table),
                            {QString::number(note.line), note.key, mapFileKey(note.line - 1)});
}

} // namespace oe
