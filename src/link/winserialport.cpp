#include "winserialport.h"

#include "portpath.h"
#include "serialsettings.h"

#include <QScopedValueRollback>
#include <QWinEventNotifier>

#include <qt_windows.h>

namespace oe {

namespace {

// Long enough for any driver to finish a cancelled call; a driver that never does costs one leaked
// set of OVERLAPPED blocks instead of a hung window.
constexpr DWORD kCancelWaitMs = 2000;
constexpr DWORD kReadChunk = 4096;
// Far longer than queued bytes take to come back from the driver.
constexpr DWORD kReadWaitMs = 500;
// The pause before waiting again after a look that found nothing new: the longest a byte can go
// unnoticed where the driver's wait completes for no reason.
constexpr std::chrono::milliseconds kQuietRearm{5};

// What a failed call while opening says about the port, in a technician's terms.
PortOpenError openErrorKind(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return PortOpenError::NotFound;
    // Windows opens a COM port for one program at a time and refuses the next with either.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return PortOpenError::InUse;
    // The name leads to a device that takes no line settings.
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_HANDLE:
        return PortOpenError::NotATty;
    default:
        return PortOpenError::Other;
    }
}

} // namespace

// One open port: its handle and one OVERLAPPED block per kind of call. The blocks must outlive their
// calls, so a set is only freed once nothing is in flight on it.
struct WinSerialPort::Io {
    HANDLE port = INVALID_HANDLE_VALUE;
    OVERLAPPED wait{};
    OVERLAPPED write{};
    OVERLAPPED read{};
    DWORD waitMask = 0;
    bool waitPending = false;
    bool writePending = false;
    // A read that did not end even when cancelled; its buffer lives here, so it may still be written.
    bool readPending = false;
    char readBuffer[kReadChunk];

    Io()
    {
        // Manual reset: every overlapped call resets its event when it starts.
        for (OVERLAPPED *ov : {&wait, &write, &read})
            ov->hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~Io()
    {
        if (port != INVALID_HANDLE_VALUE)
            CloseHandle(port);
        for (OVERLAPPED *ov : {&wait, &write, &read})
            if (ov->hEvent)
                CloseHandle(ov->hEvent);
    }
    bool valid() const { return wait.hEvent && write.hEvent && read.hEvent; }

    static void restart(OVERLAPPED &ov)
    {
        const HANDLE event = ov.hEvent;
        ov = OVERLAPPED{};
        ov.hEvent = event;
    }

    // Cancels a call in flight and waits for it to end; false when it did not end in time.
    bool settle(OVERLAPPED &ov, bool &pending)
    {
        if (!pending)
            return true;
        if (WaitForSingleObject(ov.hEvent, kCancelWaitMs) != WAIT_OBJECT_0)
            return false;
        DWORD ignored = 0;
        GetOverlappedResult(port, &ov, &ignored, FALSE);
        pending = false;
        return true;
    }
};

WinSerialPort::WinSerialPort(const QString &programFolder, QObject *parent)
    : SerialPort(parent), m_programFolder(programFolder)
{
    connect(&m_waitNotifier, &QWinEventNotifier::activated, this, &WinSerialPort::onWaitDone);
    connect(&m_writeNotifier, &QWinEventNotifier::activated, this, &WinSerialPort::onWriteDone);
    m_quietRearm.setSingleShot(true);
    m_quietRearm.setTimerType(Qt::PreciseTimer);
    m_quietRearm.setInterval(kQuietRearm);
    connect(&m_quietRearm, &QTimer::timeout, this, &WinSerialPort::onQuietRearm);
}

WinSerialPort::~WinSerialPort()
{
    // No loss report while being torn down.
    m_lost = true;
    close();
}

bool WinSerialPort::open(int comPort, QString *error)
{
    close();
    m_lost = false;
    // The user knows the port by its name, not by the device-namespace path that opens it.
    const QString name = m_deviceOverride.isEmpty() ? QStringLiteral("COM%1").arg(comPort) : m_deviceOverride;
    setOpenOutcome(name, PortOpenError::Other);
    const auto fail = [this, error, &name](DWORD code) {
        setOpenOutcome(name, openErrorKind(code));
        if (error)
            *error = qt_error_string(int(code));
        return false;
    };

    auto io = std::make_unique<Io>();
    if (!io->valid())
        return fail(GetLastError());
    QString device = resolvePortDevice(comPort, m_programFolder);
    if (!m_deviceOverride.isEmpty())
        device = m_deviceOverride.startsWith(QLatin1String("\\\\")) ? m_deviceOverride
                                                                     : QStringLiteral("\\\\.\\") + m_deviceOverride;
    io->port = CreateFileW(reinterpret_cast<const wchar_t *>(device.utf16()), GENERIC_READ | GENERIC_WRITE,
                           0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (io->port == INVALID_HANDLE_VALUE)
        return fail(GetLastError());

    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(io->port, &dcb))
        return fail(GetLastError());
    static_assert(SerialSettings::kDataBits == 8 && !SerialSettings::kParity && SerialSettings::kStopBits == 1
                      && !SerialSettings::kFlowControl,
                  "the DCB below sets 8N1 without flow control");
    dcb.BaudRate = DWORD(SerialSettings::kBaudRate);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    // Asserted by the driver itself from here on; no separate modem-line call, which some ports
    // (and Wine on a pty) refuse.
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!SetCommState(io->port, &dcb))
        return fail(GetLastError());

    // Reads return at once with what is queued; writes have no time limit (no flow control, so the
    // line always drains), and close() cancels one that is still running.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!SetCommTimeouts(io->port, &timeouts) || !SetCommMask(io->port, EV_RXCHAR))
        return fail(GetLastError());
    // Bytes the other side sent while the port was closed belong to nobody.
    if (!PurgeComm(io->port, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR))
        return fail(GetLastError());

    m_io = std::move(io);
    m_lastQueued = 0;
    m_waitNotifier.setHandle(m_io->wait.hEvent);
    m_writeNotifier.setHandle(m_io->write.hEvent);
    m_waitNotifier.setEnabled(true);
    m_writeNotifier.setEnabled(true);
    if (!armWait()) {
        const DWORD code = GetLastError();
        close();
        return fail(code);
    }
    setOpenOutcome(name, PortOpenError::None);
    return true;
}

void WinSerialPort::close()
{
    m_waitNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    m_quietRearm.stop();
    m_toWrite.clear();
    if (!m_io)
        return;
    CancelIoEx(m_io->port, nullptr);
    const bool waitEnded = m_io->settle(m_io->wait, m_io->waitPending);
    const bool writeEnded = m_io->settle(m_io->write, m_io->writePending);
    const bool readEnded = m_io->settle(m_io->read, m_io->readPending);
    if (waitEnded && writeEnded && readEnded) {
        m_io.reset();
    } else {
        // A call is still in flight on these blocks and on the bytes being written: the driver may
        // use them later, so they are never freed.
        CloseHandle(m_io->port);
        m_io->port = INVALID_HANDLE_VALUE;
        (void)m_io.release();
        (void)new QByteArray(std::move(m_writing));
    }
    m_writing.clear();
}

bool WinSerialPort::isOpen() const
{
    return bool(m_io);
}

void WinSerialPort::write(const QByteArray &bytes)
{
    if (!m_io || bytes.isEmpty())
        return;
    m_toWrite += bytes;
    if (!m_io->writePending)
        startWrite();
}

void WinSerialPort::setReceiveThreshold(int bytes)
{
    m_threshold = qMax(0, bytes);
}

QByteArray WinSerialPort::readAll()
{
    QByteArray bytes;
    while (m_io) {
        // Only what the driver says is queued is asked for: a read of an empty queue may stay
        // pending despite the timeouts (Wine's does), and a pending read can hold up a write.
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(m_io->port, &errors, &status)) {
            lose();
            return {};
        }
        if (status.cbInQue == 0)
            break;
        const DWORD wanted = qMin(status.cbInQue, kReadChunk);
        Io::restart(m_io->read);
        if (!ReadFile(m_io->port, m_io->readBuffer, wanted, nullptr, &m_io->read) && GetLastError() != ERROR_IO_PENDING) {
            lose();
            return {};
        }
        // Queued bytes come back at once; a read that still waits is cancelled, never left behind. One
        // that outlives its cancel is a broken driver: the port is given up and the read left to it.
        if (WaitForSingleObject(m_io->read.hEvent, kReadWaitMs) != WAIT_OBJECT_0) {
            CancelIoEx(m_io->port, &m_io->read);
            if (WaitForSingleObject(m_io->read.hEvent, kCancelWaitMs) != WAIT_OBJECT_0) {
                m_io->readPending = true;
                lose();
                return {};
            }
        }
        DWORD got = 0;
        if (!GetOverlappedResult(m_io->port, &m_io->read, &got, FALSE) && GetLastError() != ERROR_OPERATION_ABORTED) {
            lose();
            return {};
        }
        bytes.append(m_io->readBuffer, qsizetype(got));
        if (got == 0)
            break;
    }
    m_lastQueued = 0;
    return bytes;
}

void WinSerialPort::discardInput()
{
    if (m_io && !PurgeComm(m_io->port, PURGE_RXCLEAR))
        lose();
    m_lastQueued = 0;
}

bool WinSerialPort::armWait()
{
    Io::restart(m_io->wait);
    m_io->waitMask = 0;
    // Finished at once or later, the call signals its event; the notifier handles both alike.
    if (!WaitCommEvent(m_io->port, &m_io->waitMask, &m_io->wait) && GetLastError() != ERROR_IO_PENDING)
        return false;
    m_io->waitPending = true;
    return true;
}

void WinSerialPort::onWaitDone()
{
    if (!m_io || !m_io->waitPending)
        return;
    DWORD ignored = 0;
    if (!GetOverlappedResult(m_io->port, &m_io->wait, &ignored, FALSE)) {
        const DWORD code = GetLastError();
        if (code == ERROR_IO_INCOMPLETE) {
            ResetEvent(m_io->wait.hEvent); // its completion sets it again
            return;
        }
        m_io->waitPending = false;
        // Only close() cancels the wait, and it stops listening first: "aborted" here is the
        // driver's own doing, not a loss. A gone device fails the look below.
        if (code != ERROR_OPERATION_ABORTED) {
            lose();
            return;
        }
    }
    m_io->waitPending = false;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(m_io->port, &errors, &status)) {
        lose();
        return;
    }
    const qint64 queued = qint64(status.cbInQue);
    const bool fresh = queued > m_lastQueued;
    m_lastQueued = queued;
    if (!fresh) {
        m_quietRearm.start();
        return;
    }
    if (!armWait()) {
        lose();
        return;
    }
    if (m_threshold <= 0 || queued < m_threshold)
        return;
    if (m_inReceiveEvent) {
        m_missedReceive = true; // raised again once the handler has returned
        return;
    }
    do {
        m_missedReceive = false;
        QScopedValueRollback guard(m_inReceiveEvent, true);
        emit receiveEvent();
    } while (m_missedReceive && m_io);
}

void WinSerialPort::onQuietRearm()
{
    if (m_io && !m_io->waitPending && !armWait())
        lose();
}

void WinSerialPort::startWrite()
{
    if (!m_io || m_toWrite.isEmpty())
        return;
    m_writing = std::exchange(m_toWrite, {});
    Io::restart(m_io->write);
    if (!WriteFile(m_io->port, m_writing.constData(), DWORD(m_writing.size()), nullptr, &m_io->write)
        && GetLastError() != ERROR_IO_PENDING) {
        lose();
        return;
    }
    m_io->writePending = true;
}

void WinSerialPort::onWriteDone()
{
    if (!m_io || !m_io->writePending)
        return;
    DWORD written = 0;
    if (!GetOverlappedResult(m_io->port, &m_io->write, &written, FALSE)) {
        if (GetLastError() == ERROR_IO_INCOMPLETE) {
            ResetEvent(m_io->write.hEvent); // its completion sets it again
            return;
        }
        m_io->writePending = false;
        lose();
        return;
    }
    m_io->writePending = false;
    // Writes have no time limit, so a driver that took nothing has failed; retrying would spin.
    if (written == 0) {
        lose();
        return;
    }
    // A short write leaves the rest in front of whatever was queued meanwhile.
    if (written < DWORD(m_writing.size()))
        m_toWrite.prepend(m_writing.mid(qsizetype(written)));
    m_writing.clear();
    startWrite();
}

void WinSerialPort::lose()
{
    if (!m_io)
        return;
    close();
    if (!m_lost) {
        m_lost = true;
        emit portLost();
    }
}

} // namespace oe
