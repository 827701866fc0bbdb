#pragma once

#include "captiontable.h"
#include "mapfile.h"

#include <QString>
#include <QStringList>

namespace oe {

// The caption entry that explains a map-file refusal of this kind.
int mapErrorEntry(MapFileError::Kind kind);

// English texts of the map-file entries (MapCannotRead to MapDiffers, MapCrossedPair, MapKeyNote) and
// of the file faults (FileNotFound to NotAFile), for a language file that lacks them; empty for any
// other entry.
QString builtInMapCaption(int entry);

// Why a map file was refused, from the table's entry with %1 replaced by the line and %2 by the
// value or the system's reason; the built-in English text when the table has none.
QString mapErrorText(const MapFileError &error, const CaptionTable &table);

// Why a file could not be read or written: our own words for the faults we know, the system's text
// for any other.
QString fileProblemText(const FileProblem &problem, const CaptionTable &table);

// Where a map came from, as its lines 9 to 11 say: "Firmware 1.3.7, saved 2026-12-08 07:01:39" and
// "Note: …" on a line of its own; a sentence saying the file does not tell when it says nothing.
QString mapOriginText(const MapOrigin &origin, const CaptionTable &table);

// The warning that a map comes from another firmware than the controller's; empty when it does not
// (or when either is not known).
QString otherFirmwareText(const MapOrigin &origin, const QString &controllerFirmware, const CaptionTable &table);

// "Line 3 is named 'Foo'; it is read as RpmMin."
QString mapKeyNoteText(const MapKeyNote &note, const CaptionTable &table);

} // namespace oe
