#pragma once

#include "captiontable.h"

#include <QByteArray>
#include <QString>

namespace oe {

// What loading one language section did. A code without a section in the file is not a failure:
// ok is true, sectionFound false and the table is untouched.
struct LanguageLoadResult
{
    bool ok = true;
    bool sectionFound = false;
    int failedLine = 0;  // line (from 1) where the failing item starts; 0 when no item failed
    QString failedItem;  // the failing item as read, without its quotes
    QString error;       // one English sentence for the technician; empty when ok
};

// Language.ini inside the program folder.
QString languageFilePath(const QString &programFolder);

// Reads the section "[code]" of the language file into the table, entry by entry, up to
// "[END LANGUAGE]" or the end of the file. A failing item stops the read; the entries stored before
// it keep their new texts.
LanguageLoadResult loadLanguage(const QString &filePath, const QString &code, CaptionTable &table);

// The same over file contents already in memory.
LanguageLoadResult loadLanguageData(const QByteArray &contents, const QString &code,
                                    CaptionTable &table);

// The file's bytes as text: UTF-8 when the bytes are valid UTF-8 (a leading byte-order mark is
// dropped), else the Windows 8-bit code page that older files were saved in, a superset of Latin-1.
QString decodeLanguageText(const QByteArray &contents);

} // namespace oe
