#include "trial.h"

#include "valuerule.h"

namespace oe {

namespace {

constexpr size_t kEventsKept = 60;
// What a commit's interlock keeps in order, as (low, high).
constexpr std::array<std::pair<ParameterIndex, ParameterIndex>, 3> kPairs = {{
    {ParameterIndex::MinPumpCycles, ParameterIndex::MaxPumpCycles},
    {ParameterIndex::TinjMin, ParameterIndex::TinjMax},
    {ParameterIndex::MaxLoadPumpPause, ParameterIndex::MinLoadPumpPause},
}};

std::optional<std::pair<ParameterIndex, ParameterIndex>> pairOf(ParameterIndex index)
{
    for (const auto &pair : kPairs) {
        if (pair.first == index || pair.second == index)
            return pair;
    }
    return std::nullopt;
}

std::shared_ptr<RandomSource> streamSource(const TrialOptions &options, quint64 stream)
{
    if (options.source)
        return options.source;
    return std::make_shared<SeededSource>(options.seed, stream);
}

constexpr const char *kCheckNames[] = {"pairs-every-write", "known-afresh", "progress-unknown",
                                       "boxes-from-handlers", "cli-runners", "cli-held-value",
                                       "cli-book-writing"};
static_assert(std::size(kCheckNames) == size_t(Check::Count));

} // namespace

TrialChecks TrialChecks::defaults()
{
    TrialChecks checks;
    checks.on.fill(true);
    // Broken by the session as it is: map loads write in index order, a silence keeps the book, a
    // read left unanswered in a sequence is not read again by itself, the wire's signals reach their
    // handlers inside its events, and oe-cli's writes leave the book as it was.
    for (Check off : {Check::PairsEveryWrite, Check::KnownAfresh, Check::ProgressUnknown, Check::BoxesFromHandlers,
                      Check::CliBookWriting})
        checks.on[size_t(off)] = false;
    return checks;
}

QString checkName(Check check)
{
    return QString::fromLatin1(kCheckNames[size_t(check)]);
}

std::optional<Check> checkFromName(const QString &name)
{
    for (size_t i = 0; i < std::size(kCheckNames); ++i) {
        if (name == QLatin1String(kCheckNames[i]))
            return Check(i);
    }
    return std::nullopt;
}

QString faultName(Fault fault)
{
    static const char *const names[] = {"late reply",   "slow reply",    "split reply",   "bit flip",
                                        "duplicate",    "noise burst",   "header noise",  "refused write",
                                        "clamped write", "silent spell", "hang-up",       "reset changing all",
                                        "swap"};
    return QString::fromLatin1(names[size_t(fault)]);
}

void TrialFigures::add(const TrialFigures &o)
{
    sessions += o.sessions;
    virtualMs += o.virtualMs;
    requests += o.requests;
    frames += o.frames;
    tries += o.tries;
    answeredTries += o.answeredTries;
    connects += o.connects;
    commits += o.commits;
    mapLoads += o.mapLoads;
    resets += o.resets;
    rereads += o.rereads;
    saves += o.saves;
    boxes += o.boxes;
    cliRuns += o.cliRuns;
    cliDone += o.cliDone;
    cliMs += o.cliMs;
    lineMadeAnswers += o.lineMadeAnswers;
    for (size_t i = 0; i < faults.size(); ++i)
        faults[i] += o.faults[i];
}

Trial::Trial(const TrialOptions &options)
    : m_options(options),
      m_technician(streamSource(options, 1)),
      m_line(streamSource(options, 2)),
      m_gestures(streamSource(options, 4)),
      m_cli(streamSource(options, 5)),
      m_port(new SimulatedPort(&m_clock)),
      m_progress(options.checks[Check::ProgressUnknown])
{
    m_windowSession = std::make_unique<Session>(m_port, nullptr, &m_clock);
    m_session = m_windowSession.get();
    m_controller = std::make_unique<ControllerModel>(
        m_port, &m_clock, RandomStream(streamSource(options, 3)), &m_figures,
        [this](const char *what, qint64 a, qint64 b) { log(what, a, b); });
    if (options.checks[Check::KnownAfresh])
        m_controller->allowSwaps(RandomStream(streamSource(options, 6)), [this] { m_swapUnnoticed = true; });
    m_controller->setStoredObserver([this](int index, const ControllerModel::Values &before) { onStored(index, before); });
    attachPort(m_port);
    m_controller->setWriteObserver([this](int index, quint16 value) {
        if (m_intents.count({index, value}))
            return;
        // oe-cli set holds a value to its partner as the book has it (a partner's write refused first).
        const auto partner = pairPartner(ParameterIndex(index));
        if (m_inCli && !m_options.checks[Check::CliHeldValue] && partner
            && m_session->book().value(*partner) == qint32(value)) {
            log("oe-cli writes %1, held to parameter %2", value, qint64(*partner));
            return;
        }
        fail(QStringLiteral("intent"),
             QStringLiteral("%1 written to parameter %2, which the technician never asked for").arg(value).arg(index));
    });

    watchSession(m_session, true);
    m_technicianTimer = m_clock.createTimer(&m_timers);
    QObject::connect(m_technicianTimer, &ClockTimer::timeout, &m_timers, [this] { technicianActs(); });
    // Now and then the technician disconnects right after a change, while its write may be on its way.
    m_pullTimer = m_clock.createTimer(&m_timers);
    QObject::connect(m_pullTimer, &ClockTimer::timeout, &m_timers, [this] {
        if (m_boxOpen || m_inCli)
            return;
        log("technician disconnects right after a change");
        m_session->disconnectNow();
    });
    m_releaseTimer = m_clock.createTimer(&m_timers);
    QObject::connect(m_releaseTimer, &ClockTimer::timeout, &m_timers, [this] { release(); });
    m_noiseTimer = m_clock.createTimer(&m_timers);
    QObject::connect(m_noiseTimer, &ClockTimer::timeout, &m_timers, [this] {
        const int kind = int(m_line.below(10));
        QByteArray burst;
        if (kind == 0) {
            ++m_figures.fault(Fault::HeaderNoise);
            static const char codes[] = {1, 2, 3, 4, 10, 7};
            burst = QByteArray::fromHex("4355") + QByteArray(1, codes[m_line.below(6)]);
        } else {
            ++m_figures.fault(Fault::Noise);
        }
        const qint64 size = m_line.between(1, 20);
        for (qint64 i = 0; i < size; ++i)
            burst += char(m_line.below(256));
        m_port->deliver(burst, m_clock.nowMs(), 0);
        scheduleNoise();
    });
}

void Trial::attachPort(SimulatedPort *port)
{
    m_port = port;
    m_opensSeen = -1;
    m_controller->setPort(port);
    port->setWriteHandler([this](const QByteArray &frame) { onWrite(frame); });
    QObject::connect(port, &SimulatedPort::arrived, &m_timers,
                     [this](const QByteArray &bytes, qint64 origin) { onArrival(bytes, origin); });
}

void Trial::watchSession(Session *session, bool window)
{
    RequestEngine *engine = session->engine();
    // oe-cli answers its own notices; the line over the logo is no box.
    if (window) {
        QObject::connect(session, &Session::notice, &m_timers, [this](Session::Notice notice) {
            if (notice != Session::Notice::AnotherController)
                onMessage(int(notice), 0);
        });
    }
    QObject::connect(session, &Session::stateChanged, &m_timers, [this](Session::State state) {
        log("session state %1", qint64(state));
    });
    QObject::connect(session, &Session::writeFinished, &m_timers, [this](ParameterIndex index, bool confirmed) {
        log("commit of parameter %1 ended, confirmed %2", qint64(index), confirmed);
        const auto pair = pairOf(index);
        // An echo the line made confirms a write the controller may have refused: the pair is the
        // controller's as before, and the read that checks the echo tells the session so.
        if (!confirmed || !pair || !m_checkPair[size_t(index)] || m_echoLineMade[size_t(index)])
            return;
        const auto &values = m_controller->values();
        const quint16 low = values[size_t(pair->first)];
        const quint16 high = values[size_t(pair->second)];
        if (low > high)
            fail(QStringLiteral("pairs"), QStringLiteral("the commit of parameter %1 left the controller with %2 above %3 "
                                                         "(parameters %4 and %5)")
                                              .arg(int(index)).arg(low).arg(high).arg(int(pair->first)).arg(int(pair->second)));
    });
    QObject::connect(session, &Session::mapLoaded, &m_timers, [this](const MapLoadResult &) {
        log("map load ended");
        openBox("the map load's notice");
    });
    QObject::connect(session, &Session::readAgainFinished, &m_timers, [this](const RereadResult &) {
        openBox("the read-again's notice");
    });
    QObject::connect(session, &Session::liveReadingsChanged, &m_timers, [this] {
        const Session &s = *m_session;
        const QString broken = m_wire.liveReadings(s.LiveRpm, s.LiveTinj, s.LivePump, s.LivePause);
        if (!broken.isEmpty())
            return fail(QStringLiteral("live readings"), broken);
        // A recording whose disk filled up says so in a box.
        if (m_gestures.chance(20))
            openBox("a recording's full disk");
    });
    QObject::connect(session, &Session::controllerAnsweringChanged, &m_timers, [this](bool answering) {
        log("controller answering %1", answering);
        if (!answering) {
            m_identifyDue = true;
            m_swapUnnoticed = false;
        }
    });
    QObject::connect(engine, &RequestEngine::requestStarted, &m_timers, [this](const Request &request) {
        m_requestStartedAt = m_clock.nowMs();
        ++m_figures.requests;
        const QString broken = m_wire.requestStarted(request.kind == Request::Kind::Status);
        if (!broken.isEmpty())
            fail(QStringLiteral("exact tries"), broken);
    });
    QObject::connect(engine, &RequestEngine::tryEnded, &m_timers, [this](TryEnd end, const Request &request,
                                                                         const DecodedReply &reply) {
        m_wire.tryEnded(end, m_clock.nowMs());
        if (end == TryEnd::Answered && request.kind == Request::Kind::Version)
            m_identifyDue = false;
        ++m_triesEnded;
        ++m_figures.tries;
        if (end == TryEnd::Answered) {
            ++m_figures.answeredTries;
            countLineMade(request, reply);
        }
        log("try ended: %1 (0 answered, 1 time-out, 2 noise, 3 bad frame)", qint64(end));
    });
}

Trial::~Trial() = default;

void Trial::log(const char *what, qint64 a, qint64 b, const QByteArray &bytes)
{
    m_events.push_back(Event{m_clock.nowMs(), what, a, b, bytes});
    if (m_events.size() > kEventsKept)
        m_events.pop_front();
}

void Trial::fail(const QString &invariant, const QString &detail)
{
    if (m_failed)
        return;
    m_failed = true;
    m_outcome.ok = false;
    m_outcome.invariant = invariant;
    m_outcome.detail = detail;
    m_outcome.atMs = m_clock.nowMs();
    for (const Event &event : m_events) {
        QString text = QString::fromLatin1(event.what);
        if (text.contains(QLatin1String("%2")))
            text = text.arg(event.a).arg(event.b);
        else if (text.contains(QLatin1String("%1")))
            text = text.arg(event.a);
        if (!event.bytes.isEmpty())
            text += QLatin1Char(' ') + QString::fromLatin1(event.bytes.toHex(' '));
        m_outcome.lastEvents << QStringLiteral("%1 ms  %2").arg(event.atMs, 8).arg(text);
    }
}

TrialOutcome Trial::run()
{
    // The line's noise for this session: none, now and then, or a steady hail (about 500 bytes a second).
    const qint64 level = m_line.below(10);
    m_noisePerMille = level < 5 ? 0 : level < 8 ? 1 : 2;
    scheduleNoise();
    m_technicianTimer->start(std::chrono::milliseconds(m_technician.between(0, 500)));
    m_clock.runUntil(m_options.virtualMs, m_failed, [this] { check(); });
    m_figures.virtualMs = m_clock.nowMs();
    if (m_options.checks[Check::CliRunners] && !m_failed) {
        runCli();
        m_figures.cliMs = m_clock.nowMs() - m_figures.virtualMs;
    }
    m_figures.sessions = 1;
    m_outcome.figures = m_figures;
    return m_outcome;
}

void Trial::scheduleNoise()
{
    if (m_noisePerMille == 0)
        return;
    const qint64 gap = m_noisePerMille == 1 ? m_line.between(300, 5000) : m_line.between(2, 40);
    m_noiseTimer->start(std::chrono::milliseconds(gap));
}

void Trial::scheduleTechnician()
{
    m_technicianTimer->start(std::chrono::milliseconds(m_technician.between(20, 3000)));
}

void Trial::technicianActs()
{
    scheduleTechnician();
    if (m_boxOpen)
        return; // a modal box takes every click
    if (m_held)
        return; // busy with the slider
    Session &session = *m_session;
    if (session.state() == Session::State::Idle) {
        if (m_technician.chance(850)) {
            log("technician connects");
            ++m_figures.connects;
            m_intents.clear();
            session.connectTo(3);
        }
        return;
    }
    const qint64 action = m_technician.below(100);
    if (action < 40) {
        // A drag ends on a slider position; a typed value is taken as it is.
        const auto index = ParameterIndex(m_technician.below(kParameterCount));
        const SliderPositions positions = sliderPositions(index);
        const int position = int(m_technician.between(positions.min, positions.max));
        const bool typed = index != ParameterIndex::RpmMultiplier && m_technician.chance(300);
        if (!typed && !m_held && m_gestures.chance(400))
            drag(index, fieldFromPosition(index, position));
        else
            commit(index, typed ? position : fieldFromPosition(index, position));
    } else if (action < 44) {
        log("technician disconnects");
        session.disconnectNow();
    } else if (action < 52) {
        const ParameterSet values = drawMap();
        for (int i = 0; i < kParameterCount; ++i) {
            const qint32 value = values[ParameterIndex(i)];
            if (value >= 0 && value <= 0xffff)
                m_intents.insert({i, quint16(value)});
        }
        log("technician loads a map");
        m_figures.mapLoads += session.loadMap(values);
    } else if (action < 56) {
        log("technician resets the controller");
        m_figures.resets += session.reset();
    } else if (action < 61) {
        log("technician reads the parameters again");
        m_figures.rereads += session.readAgain();
    } else if (action < 71) {
        save();
    }
}

void Trial::commit(ParameterIndex index, qint32 field)
{
    Session &session = *m_session;
    if (session.state() != Session::State::Connected)
        return; // the sliders are disabled
    log("technician commits %1 to parameter %2", field, qint64(index));
    session.previewParameter(index, field);
    const quint64 commitNumber = ++m_commitNumber;
    const quint64 wait = m_progress.waitBegins(m_clock.nowMs(), "a commit's decision");
    const bool asked = session.commitHeld(index, field, [this, index, commitNumber, wait](const HeldCommit &held) {
        m_progress.waitEnds(wait);
        if (held.kind != HeldCommit::Kind::Writing)
            return;
        // The value the session decided on, held to the partner, is what the technician asked for.
        if (held.value >= 0 && held.value <= 0xffff)
            m_intents.insert({int(index), quint16(held.value)});
        // A partner whose value the line made (one answer still being checked, or two made alike) may
        // not be what the controller holds: no pair can be promised against it.
        const auto partner = pairPartner(index);
        const ParameterBook &book = m_session->book();
        m_checkPair[size_t(index)] = partner && !m_lineMade.count({int(*partner), book.value(*partner).value_or(-1)});
        Q_UNUSED(commitNumber);
        ++m_figures.commits;
    });
    if (!asked) {
        m_progress.waitEnds(wait);
        log("commit refused");
    } else if (m_gestures.chance(30)) {
        m_pullTimer->start(std::chrono::milliseconds(m_gestures.between(0, 400)));
    }
}

void Trial::drag(ParameterIndex index, qint32 field)
{
    if (m_session->state() != Session::State::Connected)
        return;
    log("technician holds the slider of parameter %1 at %2", qint64(index), field);
    m_held = {index, field};
    m_session->previewParameter(index, field);
    // Held long enough for reads and polls to land under the finger.
    m_releaseTimer->start(std::chrono::milliseconds(m_gestures.between(100, 2500)));
}

void Trial::release()
{
    if (!m_held)
        return;
    const auto [index, field] = *std::exchange(m_held, std::nullopt);
    if (m_session->state() == Session::State::Connected)
        commit(index, field);
}

ParameterSet Trial::drawMap()
{
    ParameterSet values;
    const qint64 kind = m_technician.below(10);
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const SliderPositions positions = sliderPositions(index);
        values[index] = kind < 8 ? fieldFromPosition(index, int(m_technician.between(positions.min, positions.max)))
                                 : qint32(m_technician.between(-2, 65537)); // an odd file
    }
    if (kind < 6) { // a valid map: every pair in order
        for (const auto &[low, high] : kPairs) {
            if (values[low] > values[high])
                std::swap(values[low], values[high]);
        }
    }
    return values; // kind 6 and 7: pairs as they fell, crossed or not
}

void Trial::save()
{
    ++m_figures.saves;
    log("technician saves a map");
    QString detail;
    if (!truthHolds(&detail))
        fail(QStringLiteral("truth (saved map)"), detail);
    // What the window's Save writes to the file: the values once every one is confirmed.
    const quint64 wait = m_progress.waitBegins(m_clock.nowMs(), "a Save");
    const bool asked = m_session->verifiedValues([this, wait](const VerifiedValues &values) {
        m_progress.waitEnds(wait);
        // A commit that went out since may have changed the controller already.
        if (!values.complete() || !m_session->allParametersKnown() || m_swapUnnoticed)
            return;
        const auto &held = m_controller->values();
        for (int i = 0; i < kParameterCount; ++i) {
            const qint32 saved = values.values[ParameterIndex(i)];
            if (saved != held[size_t(i)] && !lineMadeTwice(i, saved))
                return fail(QStringLiteral("truth (saved map)"),
                            QStringLiteral("parameter %1 saved as %2, the controller holds %3").arg(i).arg(saved).arg(held[size_t(i)]));
        }
    });
    if (!asked)
        m_progress.waitEnds(wait);
}

void Trial::onMessage(int textEntry, int titleEntry)
{
    log("box: entry %1, title %2", textEntry, titleEntry);
    if (m_port->inReceiveEvent())
        fail(QStringLiteral("no box in a receive event"),
             QStringLiteral("message %1 raised while the port handles a receive event").arg(textEntry));
    openBox("message %1", textEntry);
}

void Trial::openBox(const char *why, qint64 a)
{
    const bool fromMessage = qstrncmp(why, "message", 7) == 0;
    if (m_inCli || (!fromMessage && !m_options.checks[Check::BoxesFromHandlers]))
        return;
    ++m_figures.boxes;
    if (!fromMessage)
        log(why, a);
    // What the window shows comes from the event loop: a box opened inside the port's receive event
    // or inside one of the link's timers runs its loop under a request in flight.
    const ClockTimer *timer = m_clock.firing();
    if (m_port->inReceiveEvent() || (timer && timer != m_technicianTimer && timer != m_releaseTimer))
        fail(QStringLiteral("no box inside the wire's events"),
             QStringLiteral("%1 opened its box inside %2")
                 .arg(QString::fromLatin1(why).arg(a), m_port->inReceiveEvent() ? QStringLiteral("a receive event")
                                                                                 : QStringLiteral("a timer's event")));
    // Modal: the session waits, time goes on, the technician can only read it and click OK.
    const bool wasOpen = std::exchange(m_boxOpen, true);
    // A box still open when the session's minute is up ends with it.
    RandomStream &hand = fromMessage ? m_technician : m_gestures;
    const qint64 closedAt = qMin(m_clock.nowMs() + hand.between(50, 4000), m_options.virtualMs);
    m_clock.runUntil(closedAt, m_failed, [this] { check(); });
    m_boxOpen = wasOpen;
}

void Trial::onWrite(const QByteArray &frame)
{
    if (m_port->opens() != m_opensSeen) {
        m_opensSeen = m_port->opens();
        m_framesWritten = 0;
        m_triesEnded = 0;
    }
    log("frame out", 0, 0, frame);
    if (m_inCli && !m_options.checks[Check::CliBookWriting] && frame.size() > 3 && frame[2] == 2
        && quint8(frame[3]) < kParameterCount) {
        const auto index = ParameterIndex(quint8(frame[3]));
        if (m_session->book().state(index) == ParameterBook::State::Known)
            m_unmarkedWrite[size_t(index)] = m_session->book().value(index);
    }
    m_tryBytes.clear();
    m_tryOrigins.clear();
    if (m_framesWritten != m_triesEnded)
        fail(QStringLiteral("one on the wire"),
             QStringLiteral("a frame went out while the try of the one before was open"));
    ++m_framesWritten;
    ++m_figures.frames;
    QString invariant;
    const QString broken = m_wire.frameOut(m_clock.nowMs(), &invariant);
    if (!broken.isEmpty())
        fail(invariant, broken);
    if (frame.size() > 2 && frame[2] == 3)
        m_quietSince.reset();
    // Replies are told apart by a count over every opening of the port.
    m_controller->onFrame(frame, m_figures.frames);
}

void Trial::onArrival(const QByteArray &bytes, qint64 origin)
{
    log(origin ? "bytes in (reply %1)" : "noise in", origin, 0, bytes);
    m_wire.bytesIn(bytes);
    m_tryBytes += bytes;
    m_tryOrigins.insert(m_tryOrigins.size(), bytes.size(), origin);
    const ControllerModel::CleanReply &clean = m_controller->cleanReply();
    const qint64 frame = m_figures.frames;
    const bool theCleanReply = clean.frame == frame && clean.firstByteAt == m_clock.nowMs() && bytes.startsWith("CU")
                               && m_dirtyFrame != frame;
    if (!theCleanReply || m_cleanSeen == frame)
        m_dirtyFrame = frame;
    else
        m_cleanSeen = frame;
}

void Trial::countLineMade(const Request &request, const DecodedReply &reply)
{
    if (request.kind != Request::Kind::ReadParameter && request.kind != Request::Kind::WriteParameter)
        return;
    const int index = reply.index;
    const qint32 value = reply.value;
    // A bit the controller's reply had flipped on the line.
    bool made = m_controller->sentFlipped(index, value);
    // A frame with other bytes in it than one reply's: noise alone, or noise or the bytes of another
    // reply (a late one) that came in a gap of a split reply in place of some of its bytes. The bytes
    // on the line are that frame, and a line without a checksum cannot tell it from a reply. Not so
    // when a reply begins inside it (noise glued in front of a reply): that reply follows whole, and
    // the engine must prefer it.
    const char code = request.kind == Request::Kind::ReadParameter ? 1 : 2;
    const QByteArray frame = QByteArray("CU", 2) + char(code) + char(index) + char(value >> 8) + char(value & 0xff);
    for (qsizetype at = m_tryBytes.indexOf(frame); !made && at >= 0; at = m_tryBytes.indexOf(frame, at + 1)) {
        bool mixed = m_tryOrigins[at] == 0;
        bool replyInside = false;
        for (qsizetype p = at + 1; p < at + frame.size(); ++p) {
            mixed = mixed || m_tryOrigins[p] != m_tryOrigins[at];
            replyInside = replyInside
                          || (m_tryOrigins[p] != 0 && m_tryBytes[p] == 'C' && p + 1 < m_tryBytes.size()
                              && m_tryBytes[p + 1] == 'U' && m_tryOrigins[p + 1] == m_tryOrigins[p]);
        }
        // Or the whole reply of an earlier frame, come late: with no sequence number in a frame, a
        // late reply of an earlier read of the same parameter answers this one.
        const bool late = !mixed && m_controller->frameOfReply(m_tryOrigins[at]) < m_figures.frames;
        made = (mixed && !replyInside) || late;
    }
    if (request.kind == Request::Kind::WriteParameter && index < kParameterCount)
        m_echoLineMade[size_t(index)] = made;
    if (made) {
        ++m_figures.lineMadeAnswers;
        ++m_lineMade[{index, value}];
        log("the line made the answer %1 for parameter %2", value, index);
    }
}

bool Trial::lineMadeTwice(int index, qint32 value) const
{
    const auto it = m_lineMade.find({index, value});
    return it != m_lineMade.end() && it->second >= 2;
}

bool Trial::truthHolds(QString *detail) const
{
    if (m_swapUnnoticed)
        return true;
    const ParameterBook &book = m_session->book();
    const auto &held = m_controller->values();
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        // Verifying: one answer, which the line may have made; Writing: the value before the write.
        if (book.state(index) != ParameterBook::State::Known)
            continue;
        const qint32 known = book.value(index).value_or(-1);
        if (m_unmarkedWrite[size_t(i)] == known)
            continue; // oe-cli wrote it past the book, which still has the value from before
        // Two answers the line made alike pass any check without a checksum: that is the line's limit.
        if (known != held[size_t(i)] && !lineMadeTwice(i, known)) {
            *detail = QStringLiteral("parameter %1 is known as %2, the controller holds %3").arg(i).arg(known).arg(held[size_t(i)]);
            return false;
        }
    }
    return true;
}

void Trial::check()
{
    if (m_failed)
        return;
    const qint64 now = m_clock.nowMs();
    const Session &session = *m_session;
    const RequestEngine &engine = *session.engine();
    if (!engine.deadlineHeld())
        return fail(QStringLiteral("liveness"), QStringLiteral("the engine waits with no deadline armed"));
    if (const Request *request = engine.currentRequest()) {
        const qint64 leadIn = request->kind == Request::Kind::WriteParameter ? RequestEngine::kWriteLeadIn.count() : 0;
        const qint64 bound = leadIn + request->tries * (request->timeout.count() + RequestEngine::kReplySettle.count());
        if (now - m_requestStartedAt > bound)
            return fail(QStringLiteral("liveness"),
                        QStringLiteral("a request (code %1) is still open %2 ms after it started; its bound is %3 ms")
                            .arg(int(request->kind)).arg(now - m_requestStartedAt).arg(bound));
    }
    const ControllerModel::CleanReply &clean = m_controller->cleanReply();
    const qint64 frame = m_figures.frames;
    if (engine.tryOpen() && clean.frame == frame && m_cleanSeen == frame && m_dirtyFrame != frame
        && now > clean.firstByteAt + RequestEngine::kReplySettle.count())
        return fail(QStringLiteral("liveness"),
                    QStringLiteral("a whole reply that came alone at %1 ms still holds its try").arg(clean.firstByteAt));
    // oe-cli holds the poll: nothing goes out that its command did not ask for.
    if (session.state() == Session::State::Connected && !engine.busy() && !m_boxOpen && !m_inCli) {
        if (!m_quietSince)
            m_quietSince = now;
        else if (now - *m_quietSince > 1100)
            return fail(QStringLiteral("liveness"),
                        QStringLiteral("connected and quiet since %1 ms with no status request").arg(*m_quietSince));
    } else {
        m_quietSince.reset();
    }
    QString detail;
    if (!truthHolds(&detail))
        return fail(QStringLiteral("truth"), detail);

    if (!m_port->isOpen()) {
        if (std::exchange(m_portWasOpen, false)) {
            m_wire.sessionEnded();
            m_progress.sessionEnded(now);
            m_identifyDue = false;
            m_swapUnnoticed = false;
        }
    } else {
        m_portWasOpen = true;
    }
    // Judged once the engine has told everything: the end of the last try comes after the request left.
    if (!engine.busy()) {
        const QString broken = m_wire.requestGone();
        if (!broken.isEmpty())
            return fail(QStringLiteral("exact tries"), broken);
    }
    if (session.state() != Session::State::Connected && session.state() != Session::State::Busy)
        m_progress.holdUntil(now);
    if (m_boxOpen)
        m_progress.holdUntil(now);
    m_progress.holdUntil(m_controller->silentUntil());
    const QString stuck = m_progress.check(session.book(), now);
    if (!stuck.isEmpty())
        return fail(QStringLiteral("progress"), stuck);
    if (m_options.checks[Check::KnownAfresh])
        checkAfresh();
}

void Trial::checkAfresh()
{
    const Session &session = *m_session;
    for (int i = 0; i < kParameterCount; ++i) {
        const ParameterBook::State state = session.book().state(ParameterIndex(i));
        const bool told = state == ParameterBook::State::Known || state == ParameterBook::State::Verifying;
        if (told && !session.controllerAnswering())
            return fail(QStringLiteral("known afresh"),
                        QStringLiteral("parameter %1 is still counted as told while the controller does not answer").arg(i));
        if (state == ParameterBook::State::Known && m_identifyDue)
            return fail(QStringLiteral("known afresh"),
                        QStringLiteral("parameter %1 is known again before the controller identified itself").arg(i));
    }
}

void Trial::onStored(int index, const ControllerModel::Values &before)
{
    if (!m_options.checks[Check::PairsEveryWrite])
        return;
    const auto pair = pairOf(ParameterIndex(index));
    if (!pair)
        return;
    const auto &after = m_controller->values();
    const size_t low = size_t(pair->first);
    const size_t high = size_t(pair->second);
    if (before[low] > before[high] || after[low] <= after[high])
        return;
    // A write the controller clamped or refused stored what nobody sent: no order of writes prevents it.
    if (!m_controller->lastWriteStoredAsSent())
        return;
    // Written against a partner value the line made: what the program believed was in order.
    const int partner = index == int(low) ? int(high) : int(low);
    const std::optional<qint32> believed = m_session->book().value(ParameterIndex(partner));
    if (believed && m_lineMade.count({partner, *believed}))
        return;
    fail(QStringLiteral("pairs (every write)"),
         QStringLiteral("the write of %1 to parameter %2 crossed its pair: %3 above %4 (parameters %5 and %6)")
             .arg(after[size_t(index)]).arg(index).arg(after[low]).arg(after[high]).arg(low).arg(high));
}

TrialOutcome runTrial(const TrialOptions &options)
{
    Trial trial(options);
    return trial.run();
}

} // namespace oe
