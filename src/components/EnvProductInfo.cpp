#include "components/EnvProductInfo.h"

#include "components/IniFile.h"
#include "platform/HostName.h"
#include "platform/HostPath.h"
#include "platform/UserFolders.h"

#include <QFileInfo>

namespace {

QString productIniPath(const QString& product)
{
    const QString config = UserFolders::configHome();
    const QString user = config + QStringLiteral("/Norvale/") + product + QStringLiteral("/product.ini");
    if (!config.isEmpty() && QFileInfo::exists(user))
        return user;
    const QString system = QStringLiteral("/etc/xdg/Norvale/") + product + QStringLiteral("/product.ini");
    return QFileInfo::exists(system) ? system : QString();
}

} // namespace

bool EnvProductInfo::setProduct(const QString& product)
{
    m_product = product;
    return true;
}

bool EnvProductInfo::refresh()
{
    const QString ini = m_product.isEmpty() ? QString() : productIniPath(m_product);
    // A named pipe or a device there would hold up the read for good.
    if (!ini.isEmpty() && !HostName::isRegularFile(ini)) {
        m_lastError = QStringLiteral("The product file is not a regular file: ") + ini;
        return false;
    }
    IniDocument file;
    if (!ini.isEmpty()) {
        IniFile::Contents contents = IniFile::read(ini);
        if (contents.outcome == IniFile::Contents::Outcome::TooLarge) {
            m_lastError = QStringLiteral("The product file %1 is larger than 1 MB").arg(ini);
            return false;
        }
        if (contents.outcome == IniFile::Contents::Outcome::Failed) {
            m_lastError = QStringLiteral("Cannot read the product file %1: %2").arg(ini, contents.error);
            return false;
        }
        file = std::move(contents.document);
    }
    const auto read = [&](const char* variable, const char* key) {
        QString value = qEnvironmentVariable(variable);
        if (value.isEmpty())
            value = file.value(m_product, QLatin1String(key)).value_or(QString());
        return HostPath::toWindows(value);
    };
    m_install = read("TS6_INSTALL_PATH", "InstallPath");
    m_data = read("TS6_DATA_PATH", "DataPath");
    m_shared = read("TS6_SHARED_PATH", "SharedPath");
    return true;
}

bool EnvProductInfo::SharedPath(QString& path)
{
    path = m_shared;
    return true;
}

bool EnvProductInfo::InstallPath(QString& path)
{
    path = m_install;
    return true;
}

bool EnvProductInfo::DataPath(QString& path)
{
    path = m_data;
    return true;
}
