// oe-sim: a simulated controller on a pseudo-terminal, linked as <program folder>/ports/COMn so that the
// program finds it like a serial port.

#include "simprogram.h"

using namespace oe;

namespace {

// Exit code when another simulator already serves the port: scripts can use that one.
constexpr int kExitAlreadyServed = 3;

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("oe-sim"));
    SimOptions options;
    if (const std::optional<int> stop = parseSimOptions(app, &options))
        return *stop;
    if (options.showPort) {
        simOut() << "COM" << options.comPorts.first() << Qt::endl;
        return 0;
    }
    SimProgram program(options);
    program.removeStaleLinks();
    if (options.tidy)
        return 0;
    if (!program.portsFree())
        return kExitAlreadyServed;
    if (!program.bringUpAll())
        return 1;
    program.printBanner();
    program.watchPorts();
    if (!program.catchSignals())
        return 2;
    program.readCommands();
    return program.finish(app.exec());
}
