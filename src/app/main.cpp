#include "datafolder.h"
#include "mainwindow.h"
#include "messagelog.h"

#include <QApplication>
#include <QDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Without a display Qt aborts with advice to reinstall the program, which is wrong and helps nobody.
// Platforms that need no display (offscreen, vnc, a framebuffer) are chosen by name and pass.
bool displayMissing(int argc, char *argv[])
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strncmp(argv[i], "-platform=", 10) == 0)
            return false;
    const auto set = [](const char *name) {
        const char *value = std::getenv(name);
        return value && *value;
    };
    if (set("QT_QPA_PLATFORM")) {
        const char *platform = std::getenv("QT_QPA_PLATFORM");
        if (std::strncmp(platform, "xcb", 3) != 0 && std::strncmp(platform, "wayland", 7) != 0)
            return false;
    }
    return !set("DISPLAY") && !set("WAYLAND_DISPLAY");
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    return false;
#endif
}

} // namespace

int main(int argc, char *argv[])
{
    if (displayMissing(argc, argv)) {
        std::fputs("No graphical display (DISPLAY or WAYLAND_DISPLAY not set)\n"
                   "Start OE Setup from a desktop session, or on a virtual one: xvfb-run -a oe-setup\n",
                   stderr);
        return 1;
    }
    QApplication::setApplicationName(QStringLiteral("OE Setup"));
    QApplication::setApplicationVersion(QStringLiteral(OE_VERSION));
#ifdef Q_OS_WIN
    // No console to write to; before the application, so that the platform plugin's words are kept.
    const QString logFolder = oe::userDataFallback();
    if (!logFolder.isEmpty())
        oe::installMessageLog(QDir(logFolder).filePath(QStringLiteral("oe-setup.log")));
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("OE Setup"));

    oe::MainWindow window(QCoreApplication::applicationDirPath());
    window.show();
    return app.exec();
}
