#pragma once

#include <QString>

namespace oe {

// Where the program keeps what it writes: config.ini, Maps/ and Recordings/. Language.ini, Help.chm
// and the manual stay in the program folder, which only needs to be read.

// Whether a file can be made in the folder. Asked by making one: on Windows a folder's read-only
// attribute says nothing about its access rights.
bool folderWritable(const QString &folder);

// The program folder when it can be written (a portable folder, an installation the user owns);
// otherwise the fallback, made when missing. An empty fallback, or one that cannot be made either,
// keeps the program folder: what fails there is reported as before.
QString chooseDataFolder(const QString &programFolder, const QString &fallback);

// A fallback taken for the first time starts from what the program folder holds: its config.ini
// (the port and language an installation was set up with) and its Maps\*.map. Nothing that is
// already there is replaced; the copies can be written.
void seedDataFolder(const QString &programFolder, const QString &dataFolder);

// This system's fallback: on Windows %LOCALAPPDATA%\OE Setup; elsewhere none, so that a Linux
// program folder stays the home of everything as it always was.
QString userDataFallback();

// chooseDataFolder with this system's fallback.
QString dataFolderFor(const QString &programFolder);

} // namespace oe
