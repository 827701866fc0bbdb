#include "captiontable.h"

namespace oe {

QString CaptionTable::text(int entry) const
{
    return isEntry(entry) ? m_texts[std::size_t(entry)] : QString();
}

QString fillPlaceholders(const QString &text, const QStringList &args)
{
    QString out;
    out.reserve(text.size() + 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int n = i + 1 < text.size() ? text[i + 1].digitValue() : -1;
        if (text[i] == u'%' && n >= 1 && n <= args.size()) {
            out += args[n - 1];
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool CaptionTable::set(int entry, const QString &text)
{
    if (!isEntry(entry))
        return false;
    m_texts[std::size_t(entry)] = text;
    return true;
}

} // namespace oe
