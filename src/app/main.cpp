#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("OE Setup"));
    QApplication::setApplicationDisplayName(QStringLiteral("OE Setup"));
    QApplication::setApplicationVersion(QStringLiteral(OE_VERSION));

    oe::MainWindow window(QCoreApplication::applicationDirPath());
    window.show();
    return app.exec();
}
