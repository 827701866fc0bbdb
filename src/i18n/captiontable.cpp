#include "captiontable.h"

namespace oe {

QString CaptionTable::text(int entry) const
{
    return isEntry(entry) ? m_texts[std::size_t(entry)] : QString();
}

bool CaptionTable::set(int entry, const QString &text)
{
    if (!isEntry(entry))
        return false;
    m_texts[std::size_t(entry)] = text;
    return true;
}

} // namespace oe
