// oe-soak: the window on the real QSerialPort against oe-sim in another process (paced at 9600 baud)
// for a long time, with the simulator's faults cycling and a scripted user moving sliders and loading
// maps. Reports every minute; checks that what the window shows and a map saved from it hold what the
// controller holds, or "---" where the window says it does not know; exits non-zero on a mismatch,
// growing memory, a dead simulator or a session that cannot come back.

#include "benchrig.h"
#include "mapfile.h"
#include "numbertexts.h"
#include "plausibility.h"
#include "valuerule.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QRandomGenerator>
#include <QSlider>
#include <QTextStream>

using namespace bench;
using oe::ParameterIndex;
using oe::Session;

namespace {

constexpr int kComPort = 3;
// Short runs cycle faster, so that a smoke run of a minute still meets a hang-up.
constexpr int kPhaseMs = 20000;
constexpr int kShortRunPhaseMs = 5000;
constexpr int kShortRunMinutes = 5;
constexpr int kCheckEveryMs = 15000;
// Memory may settle for a while after start-up; past the baseline it must stay flat.
constexpr double kGrowthLimitMiB = 2.0;

// Each phase sets the simulator's faults anew; "hangup" pulls the cable instead (the simulator's line
// comes back a second later and the scripted user connects again).
const QStringList kPhases = {
    "none", "delay=150", "garbage-before=3", "none", "short=2", "split=30", "hangup", "none", "late",
    "garbage-after=4", "none", "wrong-header", "drop=2", "none", "unknown-code", "split=80", "hangup",
    "delay=250", "none",
};

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QString stamp() { return QTime::currentTime().toString(QStringLiteral("HH:mm:ss")); }

class Soak : public QObject
{
public:
    // line: faults added to every phase (e.g. "noise=100,flip=5"), for a line on a running engine.
    Soak(Rig &rig, int minutes, quint32 seed, const QString &line)
        : m_rig(rig), m_minutes(minutes), m_phaseMs(minutes < kShortRunMinutes ? kShortRunPhaseMs : kPhaseMs),
          m_random(seed), m_line(line.isEmpty() ? QString() : QStringLiteral(",") + line)
    {
        Session &s = rig.s();
        connect(s.engine(), &oe::RequestEngine::requestStarted, this, [this] { ++m_requests; });
        rig.port->onWrite = [this](const QByteArray &) { ++m_frames; };
        connect(&s, &Session::stateChanged, this, [this](Session::State state) {
            if (state == Session::State::Connected && m_wasIdle) {
                ++m_connects;
                m_wasIdle = false;
            }
            if (state == Session::State::Idle) {
                m_wasIdle = true;
                QTimer::singleShot(1500, this, &Soak::reconnect);
            }
        });
        // A reading no engine or pump can give must never reach the window.
        connect(&s, &Session::liveReadingsChanged, this, [this] {
            const Session &s = m_rig.s();
            const qint32 readings[] = {s.LiveRpm, s.LiveTinj, s.LivePump, s.LivePause};
            for (size_t i = 0; i < 4; ++i) {
                if (!oe::statusRanges()[i].holds(readings[i])) {
                    ++m_impossible;
                    out() << stamp() << " soak: IMPOSSIBLE " << oe::statusRanges()[i].what << " " << readings[i]
                          << " shown" << Qt::endl;
                }
            }
        });
        connect(&s, &Session::writeFinished, this, [this](ParameterIndex, bool confirmed) {
            if (!confirmed)
                ++m_unconfirmed;
        });
        connect(&s, &Session::mapLoaded, this, [this](const oe::MapLoadResult &) { ++m_mapsDone; });
        connect(&s, &Session::notice, this, [this](Session::Notice notice) {
            if (notice == Session::Notice::ConnectFailed || notice == Session::Notice::WriteNotConfirmed
                || notice == Session::Notice::PortLost || notice == Session::Notice::ResetNotConfirmed)
                ++m_failures;
        });
    }

    int run()
    {
        m_clock.start();
        m_cpuMark = cpuSeconds();
        m_simCpuMark = m_rig.sim->cpuSecondsUsed();
        out() << stamp() << " soak: " << m_minutes << " min, phases of " << m_phaseMs / 1000 << " s: "
              << kPhases.join(QStringLiteral(" ")) << (m_line.isEmpty() ? QString() : ", each with " + m_line.mid(1))
              << Qt::endl;
        m_rig.sim->command(QStringLiteral("fault none") + m_line);
        m_rig.connectNow();

        QTimer phase, action, check, minute;
        connect(&phase, &QTimer::timeout, this, &Soak::nextPhase);
        connect(&action, &QTimer::timeout, this, [this, &action] {
            act();
            action.start(700 + int(m_random.bounded(1800)));
        });
        connect(&check, &QTimer::timeout, this, [this] { checkIfQuiet(QStringLiteral("periodic")); });
        connect(&minute, &QTimer::timeout, this, [this] { report(); });
        phase.start(m_phaseMs);
        action.start(1000);
        check.start(std::min(kCheckEveryMs, m_phaseMs));
        minute.start(60000);
        // The first figure is a baseline; memory must stay flat after it.
        QTimer::singleShot(std::min(60000, m_minutes * 60000 / 2), this, [this] { m_rssBaseline = residentMiB(); });
        waitMs(m_minutes * 60000);
        phase.stop();
        action.stop();
        check.stop();
        minute.stop();
        return finish();
    }

private:
    void nextPhase()
    {
        m_phase = (m_phase + 1) % int(kPhases.size());
        const QString spec = kPhases[m_phase];
        if (spec == u"hangup") {
            m_rig.sim->command(QStringLiteral("fault none") + m_line);
            m_rig.sim->command(QStringLiteral("hangup"));
            ++m_hangups;
        } else {
            m_rig.sim->command(QStringLiteral("fault none,") + spec + m_line);
        }
    }

    void reconnect()
    {
        if (m_stopping || m_busyChecking || m_rig.s().state() != Session::State::Idle)
            return;
        m_rig.w().connection().btnConnect->click();
    }

    // What the scripted user does next: mostly a slider, now and then a map.
    void act()
    {
        if (m_busyChecking || m_stopping || m_rig.s().state() != Session::State::Connected)
            return;
        if (m_random.bounded(6) == 0)
            loadRandomMap();
        else
            moveSlider(ParameterIndex(m_random.bounded(oe::kParameterCount)));
    }

    void moveSlider(ParameterIndex index)
    {
        QSlider *slider = m_rig.w().sliders().sliderFor(index);
        if (!slider->isEnabled())
            return;
        ++m_commits;
        const QPointF at(slider->width() / 2.0, slider->height() / 2.0);
        if (m_random.bounded(4) == 0) {
            // Now and then the keys: a passing mouse first, which must change nothing, then a key held
            // with auto-repeat and released.
            QMouseEvent hover(QEvent::MouseMove, at, slider->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                              Qt::NoModifier);
            QApplication::sendEvent(slider, &hover);
            const int key = m_random.bounded(2) ? Qt::Key_PageUp : Qt::Key_Left;
            const int repeats = int(m_random.bounded(4));
            for (int i = 0; i <= repeats; ++i) {
                QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(), i > 0);
                QApplication::sendEvent(slider, &press);
            }
            QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
            QApplication::sendEvent(slider, &release);
            return;
        }
        slider->setValue(slider->minimum() + int(m_random.bounded(slider->maximum() - slider->minimum() + 1)));
        // A move with the button held previews, the release commits: what a drag ends with.
        QMouseEvent move(QEvent::MouseMove, at, slider->mapToGlobal(at), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(slider, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, at, slider->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(slider, &release);
    }

    oe::MapValues randomMap()
    {
        oe::MapValues values{};
        for (int i = 0; i < oe::kParameterCount; ++i) {
            const auto index = ParameterIndex(i);
            QSlider *slider = m_rig.w().sliders().sliderFor(index);
            const int position = slider->minimum() + int(m_random.bounded(slider->maximum() - slider->minimum() + 1));
            values[size_t(i)] = oe::fieldFromPosition(index, position);
        }
        // The pairs in the order the sliders keep them.
        const auto order = [&](ParameterIndex low, ParameterIndex high) {
            if (values[size_t(low)] > values[size_t(high)])
                std::swap(values[size_t(low)], values[size_t(high)]);
        };
        order(ParameterIndex::MinPumpCycles, ParameterIndex::MaxPumpCycles);
        order(ParameterIndex::TinjMin, ParameterIndex::TinjMax);
        order(ParameterIndex::MaxLoadPumpPause, ParameterIndex::MinLoadPumpPause);
        return values;
    }

    void loadRandomMap()
    {
        const QString path = m_rig.path(QStringLiteral("Maps/soak.map"));
        QString why;
        if (!oe::writeMapFile(path, randomMap(), &why))
            return;
        m_rig.dialogs.openAnswers = {path};
        m_rig.dialogs.questionAnswers = {true};
        m_rig.w().maps().cmdLoadMap->click();
        ++m_maps;
    }

    // Compares what the window shows with the controller: a known value on its label, "---" and a
    // disabled slider for an unknown one, and a map saved now holds the controller's eight values, or
    // is refused while any is unknown. Returns false on a mismatch (reported); true when everything
    // matched or the moment was not quiet.
    bool checkIfQuiet(const QString &why, bool requireAll = false)
    {
        Session &s = m_rig.s();
        if (m_busyChecking || s.state() != Session::State::Connected || !m_rig.quiet())
            return true;
        m_busyChecking = true;
        const oe::ParameterSet confirmed = s.controllerValues();
        const auto known = knownFlags();
        const auto checking = verifyingFlags();
        const std::optional<std::array<int, 8>> sim = m_rig.sim->params();
        m_busyChecking = false;
        if (!sim) {
            out() << stamp() << " soak: no answer from the simulator to \"params\"" << Qt::endl;
            m_failed = true;
            return false;
        }
        // Something may have happened while the simulator answered; the check then proves nothing.
        if (s.controllerValues() != confirmed || knownFlags() != known || verifyingFlags() != checking
            || s.state() != Session::State::Connected || !m_rig.quiet())
            return true;
        QStringList wrong;
        int compared = 0;
        for (int i = 0; i < oe::kParameterCount; ++i) {
            const auto index = ParameterIndex(i);
            const QString shown = m_rig.w().sliders().labelFor(index)->text();
            if (!known[size_t(i)]) {
                ++m_unknownSeen;
                if (requireAll)
                    wrong << QStringLiteral("%1 unknown").arg(oe::mapFileKey(i));
                if (shown != u"---" || m_rig.w().sliders().sliderFor(index)->isEnabled())
                    wrong << QStringLiteral("%1: unknown, label \"%2\"").arg(oe::mapFileKey(i), shown);
                continue;
            }
            // Over a line that flips bits a value is the controller's once its verification is through;
            // one still wrong after it is a mismatch.
            if (checking[size_t(i)])
                continue;
            const qint32 value = (*sim)[size_t(i)];
            ++compared;
            if (confirmed[index] != value)
                wrong << QStringLiteral("%1: window %2, controller %3").arg(oe::mapFileKey(i)).arg(confirmed[index]).arg(value);
            if (shown != oe::displayText(index, value))
                wrong << QStringLiteral("%1: label \"%2\", controller %3").arg(oe::mapFileKey(i), shown).arg(value);
        }
        if (!s.verifying())
            wrong << checkSavedMap(*sim);
        ++m_checks;
        m_compared += compared;
        if (wrong.isEmpty())
            return true;
        ++m_mismatches;
        out() << stamp() << " soak: MISMATCH (" << why << "): " << wrong.join(QStringLiteral("; ")) << Qt::endl;
        return false;
    }

    std::array<bool, oe::kParameterCount> verifyingFlags() const
    {
        std::array<bool, oe::kParameterCount> checking{};
        for (int i = 0; i < oe::kParameterCount; ++i)
            checking[size_t(i)] = m_rig.s().verifying(ParameterIndex(i));
        return checking;
    }

    std::array<bool, oe::kParameterCount> knownFlags() const
    {
        std::array<bool, oe::kParameterCount> known{};
        for (int i = 0; i < oe::kParameterCount; ++i)
            known[size_t(i)] = m_rig.s().parameterKnown(ParameterIndex(i));
        return known;
    }

    // Saves a map the way the user does and compares it with the controller's values.
    QStringList checkSavedMap(const std::array<int, 8> &sim)
    {
        const QString path = m_rig.path(QStringLiteral("Maps/saved.map"));
        QFile::remove(path);
        m_rig.dialogs.saveAnswers = {path};
        m_rig.w().maps().cmdSaveMap->click();
        // Save waits for the values being verified, its button disabled meanwhile.
        waitUntil([this] { return m_rig.w().maps().cmdSaveMap->isEnabled() || m_rig.s().state() != Session::State::Connected; }, 10000);
        m_rig.dialogs.saveAnswers.clear();
        const oe::MapReadResult saved = oe::readMapFile(path);
        if (!saved.ok && !m_rig.s().allParametersKnown())
            return {}; // refused with the unknown values named
        ++m_mapsSaved;
        if (!saved.ok)
            return {QStringLiteral("map not saved")};
        QStringList wrong;
        for (int i = 0; i < oe::kParameterCount; ++i) {
            const qint32 value = sim[size_t(i)];
            if (saved.values[size_t(i)] != value)
                wrong << QStringLiteral("%1: map %2, controller %3").arg(oe::mapFileKey(i)).arg(saved.values[size_t(i)]).arg(value);
        }
        return wrong;
    }

    void report(bool last = false)
    {
        const double minutes = double(m_clock.elapsed()) / 60000.0;
        const double cpu = cpuSeconds(), simCpu = m_rig.sim->cpuSecondsUsed();
        const double wall = double(m_clock.elapsed() - m_wallMark) / 1000.0;
        out() << stamp() << (last ? QStringLiteral(" end") : QStringLiteral(" min %1").arg(qRound(minutes)))
              << QStringLiteral(": requests %2 (+%3), retries %4, failures %5, reconnects %6, "
                                           "commits %7, maps %8/%9, checks %10 (%11 values, %17 unknown, %18 maps saved, %12 mismatches), "
                                           "cpu %13 %, sim cpu %14 %, rss %15 MiB, phase %16")
                                .arg(m_requests).arg(m_requests - m_requestsMark)
                                .arg(m_frames - m_requests).arg(m_failures).arg(std::max(0, m_connects - 1))
                                .arg(m_commits).arg(m_mapsDone).arg(m_maps).arg(m_checks).arg(m_compared)
                                .arg(m_mismatches).arg((cpu - m_cpuMark) / wall * 100, 0, 'f', 2)
                                .arg((simCpu - m_simCpuMark) / wall * 100, 0, 'f', 2).arg(residentMiB(), 0, 'f', 2)
                                .arg(kPhases[m_phase]).arg(m_unknownSeen).arg(m_mapsSaved)
              << Qt::endl;
        m_requestsMark = m_requests;
        m_cpuMark = cpu;
        m_simCpuMark = simCpu;
        m_wallMark = m_clock.elapsed();
        // The scripted dialogs remember every box; let them go, so the soak itself does not grow.
        m_rig.dialogs.shown.clear();
        if (!m_rig.sim->running()) {
            out() << stamp() << " soak: the simulator is gone" << Qt::endl;
            m_failed = true;
        }
    }

    int finish()
    {
        m_stopping = true;
        m_rig.sim->command(QStringLiteral("fault none"));
        // Whatever the last phase left: a session that is up and idle, and every value read or written
        // without doubt, then the last comparison over all eight.
        waitUntil([this] { return m_rig.quiet(); }, 10000);
        if (m_rig.s().state() == Session::State::Idle) {
            waitMs(1500);
            m_rig.connectNow();
        }
        bool ok = m_rig.s().state() == Session::State::Connected;
        if (!ok)
            out() << stamp() << " soak: FAILED to connect at the end" << Qt::endl;
        if (ok && !m_rig.s().allParametersKnown()) {
            waitUntil([this] { return m_rig.quiet(); }, 10000);
            loadRandomMap();
            waitUntil([this] { return m_rig.s().state() == Session::State::Connected && m_rig.quiet(); }, 10000);
        }
        if (ok) {
            waitMs(200);
            waitUntil([this] { return m_rig.quiet() && !m_rig.s().verifying(); }, 30000);
            ok = checkIfQuiet(QStringLiteral("final"), true) && m_checks > 0;
        }
        report(true);
        const double rss = residentMiB();
        const double growth = rss - m_rssBaseline;
        const bool flat = m_rssBaseline > 0 && growth <= kGrowthLimitMiB;
        out() << stamp() << QStringLiteral(" soak end: %1 requests, %2 frames, %3 reconnects after %4 hang-ups, "
                                           "%5 commits (%6 unconfirmed), %7 maps, %8 checks, %9 mismatches; rss %10 "
                                           "MiB, %11%12 MiB since the baseline: %13")
                                .arg(m_requests).arg(m_frames).arg(std::max(0, m_connects - 1)).arg(m_hangups)
                                .arg(m_commits).arg(m_unconfirmed).arg(m_maps).arg(m_checks).arg(m_mismatches)
                                .arg(rss, 0, 'f', 2).arg(growth >= 0 ? "+" : "").arg(growth, 0, 'f', 2)
                                .arg(ok && flat && !m_failed && m_mismatches == 0 && m_impossible == 0
                                         ? QStringLiteral("PASS")
                                         : QStringLiteral("FAIL"))
              << Qt::endl;
        if (!flat)
            out() << stamp() << " soak: memory grew by more than " << kGrowthLimitMiB << " MiB" << Qt::endl;
        if (m_impossible > 0)
            out() << stamp() << " soak: " << m_impossible << " impossible readings shown" << Qt::endl;
        return ok && flat && !m_failed && m_mismatches == 0 && m_impossible == 0 ? 0 : 1;
    }

    Rig &m_rig;
    int m_minutes;
    int m_phaseMs;
    QRandomGenerator m_random;
    QElapsedTimer m_clock;
    int m_phase = 0;
    bool m_busyChecking = false;
    bool m_stopping = false;
    bool m_wasIdle = true;
    bool m_failed = false;
    int m_requests = 0, m_requestsMark = 0, m_frames = 0, m_connects = 0, m_hangups = 0;
    int m_commits = 0, m_unconfirmed = 0, m_maps = 0, m_mapsDone = 0, m_failures = 0;
    int m_checks = 0, m_compared = 0, m_mismatches = 0, m_unknownSeen = 0, m_mapsSaved = 0, m_impossible = 0;
    QString m_line;
    double m_cpuMark = 0, m_simCpuMark = 0, m_rssBaseline = -1;
    qint64 m_wallMark = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Long run of OE Setup against a faulty simulated controller."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("minutes"), QStringLiteral("How long (default 1)."));
    const QCommandLineOption simOption(QStringLiteral("sim"), QStringLiteral("The oe-sim program."),
                                       QStringLiteral("PATH"), QStringLiteral(OE_SIM_PROGRAM));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QStringLiteral("Seed of the scripted user."),
                                        QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption lineOption(QStringLiteral("line"),
                                        QStringLiteral("Simulator faults added to every phase, e.g. flip=5 or "
                                                       "noise=100,flip=5: a line on a running engine."),
                                        QStringLiteral("SPEC"));
    parser.addOptions({simOption, seedOption, lineOption});
    parser.process(app);
    const int minutes = parser.positionalArguments().value(0, QStringLiteral("1")).toInt();
    if (minutes < 1) {
        out() << "oe-soak: minutes must be a whole number from 1" << Qt::endl;
        return 2;
    }
    Rig rig(parser.value(simOption), QStringLiteral(OE_LANGUAGE_INI), kComPort,
            {QStringLiteral("--pace"), QStringLiteral("9600")});
    if (!rig.ready()) {
        out() << "oe-soak: " << rig.error << Qt::endl;
        return 2;
    }
    Soak soak(rig, minutes, parser.value(seedOption).toUInt(), parser.value(lineOption));
    return soak.run();
}
