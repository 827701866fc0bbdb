#include "configfile.h"

#include "atomicfile.h"
#include "lenientnumber.h"
#include "textlines.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace oe {

namespace {
// config.ini holds two short lines; anything far beyond that is not ours, and reading a huge or
// endless file would only stall start-up.
constexpr qint64 kMaxConfigRead = 1 << 20;
} // namespace

ConfigReadResult readConfigFile(const QString &path)
{
    ConfigReadResult result;
    if (QFileInfo(path).isDir()) {
        result.error = QStringLiteral("%1 is a folder, not a file").arg(path);
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
        return result;
    }
    return parseConfig(file.read(kMaxConfigRead));
}

ConfigReadResult parseConfig(const QByteArray &contents)
{
    ConfigReadResult result;
    const QStringList lines = splitLines(contents, 2);
    for (int i = 0; i < lines.size(); ++i)
        result.lines[size_t(i)] = lines[i];
    result.linesRead = int(lines.size());
    result.isText = std::none_of(contents.cbegin(), contents.cend(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\t' && c != '\r' && c != '\n') || byte == 0x7f;
    });
    return result;
}

bool writeConfigFile(const QString &path, const ConfigLineArray &lines, QString *error, FileProblem *problem)
{
    return writeFileAtomically(path, joinLines({lines[0], lines[1]}), error, problem);
}

QString portLine(int comPort)
{
    return QStringLiteral("COM=%1").arg(comPort, 2, 10, QLatin1Char('0'));
}

int portFromLine(const QString &line)
{
    const auto number = readLenientInteger(QStringView(line).right(2), INT32_MIN, INT32_MAX);
    if (!number || *number < 0)
        return 0;
    return int(std::min<std::int64_t>(*number, 15));
}

QString languageFromLine(const QString &line)
{
    return line.right(3);
}

} // namespace oe
