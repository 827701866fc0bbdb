#include "recorder.h"

#include <QDir>
#include <QFileInfo>

namespace oe {

namespace {

const char *const kNames[kParameterCount] = {"MinPumpCycles", "MaxPumpCycles", "RpmMin", "TinjMin",
                                             "TinjMax", "MinLoadPumpPause", "MaxLoadPumpPause",
                                             "RpmMultiplier"};

// A time parameter in whole milliseconds; nothing for the others, whose value is their number.
QByteArray milliseconds(ParameterIndex index, qint32 value)
{
    switch (index) {
    case ParameterIndex::MinPumpCycles:
    case ParameterIndex::MaxPumpCycles:
        return QByteArray::number(qint64(value) * 20);
    case ParameterIndex::MinLoadPumpPause:
    case ParameterIndex::MaxLoadPumpPause:
        return QByteArray::number(qint64(value) * 25);
    default:
        return {};
    }
}

QByteArray causeName(Recorder::Cause cause)
{
    switch (cause) {
    case Recorder::Cause::Slider: return "slider";
    case Recorder::Cause::Typed: return "typed";
    case Recorder::Cause::Map: return "map";
    case Recorder::Cause::Reset: return "reset";
    case Recorder::Cause::Read: return "read";
    }
    return {};
}

QByteArray endName(Recorder::End why)
{
    switch (why) {
    case Recorder::End::Stopped: return "stopped";
    case Recorder::End::Disconnected: return "disconnected";
    case Recorder::End::PortLost: return "port lost";
    case Recorder::End::DiskFull: return "disk full";
    }
    return {};
}

QByteArray timeText(const QDateTime &time)
{
    return time.toString(Qt::ISODateWithMs).toLatin1();
}

} // namespace

Recorder::Recorder(Session *session, QObject *parent) : QObject(parent), m_session(session)
{
    connect(session, &Session::liveReadingsChanged, this, &Recorder::onReadings);
    connect(session, &Session::parameterRead, this, &Recorder::onParameterRead);
    connect(session, &Session::writeFinished, this, &Recorder::onWriteFinished);
    connect(session, &Session::stateChanged, this, [this](Session::State state) {
        if (state != Session::State::Idle)
            return;
        // A commit the session ended will never finish: later reads of its parameter must not wait
        // for it.
        m_commits.fill(std::nullopt);
        stop(m_session->endedByPortLoss() ? End::PortLost : End::Disconnected);
    });
}

Recorder::~Recorder()
{
    if (isRecording())
        m_file.write(endLine(m_session->clock()->wallTime(), End::Stopped));
    m_file.close();
}

QByteArray Recorder::header()
{
    return "time,event,rpm,tinj,pump_steps,pump_ms,pause_steps,pause_ms,parameter,from,to,to_ms,cause,"
           "confirmed\r\n";
}

QByteArray Recorder::readingLine(const QDateTime &time, qint32 rpm, qint32 tinj, qint32 pump, qint32 pause)
{
    return timeText(time) + ",reading," + QByteArray::number(rpm) + ',' + QByteArray::number(tinj) + ','
         + QByteArray::number(pump) + ',' + QByteArray::number(qint64(pump) * 20) + ',' + QByteArray::number(pause)
         + ',' + QByteArray::number(qint64(pause) * 25) + ",,,,,,\r\n";
}

QByteArray Recorder::changeLine(const QDateTime &time, ParameterIndex index, std::optional<qint32> from,
                                qint32 to, Cause cause, bool confirmed)
{
    return timeText(time) + ",change,,,,,,," + kNames[size_t(index)] + ','
         + (from ? QByteArray::number(*from) : QByteArray()) + ',' + QByteArray::number(to) + ','
         + milliseconds(index, to) + ',' + causeName(cause) + ',' + (confirmed ? "yes" : "no") + "\r\n";
}

QByteArray Recorder::endLine(const QDateTime &time, End why)
{
    return timeText(time) + ",end,,,,,,,,,,," + endName(why) + ",\r\n";
}

QByteArray Recorder::pollLine(const QDateTime &time, bool held)
{
    return timeText(time) + (held ? ",poll held" : ",poll resumed") + ",,,,,,,,,,,,\r\n";
}

void Recorder::notePollHeld(bool held)
{
    if (isRecording())
        write(pollLine(m_session->clock()->wallTime(), held));
}

bool Recorder::start(const QString &path, QString *error)
{
    stop();
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_file.setFileName(path);
    // Unbuffered: a write that fails says how far it got, so a full disk leaves whole lines.
    m_wholeLines = 0;
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        if (error)
            *error = m_file.errorString();
        return false;
    }
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        m_values[size_t(i)] = m_session->controllerValue(index);
    }
    emit recordingChanged(true);
    write(separatorLine() + header());
    return isRecording();
}

void Recorder::stop(End why)
{
    if (!isRecording())
        return;
    write(endLine(m_session->clock()->wallTime(), why));
    if (!isRecording())
        return; // the disk was full: the failure has ended it
    m_file.close();
    emit recordingChanged(false);
}

// Each line goes to the disk at once: a ride that ends with a crash or a pulled cable keeps its trace.
void Recorder::write(const QByteArray &line)
{
    if (!isRecording())
        return;
    if (m_file.write(line) == line.size()) {
        m_wholeLines += line.size();
        return;
    }
    // What a full disk took of the line goes again, which may leave room for the end line.
    m_file.resize(m_wholeLines);
    m_file.seek(m_wholeLines);
    const QByteArray end = endLine(m_session->clock()->wallTime(), End::DiskFull);
    if (m_file.write(end) != end.size())
        m_file.resize(m_wholeLines);
    const QString name = m_file.fileName();
    m_file.close();
    emit recordingChanged(false);
    emit writeFailed(name);
}

void Recorder::onReadings()
{
    if (isRecording())
        write(readingLine(m_session->clock()->wallTime(), m_session->LiveRpm, m_session->LiveTinj,
                          m_session->LivePump, m_session->LivePause));
}

// A read only makes a line when it found something else than the trace said before.
void Recorder::onParameterRead(ParameterIndex index, qint32 value)
{
    // The read-back of an unconfirmed commit belongs after the commit's own line.
    if (auto &commit = m_commits[size_t(index)]) {
        commit->readBack = value;
        return;
    }
    auto &traced = m_values[size_t(index)];
    if (isRecording() && traced != value)
        write(changeLine(m_session->clock()->wallTime(), index, traced, value, m_cause, true));
    traced = value;
}

void Recorder::commitStarted(ParameterIndex index, qint32 value, Cause cause)
{
    m_commits[size_t(index)] = Commit{value, cause, std::nullopt};
}

// Every commit makes a line with the value it wrote, also one that wrote the value the controller
// had: the user asked for it. A commit the controller did not confirm is followed by what the read
// after it found, if that differs from what was known.
void Recorder::onWriteFinished(ParameterIndex index, bool confirmed)
{
    const Commit commit =
        m_commits[size_t(index)].value_or(Commit{m_session->Parameters[index], Cause::Slider, std::nullopt});
    m_commits[size_t(index)].reset();
    auto &known = m_values[size_t(index)];
    const QDateTime now = m_session->clock()->wallTime();
    if (isRecording())
        write(changeLine(now, index, known, commit.value, commit.cause, confirmed));
    if (confirmed) {
        known = commit.value;
    } else if (commit.readBack) {
        if (isRecording() && known != commit.readBack)
            write(changeLine(now, index, known, *commit.readBack, Cause::Read, true));
        known = commit.readBack;
    }
}

} // namespace oe
