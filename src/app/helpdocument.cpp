#include "helpdocument.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace oe {

QString helpPagePath(const QString &languageCode)
{
    return QStringLiteral("help/") + chmPagePath(languageCode);
}

QString chmPagePath(const QString &languageCode)
{
    return languageCode == QLatin1String("ITA") ? QStringLiteral("ita/index.html") : QStringLiteral("eng/index.html");
}

QUrl helpDocumentUrl(const QString &programFolder, const QString &languageCode, const HelpViewers &viewers)
{
    const QDir folder(programFolder);
    const QString chm = folder.absoluteFilePath(QLatin1String(kHelpChm));
    if ((viewers.windows || viewers.chmViewer) && QFileInfo(chm).isFile()) {
        QUrl url = QUrl::fromLocalFile(chm);
        // Windows' viewer opens a page inside the file; other viewers take the file alone.
        if (viewers.windows)
            url.setFragment(chmPagePath(languageCode));
        return url;
    }
    const QString page = folder.absoluteFilePath(helpPagePath(languageCode));
    if (QFileInfo(page).isFile())
        return QUrl::fromLocalFile(page);
    return {};
}

HelpViewers desktopHelpViewers()
{
    HelpViewers viewers;
#ifdef Q_OS_WIN
    viewers.windows = true;
#else
    // A browser handed a .chm offers to download it; only a desktop with a CHM viewer gets Help.chm.
    QProcess query;
    query.setProcessChannelMode(QProcess::SeparateChannels);
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("application/vnd.ms-htmlhelp")},
                QIODevice::ReadOnly);
    // Also covers a missing xdg-mime (no xdg-utils): nothing to ask, the browser gets the HTML pages.
    if (!query.waitForFinished(int(kViewerQueryTimeout.count()))) {
        if (query.state() != QProcess::NotRunning) {
            query.kill();
            query.waitForFinished(100);
        }
        return viewers;
    }
    viewers.chmViewer = query.exitStatus() == QProcess::NormalExit && query.exitCode() == 0
                        && !query.readAllStandardOutput().trimmed().isEmpty();
#endif
    return viewers;
}

} // namespace oe
