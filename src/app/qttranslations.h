#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QTranslator;

namespace oe {

// Qt's own texts (standard buttons, file dialogs, their overwrite prompt) in the language the window
// shows. Qt ships them in English; the Italian ones are qtbase_it.qm, which a build for Windows puts
// in <program folder>/translations and Debian in Qt's translations folder.
class QtTranslations
{
public:
    explicit QtTranslations(const QString &programFolder);
    ~QtTranslations();
    QtTranslations(const QtTranslations &) = delete;
    QtTranslations &operator=(const QtTranslations &) = delete;

    // Switches Qt's texts to the language of this code ("ITA"; anything else is English, Qt's own).
    // Widgets on screen are told at once. False when the language's file was not found: Qt's texts
    // then stay English.
    bool use(const QString &languageCode);

    // Where the file is looked for, in this order: beside the program first, so a build that ships
    // its own file is not mixed with another Qt's.
    static QStringList searchFolders(const QString &programFolder);

private:
    void remove();

    const QString m_programFolder;
    std::unique_ptr<QTranslator> m_translator;
};

} // namespace oe
