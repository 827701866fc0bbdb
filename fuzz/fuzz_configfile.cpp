// config.ini as anyone may have edited it: the two lines we read from it, and the port and language
// they name. Bytes survive the read unchanged, what we write back reads back the same, and the port
// is always one of the fifteen or none.

#include "configfile.h"
#include "fuzzcheck.h"
#include "textlines.h"

using namespace oe;

namespace {

bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

void checkSameLines(const ConfigReadResult &a, const ConfigReadResult &b)
{
    FUZZ_CHECK(a.linesRead == b.linesRead);
    FUZZ_CHECK(a.lines == b.lines);
    FUZZ_CHECK(b.error.isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray contents(reinterpret_cast<const char *>(data), qsizetype(size));
    const ConfigReadResult config = parseConfig(contents);

    FUZZ_CHECK(config.error.isEmpty());
    FUZZ_CHECK(config.linesRead >= 0 && config.linesRead <= 2);
    FUZZ_CHECK((config.linesRead == 0) == contents.isEmpty());
    for (int i = 0; i < 2; ++i) {
        const QString &line = config.lines[size_t(i)];
        FUZZ_CHECK(!line.contains(u'\r') && !line.contains(u'\n'));
        if (i >= config.linesRead)
            FUZZ_CHECK(line.isEmpty());
    }
    // The first line is the file's bytes up to its first line end, byte for byte.
    qsizetype end = 0;
    while (end < contents.size() && !isLineEnd(contents[end]))
        ++end;
    FUZZ_CHECK(config.lines[0].toLatin1() == contents.left(end));

    // What we would write back reads back as the same lines.
    QStringList read;
    for (int i = 0; i < config.linesRead; ++i)
        read << config.lines[size_t(i)];
    checkSameLines(config, parseConfig(joinLines(read)));
    const ConfigReadResult rewritten = parseConfig(joinLines({config.lines[0], config.lines[1]}));
    FUZZ_CHECK(rewritten.linesRead == 2 && rewritten.lines == config.lines);

    const int port = portFromLine(config.lines[0]);
    FUZZ_CHECK(port >= 0 && port <= 15);
    if (port > 0) {
        FUZZ_CHECK(portFromLine(portLine(port)) == port);
        FUZZ_CHECK(portLine(port).size() == 6);
    }
    const QString language = languageFromLine(config.lines[1]);
    FUZZ_CHECK(language.size() == std::min<qsizetype>(3, config.lines[1].size()));
    FUZZ_CHECK(config.lines[1].endsWith(language));
    return 0;
}
