#include "languagefile.h"

#include "lenientnumber.h"
#include "textlines.h"

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>

namespace oe {

namespace {

const QString kFileName = QStringLiteral("Language.ini");
const QString kEndMarker = QStringLiteral("[END LANGUAGE]");

// A language file is a few kilobytes; anything far beyond that is the wrong file, and reading it
// whole would only cost memory.
constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;

// Characters 0x80 to 0x9F of the Windows Western code page; 0 where it defines none (those bytes
// keep their Latin-1 meaning).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }
bool isLineEnd(QChar c) { return c == u'\r' || c == u'\n'; }

QStringView chopTrailingBlanks(QStringView s)
{
    qsizetype n = s.size();
    while (n > 0 && isBlank(s[n - 1]))
        --n;
    return s.left(n);
}

// Line ends inside a quoted item become a single "\n", whatever the file used.
QString normalizedLineEnds(QStringView s)
{
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c == u'\r') {
            if (i + 1 < s.size() && s[i + 1] == u'\n')
                ++i;
            out += u'\n';
        } else {
            out += c;
        }
    }
    return out;
}

struct Item
{
    QStringView text;  // without the skipped leading blanks and without quotes
    bool quoted = false;
    int line = 1;

    // Trailing blanks of an unquoted item are invisible in an editor, so they never count for a
    // comparison nor end up in a caption; quotes keep them on purpose.
    QStringView compared() const { return quoted ? text : chopTrailingBlanks(text); }
    QString entryText() const
    {
        const QStringView rest = text.mid(5);
        return quoted ? normalizedLineEnds(rest) : chopTrailingBlanks(rest).toString();
    }
    QString whole() const { return quoted ? normalizedLineEnds(text) : text.toString(); }
};

// Cuts the text into items: an item ends at a comma or a line end (CR, CR LF or LF); blanks at its
// start are skipped; an item opening with a double quote runs to the next double quote, across
// commas and line ends (to the end of the text when no quote closes it), and whatever follows the
// closing quote up to the next comma or line end is dropped. One pass, each character seen once.
class ItemReader
{
public:
    explicit ItemReader(QStringView text) : m_text(text) {}

    bool next(Item *item)
    {
        const qsizetype n = m_text.size();
        if (m_pos >= n)
            return false;
        item->line = m_line;
        while (m_pos < n && isBlank(m_text[m_pos]))
            ++m_pos;
        if (m_pos < n && m_text[m_pos] == u'"') {
            const qsizetype begin = ++m_pos;
            while (m_pos < n && m_text[m_pos] != u'"') {
                if (m_text[m_pos] == u'\r') {
                    if (m_pos + 1 < n && m_text[m_pos + 1] == u'\n')
                        ++m_pos;
                    ++m_line;
                } else if (m_text[m_pos] == u'\n') {
                    ++m_line;
                }
                ++m_pos;
            }
            item->text = m_text.mid(begin, m_pos - begin);
            item->quoted = true;
            if (m_pos < n)
                ++m_pos; // the closing quote
            while (m_pos < n && m_text[m_pos] != u',' && !isLineEnd(m_text[m_pos]))
                ++m_pos;
        } else {
            const qsizetype begin = m_pos;
            while (m_pos < n && m_text[m_pos] != u',' && !isLineEnd(m_text[m_pos]))
                ++m_pos;
            item->text = m_text.mid(begin, m_pos - begin);
            item->quoted = false;
        }
        if (m_pos < n) {
            if (m_text[m_pos] == u'\r' && m_pos + 1 < n && m_text[m_pos + 1] == u'\n')
                ++m_pos;
            if (isLineEnd(m_text[m_pos]))
                ++m_line;
            ++m_pos;
        }
        return true;
    }

private:
    QStringView m_text;
    qsizetype m_pos = 0;
    int m_line = 1;
};

// The item as the technician should see it in a message: short, on one line, no control bytes.
QString shownItem(const QString &item)
{
    constexpr qsizetype kMaxShown = 40;
    QString shown = item.left(kMaxShown);
    for (QChar &c : shown) {
        if (c.category() == QChar::Other_Control)
            c = QChar(QChar::ReplacementCharacter);
    }
    if (item.size() > kMaxShown)
        shown += QChar(0x2026);
    return shown;
}

LanguageLoadResult failure(LanguageLoadResult result, const Item &item, const QString &code,
                           const QString &what)
{
    result.ok = false;
    result.failedLine = item.line;
    result.failedItem = item.whole();
    result.error = QStringLiteral("%1, section [%2], line %3: the item \"%4\" %5")
                       .arg(kFileName, code, QString::number(item.line),
                            shownItem(result.failedItem), what);
    return result;
}

} // namespace

QString languageFilePath(const QString &programFolder)
{
    return QDir(programFolder).filePath(kFileName);
}

QString decodeLanguageText(const QByteArray &contents)
{
    // Stateless: a truncated sequence at the very end is an error, not bytes held for later.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(contents);
    if (!utf8.hasError())
        return text;

    // A byte-order mark in front of an otherwise 8-bit file still must not hide the first header.
    const QByteArrayView bytes = contents.startsWith("\xEF\xBB\xBF")
                                     ? QByteArrayView(contents).sliced(3)
                                     : QByteArrayView(contents);
    text.resize(bytes.size());
    QChar *out = text.data();
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        const char16_t mapped = (b >= 0x80 && b <= 0x9F) ? kCp1252High[b - 0x80] : 0;
        *out++ = QChar(mapped ? mapped : char16_t(b));
    }
    return text;
}

LanguageLoadResult loadLanguageData(const QByteArray &contents, const QString &code,
                                    CaptionTable &table)
{
    LanguageLoadResult result;
    const QString text = decodeLanguageText(contents);
    const QString header = u'[' + code + u']';

    ItemReader reader(text);
    Item item;
    while (reader.next(&item)) {
        if (!result.sectionFound) {
            // Other sections are passed over: their items never equal the wanted header.
            result.sectionFound = item.compared() == header;
            continue;
        }
        if (item.text.isEmpty())
            continue;
        if (item.compared() == kEndMarker)
            break;
        if (item.text.size() < 5) {
            return failure(result, item, code,
                           QStringLiteral("is too short: an entry is a four-digit number, one "
                                          "separator character and its text."));
        }
        const auto entry = readLenientInteger(item.text.left(4), CaptionTable::kFirstEntry,
                                              CaptionTable::kLastEntry);
        if (!entry) {
            return failure(result, item, code,
                           QStringLiteral("does not begin with an entry number from 0000 to 1000."));
        }
        table.set(int(*entry), item.entryText());
    }
    return result;
}

LanguageLoadResult loadLanguage(const QString &filePath, const QString &code, CaptionTable &table)
{
    LanguageLoadResult result;
    const QFileInfo info(filePath);
    if (info.isFile() && info.size() > kMaxFileBytes) {
        result.ok = false;
        result.error = QStringLiteral("%1 is too large (%2 bytes) to be a language file.")
                           .arg(QDir::toNativeSeparators(filePath), QString::number(info.size()));
        return result;
    }
    QByteArray contents;
    QString error;
    if (!readWholeFile(filePath, &contents, &error)) {
        result.ok = false;
        result.error = error.endsWith(u'.') ? error : error + u'.';
        return result;
    }
    return loadLanguageData(contents, code, table);
}

} // namespace oe
