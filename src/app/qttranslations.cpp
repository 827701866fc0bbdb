#include "qttranslations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace oe {

QtTranslations::QtTranslations(const QString &programFolder) : m_programFolder(programFolder) {}

QtTranslations::~QtTranslations()
{
    remove();
}

QStringList QtTranslations::searchFolders(const QString &programFolder)
{
    return {QDir(programFolder).filePath(QStringLiteral("translations")),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
}

void QtTranslations::remove()
{
    if (m_translator) {
        QCoreApplication::removeTranslator(m_translator.get());
        m_translator.reset();
    }
}

bool QtTranslations::use(const QString &languageCode)
{
    if (languageCode != QLatin1String("ITA")) {
        remove();
        return true;
    }
    if (m_translator)
        return true;
    auto translator = std::make_unique<QTranslator>();
    for (const QString &folder : searchFolders(m_programFolder)) {
        if (translator->load(QStringLiteral("qtbase_it"), folder)) {
            QCoreApplication::installTranslator(translator.get());
            m_translator = std::move(translator);
            return true;
        }
    }
    return false;
}

} // namespace oe
