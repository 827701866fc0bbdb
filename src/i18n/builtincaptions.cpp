#include "builtincaptions.h"

#include "languagefile.h"

#include <QLocale>
#include <QMap>

namespace oe {

QString systemLanguageCode()
{
    return QLocale().language() == QLocale::Italian ? QStringLiteral("ITA") : QStringLiteral("ENG");
}

const CaptionTable &builtInCaptions(const QString &code)
{
    static QMap<QString, CaptionTable> loaded;
    auto it = loaded.find(code);
    if (it == loaded.end()) {
        CaptionTable table;
        if (!loadLanguage(QStringLiteral(":/i18n/Language.ini"), code, table).ok)
            table = CaptionTable();
        it = loaded.insert(code, table);
    }
    return *it;
}

} // namespace oe
