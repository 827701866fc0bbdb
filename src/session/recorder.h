#pragma once

#include "parameterset.h"
#include "session.h"

#include <QDateTime>
#include <QFile>
#include <QObject>

#include <array>
#include <optional>

namespace oe {

// A recording of a test ride: a CSV file with one line per status reply and one per parameter change,
// in the order they happened, so a trace shows what changed when. Every number is a whole number
// (times in milliseconds): a decimal point is a thousands separator to an Italian spreadsheet, which
// read 0.100 s as 100. Every line reaches the disk as it is
// written; a write that fails (disk full) ends the recording and keeps the whole lines written. The
// session ending (a disconnect, a lost port) ends it cleanly. The last line says why it ended.
class Recorder : public QObject
{
    Q_OBJECT
public:
    // Where a parameter change came from.
    enum class Cause { Slider, Typed, Map, Reset, Read };
    Q_ENUM(Cause)
    // Why a recording ended.
    enum class End { Stopped, Disconnected, PortLost, DiskFull };

    explicit Recorder(Session *session, QObject *parent = nullptr);
    ~Recorder() override;

    // Starts a new file (an existing one is replaced), creating its folder when missing. The values the
    // session knows now are where the first changes start from.
    bool start(const QString &path, QString *error = nullptr);
    void stop(End why = End::Stopped);
    bool isRecording() const { return m_file.isOpen(); }
    QString path() const { return m_file.fileName(); }
    // The sequence about to start (a map load, a reset, a read): what its reads find is put down to it.
    void setCause(Cause cause) { m_cause = cause; }
    // A commit of this value is on its way; its line follows when the write ends, with this cause.
    void commitStarted(ParameterIndex index, qint32 value, Cause cause);

    // The file's first line: a spreadsheet that reads it splits at "," whatever its locale's list
    // separator (an Italian one expects ";" and would put every line into one cell).
    static QByteArray separatorLine() { return "sep=,\r\n"; }
    static QByteArray header();
    static QByteArray readingLine(const QDateTime &time, qint32 rpm, qint32 tinj, qint32 pump, qint32 pause);
    // from is left empty when the value before was not known.
    static QByteArray changeLine(const QDateTime &time, ParameterIndex index, std::optional<qint32> from,
                                 qint32 to, Cause cause, bool confirmed);
    static QByteArray endLine(const QDateTime &time, End why);
    // The window held the poll (a map dialog is open), or let it go again: the gap in the readings
    // is explained in the trace.
    static QByteArray pollLine(const QDateTime &time, bool held);
    void notePollHeld(bool held);

signals:
    void recordingChanged(bool recording);
    // The file could not be written; the recording has stopped and what was written stays.
    void writeFailed(const QString &path);

private:
    void write(const QByteArray &line);
    void onReadings();
    void onParameterRead(ParameterIndex index, qint32 value);
    void onWriteFinished(ParameterIndex index, bool confirmed);

    Session *m_session;
    QFile m_file;
    qint64 m_wholeLines = 0; // bytes of the file that are whole lines
    Cause m_cause = Cause::Read;
    // What the trace last said of each parameter (from the book at the start): a change line is
    // written when the controller tells something else.
    std::array<std::optional<qint32>, kParameterCount> m_values{};
    struct Commit {
        qint32 value;
        Cause cause;
        std::optional<qint32> readBack; // what a read after an unconfirmed write found
    };
    std::array<std::optional<Commit>, kParameterCount> m_commits{};
};

} // namespace oe
