#include "simfixture.h"

#include "configfile.h"
#include "portlink.h"

#include <QDir>

namespace oe {

SimFixture::SimFixture(int comPort)
    : m_comPort(comPort)
{
    if (!m_folder.isValid()) {
        m_error = QStringLiteral("cannot create a temporary program folder: %1").arg(m_folder.errorString());
        return;
    }
    reopen();
}

QString SimFixture::portPath() const
{
    return portLinkPath(m_folder.path(), m_comPort);
}

bool SimFixture::reopen()
{
    m_error.clear();
    QString why;
    if (!m_server.open(&why) || !createPortLink(portPath(), m_server.slavePath(), &why, m_linkedTarget)) {
        m_error = why;
        m_server.hangUp();
        return false;
    }
    m_linkedTarget = m_server.slavePath();
    return true;
}

bool SimFixture::writeConfig(const QString &language)
{
    QString why;
    const ConfigLineArray lines = {portLine(m_comPort), QStringLiteral("Language=") + language};
    return writeConfigFile(QDir(m_folder.path()).filePath(QStringLiteral("config.ini")), lines, &why);
}

} // namespace oe
