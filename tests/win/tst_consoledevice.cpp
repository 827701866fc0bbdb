// oe-cli's output on a Windows console: the characters in the console's cells are the ones written,
// whatever its code page.
#include "consoledevice.h"

#include <QTest>
#include <QTextStream>

#include <windows.h>

using namespace oe;

class TestConsoleDevice : public QObject
{
    Q_OBJECT
private slots:
    void italianReadsRightInCodePage850();
};

void TestConsoleDevice::italianReadsRightInCodePage850()
{
    if (!::GetConsoleWindow() && !::AllocConsole())
        QSKIP("no console can be made here");
    const UINT codePageBefore = ::GetConsoleOutputCP();
    QVERIFY(::SetConsoleOutputCP(850));
    const HANDLE buffer = ::CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                      nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
    QVERIFY(buffer != INVALID_HANDLE_VALUE);
    const HANDLE stdoutBefore = ::GetStdHandle(STD_OUTPUT_HANDLE);
    ::SetStdHandle(STD_OUTPUT_HANDLE, buffer);
    // Accents of code page 850, and a dash it lacks; written in two pieces that split the "è".
    const QString expected = QStringLiteral("Il valore non è valido – più alto");
    const QByteArray utf8 = expected.toUtf8();
    const qsizetype split = utf8.indexOf("\xc3\xa8") + 1;
    bool console = false;
    {
        ConsoleDevice device(ConsoleDevice::Stream::Out);
        console = device.isConsole();
        device.write(utf8.left(split));
        device.write(utf8.mid(split));
    }
    ::SetStdHandle(STD_OUTPUT_HANDLE, stdoutBefore);
    ::SetConsoleOutputCP(codePageBefore);

    wchar_t cells[64] = {};
    DWORD read = 0;
    QVERIFY(::ReadConsoleOutputCharacterW(buffer, cells, DWORD(expected.size()), COORD{0, 0}, &read));
    ::CloseHandle(buffer);
    QVERIFY(console);
    QCOMPARE(QString::fromWCharArray(cells, int(read)), expected);
}

QTEST_GUILESS_MAIN(TestConsoleDevice)
#include "tst_consoledevice.moc"
