#include "consoledevice.h"

#include <QTextStream>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace oe {

ConsoleDevice::ConsoleDevice(Stream stream, QObject *parent)
    : QIODevice(parent), m_file(stream == Stream::Out ? stdout : stderr)
{
#ifdef Q_OS_WIN
    m_handle = ::GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    m_console = m_handle && m_handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(m_handle, &mode);
#endif
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 ConsoleDevice::writeData(const char *data, qint64 size)
{
#ifdef Q_OS_WIN
    if (m_console) {
        const QString text = m_decoder.decode(QByteArrayView(data, size));
        const auto *wide = reinterpret_cast<const wchar_t *>(text.utf16());
        qsizetype left = text.size();
        while (left > 0) {
            DWORD written = 0;
            // The console takes a limited amount per call.
            const DWORD chunk = DWORD(qMin<qsizetype>(left, 8192));
            if (!::WriteConsoleW(m_handle, wide, chunk, &written, nullptr) || written == 0)
                return -1;
            wide += written;
            left -= written;
        }
        return size;
    }
#endif
    const size_t written = std::fwrite(data, 1, size_t(size), m_file);
    std::fflush(m_file);
    return written == size_t(size) ? size : -1;
}

void printError(const QString &line)
{
    ConsoleDevice device(ConsoleDevice::Stream::Err);
    QTextStream(&device) << line << Qt::endl;
}

} // namespace oe
