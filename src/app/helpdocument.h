#pragma once

#include <QString>
#include <QUrl>

#include <chrono>

namespace oe {

// What the desktop can show the manual in.
struct HelpViewers {
    // Windows always has a viewer for compiled help files.
    bool windows = false;
    // Elsewhere: whether the desktop names a default application for compiled help files.
    bool chmViewer = false;
};

// The manual as it lies in the program folder: Help.chm, and the same pages as HTML under help/.
inline constexpr char kHelpChm[] = "Help.chm";
// The first page of one language's HTML pages, relative to the program folder.
QString helpPagePath(const QString &languageCode);
// The same page inside Help.chm.
QString chmPagePath(const QString &languageCode);

// The document Help opens, as a file URL; an empty URL when there is nothing to open. Help.chm where
// the desktop can show it, otherwise the HTML pages of the language in use ("ITA" opens the Italian
// ones, anything else the English ones), which any browser shows. Only files that exist are offered.
// On Windows the URL's fragment names the page of the language in use inside Help.chm.
QUrl helpDocumentUrl(const QString &programFolder, const QString &languageCode, const HelpViewers &viewers);

// How long we wait for the desktop to say whether it has a viewer for compiled help files; on time-out
// we take it as no.
inline constexpr std::chrono::milliseconds kViewerQueryTimeout{1000};

// This desktop: Windows, or elsewhere the answer of `xdg-mime query default application/vnd.ms-htmlhelp`
// (the same lookup xdg-open makes when asked to open Help.chm).
HelpViewers desktopHelpViewers();

} // namespace oe
