// The line alone, the connect, single exchanges and a map load: the window against the paced oe-sim.

#include "benchsections.h"

#include "mapfile.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>

using oe::Request;
using oe::Session;

namespace bench {

namespace {

// ---- The line alone: a bare pty client against the paced simulator, no program code.

struct LineTimes {
    QList<double> firstByte;
    QList<double> secondByte;
};

LineTimes lineOnly(const QString &portPath, int samples)
{
    LineTimes times;
    const int fd = ::open(portPath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return times;
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    const QByteArray status = QByteArray::fromHex("50430300000000");
    for (int i = 0; i < samples; ++i) {
        tcflush(fd, TCIOFLUSH);
        const double t0 = monoMs();
        if (::write(fd, status.constData(), size_t(status.size())) != status.size())
            break;
        pollfd p{fd, POLLIN, 0};
        char sink[64];
        int got = 0;
        while (got < 11 && ::poll(&p, 1, got ? 100 : 500) == 1) {
            const ssize_t n = ::read(fd, sink, got < 2 ? 1 : sizeof sink);
            if (n <= 0)
                break;
            got += int(n);
            if (got == 1)
                times.firstByte.append(monoMs() - t0);
            if (got == 2)
                times.secondByte.append(monoMs() - t0);
        }
        ::usleep(20000);
    }
    ::close(fd);
    return times;
}

// ---- Exchanges through the session

enum class Kind { Read, Write, Status, Version, Reset };

struct ExchangeTimes {
    QList<double> fromFrame; // the frame handed to the port → the result
    QList<double> fromCall;  // the session asked → the result (a write's lead-in included)
    QList<double> line;      // the frame handed to the port → the first receive event
    QList<double> own;       // the first receive event → the result, less the 50 ms pause
    int failed = 0;
};

ExchangeTimes exchanges(Rig &rig, Kind kind, int samples)
{
    ExchangeTimes times;
    QEventLoop loop;
    double called = 0;
    int done = 0;
    std::function<void()> one;
    const auto finished = [&](bool ok) {
        const double now = monoMs();
        if (ok) {
            times.fromFrame.append(now - rig.port->lastWriteMs);
            times.fromCall.append(now - called);
            times.line.append(rig.port->lastReceiveMs - rig.port->lastWriteMs);
            times.own.append(now - rig.port->lastReceiveMs - kSettleMs);
        } else {
            ++times.failed;
        }
        if (++done >= samples)
            loop.quit();
        else
            QTimer::singleShot(20, one); // a short rest, so no tail of the last reply is about
    };
    const qint32 rpmMin = rig.s().Parameters.RpmMin;
    one = [&] {
        called = monoMs();
        switch (kind) {
        case Kind::Read: rig.s().ReadParameter(2, finished); break;
        case Kind::Write: rig.s().WriteParameter(2, rpmMin, finished); break;
        case Kind::Version: rig.s().RequestVersion(finished); break;
        case Kind::Reset: rig.s().SendReset(finished); break;
        case Kind::Status:
            rig.s().engine()->submit(Request::status(), [&](const oe::RequestResult &r) { finished(r.answered()); });
            break;
        }
    };
    QTimer::singleShot(0, one);
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(samples * 4000);
    loop.exec();
    return times;
}

// The rows of one kind of exchange; a status exchange's median is kept for the poll's period.
void exchangeRows(BenchContext &ctx, Rig &rig, Kind kind, const char *name, double floor)
{
    const ExchangeTimes t = exchanges(rig, kind, ctx.samples());
    Row &row = ctx.rows.add(QStringLiteral("exchange: %1").arg(QLatin1String(name)), QStringLiteral("ms"), t.fromFrame,
                            floor);
    row.setGoal(QStringLiteral("<= floor + 3 ms"), row.median <= floor + 3 && t.failed == 0);
    row.note = QStringLiteral("frame to first receive event (the line: the frame and one reply byte at wire speed): "
                              "median %1 ms; receive event to result, less the 50 ms pause (the program): "
                              "median %2 ms, p95 %3 ms")
                   .arg(num(median(t.line), 2), num(median(t.own), 2), num(percentile(t.own, 95), 2));
    if (t.failed)
        row.note += QStringLiteral("; %1 not answered").arg(t.failed);
    if (kind == Kind::Status) {
        ctx.statusMedianMs = row.median;
        Row &own = ctx.rows.add(QStringLiteral("exchange: status, the program's own share"), QStringLiteral("ms"), t.own);
        own.setGoal(QStringLiteral("<= 3 ms"), own.median <= 3);
        own.note = QStringLiteral("receive event to result, less the 50 ms pause: the settle timer's lateness and the "
                                  "decoding; the line's part is outside the program");
    }
    if (kind == Kind::Write) {
        Row &lead = ctx.rows.add(QStringLiteral("exchange: write, with its 10 ms lead-in"), QStringLiteral("ms"),
                                 t.fromCall, floor + kLeadInMs);
        lead.setGoal(QStringLiteral("<= floor + 10 ms + 3 ms"), lead.median <= floor + kLeadInMs + 3);
        lead.note = QStringLiteral("timed from the session's call: the program rests 10 ms before every write "
                                   "frame by design, so this row's floor carries it");
    }
}

// What the connects of the connect section saw.
struct ConnectTimes {
    QList<double> whole;    // click to Connected
    QList<double> net;      // the same, each frame's line time replaced by the wire's
    QList<double> opening;  // click to first frame
    QList<double> identToRead;
};

ConnectTimes connectTimes(Rig &rig, int count)
{
    ConnectTimes times;
    double connectStarted = 0;
    const QMetaObject::Connection onState = QObject::connect(&rig.s(), &Session::stateChanged, [&](Session::State state) {
        if (state == Session::State::Connected && connectStarted > 0) {
            times.whole.append(monoMs() - connectStarted);
            connectStarted = 0;
        }
    });
    // The line's share of each connect: from every frame to the first receive event after it.
    double lineTotal = 0, firstFrame = 0, identifiedAt = 0;
    int framesSeen = 0;
    const QMetaObject::Connection onIdentified =
        QObject::connect(&rig.s(), &Session::identified, [&] { identifiedAt = monoMs(); });
    rig.port->onWrite = [&](const QByteArray &) {
        if (framesSeen++ == 0)
            firstFrame = monoMs();
        if (framesSeen == 2)
            times.identToRead.append(monoMs() - identifiedAt);
    };
    rig.port->onFirstReceive = [&] { lineTotal += rig.port->lastReceiveMs - rig.port->lastWriteMs; };
    for (int i = 0; i < count; ++i) {
        lineTotal = 0;
        framesSeen = 0;
        const double started = monoMs();
        connectStarted = started;
        if (!rig.connectNow())
            out() << "  connect failed" << Qt::endl;
        if (framesSeen == 9 && times.whole.size() == i + 1) {
            times.opening.append(firstFrame - started);
            // As if the line had delivered each reply's first byte at wire speed after its frame.
            times.net.append(times.whole.last() - lineTotal + 9 * 8 * kByteMs);
        }
        rig.w().connection().btnConnect->click(); // disconnect
        waitMs(100);
    }
    rig.port->onWrite = {};
    rig.port->onFirstReceive = {};
    QObject::disconnect(onIdentified);
    QObject::disconnect(onState);
    return times;
}

// Two map files whose values differ in every line and stay within the sliders' ranges.
bool writeMaps(const QString &a, const QString &b)
{
    QString why;
    // Both within the sliders' ranges and in order: oe-cli refuses to send a value beyond a slider.
    return oe::writeMapFile(a, {4, 20, 1500, 3000, 9000, 200, 100, 100}, &why)
           && oe::writeMapFile(b, {6, 24, 1800, 3500, 9500, 240, 80, 120}, &why);
}

} // namespace

void lineSection(BenchContext &ctx)
{
    Rig *rig = ctx.idleRig();
    if (!rig)
        return;
    const LineTimes line = lineOnly(rig->path(QStringLiteral("ports/COM3")), ctx.samples());
    Row &first = ctx.rows.add(QStringLiteral("line alone: status out, first reply byte in"), QStringLiteral("ms"),
                              line.firstByte, 8 * kByteMs);
    first.note = QStringLiteral("the paced simulator and the pty, no program code: its excess over the floor is "
                                "outside the program");
    first.setGoal(QStringLiteral("<= floor + 0.2 ms"), first.median <= 8 * kByteMs + 0.2);
    Row &second = ctx.rows.add(QStringLiteral("line alone: status out, second reply byte in"), QStringLiteral("ms"),
                               line.secondByte, 9 * kByteMs);
    second.note = QStringLiteral("for comparison: the program's receive event comes on the first byte, so the first "
                                 "row plus the 50 ms pause is the soonest it can decode a reply on this line");
}

void connectSection(BenchContext &ctx)
{
    Rig *rig = ctx.idleRig();
    if (!rig)
        return;
    const ConnectTimes t = connectTimes(*rig, ctx.quick ? 5 : 15);
    ctx.rows.add(QStringLiteral("connect (version + 8 reads)"), QStringLiteral("ms"), t.whole, kConnectFloorMs)
        .setGoal(QStringLiteral("<= 9 x floor + 20 ms = %1").arg(num(kConnectFloorMs + 20)),
                 median(t.whole) <= kConnectFloorMs + 20);
    ctx.rows.add(QStringLiteral("connect, on a line at wire speed"), QStringLiteral("ms"), t.net, kConnectFloorMs).note =
        QStringLiteral("no goal (the row above is judged); each frame's time to its first receive event replaced "
                       "by the wire's 8 bytes (8.3 ms): the program's own share plus what any program on this "
                       "line must wait");
    ctx.rows.add(QStringLiteral("connect: click to first frame (opening the port)"), QStringLiteral("ms"), t.opening);
    ctx.rows.add(QStringLiteral("connect: identification to first read frame"), QStringLiteral("ms"), t.identToRead)
        .note = QStringLiteral("what the window does on identification before the reads go on; config.ini is written "
                               "after the reads, since its flush to disk took ~7 ms here");
}

void exchangesSection(BenchContext &ctx)
{
    Rig *rig = ctx.connectedRig();
    if (!rig)
        return;
    rig->s().holdPoll(true);
    waitUntil([&] { return rig->quiet(); }, 3000);
    exchangeRows(ctx, *rig, Kind::Read, "read", kShortFloorMs);
    exchangeRows(ctx, *rig, Kind::Write, "write", kWriteFloorMs);
    exchangeRows(ctx, *rig, Kind::Status, "status", kShortFloorMs);
    exchangeRows(ctx, *rig, Kind::Version, "version", kShortFloorMs);
    exchangeRows(ctx, *rig, Kind::Reset, "reset", kShortFloorMs);
    rig->s().holdPoll(false);
}

void mapLoadSection(BenchContext &ctx)
{
    Rig *rig = ctx.connectedRig();
    if (!rig)
        return;
    const QString mapA = rig->path(QStringLiteral("Maps/a.map")), mapB = rig->path(QStringLiteral("Maps/b.map"));
    writeMaps(mapA, mapB);
    QList<double> loads;
    double loadStarted = 0;
    const QMetaObject::Connection onLoaded = QObject::connect(
        &rig->s(), &Session::mapLoaded, [&](const oe::MapLoadResult &) { loads.append(monoMs() - loadStarted); });
    for (int i = 0; i < (ctx.quick ? 4 : 12); ++i) {
        waitUntil([&] { return rig->quiet(); }, 3000);
        rig->dialogs.openAnswers = {i % 2 ? mapB : mapA};
        loadStarted = monoMs();
        rig->w().maps().cmdLoadMap->click();
        waitUntil([&] { return loads.size() > i; }, 10000);
        waitMs(50);
    }
    QObject::disconnect(onLoaded);
    ctx.rows.add(QStringLiteral("map load (8 writes + 8 reads)"), QStringLiteral("ms"), loads, kMapFloorMs).note =
        QStringLiteral("no goal; includes the eight 10 ms write lead-ins (%1 ms floor with them)").arg(num(kMapFloorMs + 80));
}

// For the oe-cli section: the two maps in the rig's folder.
QStringList benchMaps(Rig &rig)
{
    const QString mapA = rig.path(QStringLiteral("Maps/a.map")), mapB = rig.path(QStringLiteral("Maps/b.map"));
    writeMaps(mapA, mapB);
    return {mapA, mapB};
}

} // namespace bench
