#pragma once

#include <QIODevice>
#include <QStringDecoder>

#include <cstdio>

namespace oe {

// stdout or stderr as a device that takes UTF-8 (what QTextStream writes). On a Windows console the
// text goes through the console's wide-character API, so accents read right whatever the console's
// code page (850, 1252, 65001); redirected to a file or a pipe, and everywhere else, the bytes go out
// as UTF-8 unchanged.
class ConsoleDevice : public QIODevice
{
public:
    enum class Stream { Out, Err };
    explicit ConsoleDevice(Stream stream, QObject *parent = nullptr);

    // Whether the text goes to a Windows console window (false on other systems).
    bool isConsole() const { return m_console; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override;

private:
    std::FILE *m_file;
    void *m_handle = nullptr;
    bool m_console = false;
    // A character split between two writes is put together again.
    QStringDecoder m_decoder{QStringDecoder::Utf8};
};

// One line on stderr through a ConsoleDevice, for words written before any runner exists.
void printError(const QString &line);

} // namespace oe
