#include "components/IniSettingsStore.h"

#include "platform/HostName.h"
#include "platform/UserFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

class IniSection final : public ISettingsSection
{
public:
    IniSection(std::shared_ptr<QSettings> settings, QString name)
        : m_settings(std::move(settings)), m_name(std::move(name))
    {}

    bool ReadValue(const QString& key, const QString& defaultValue, QString& value) override
    {
        value = m_settings->value(m_name + QLatin1Char('/') + key, defaultValue).toString();
        return true;
    }

    bool WriteValue(const QString& key, const QString& value) override
    {
        m_settings->setValue(m_name + QLatin1Char('/') + key, value);
        return true;
    }

private:
    std::shared_ptr<QSettings> m_settings;
    QString m_name;
};

} // namespace

IniSettingsStore::IniSettingsStore() = default;
IniSettingsStore::~IniSettingsStore() = default;

QString IniSettingsStore::FilePath(const QString& product, const QString& application)
{
    const QString config = UserFolders::ConfigHome();
    if (config.isEmpty())
        return {};
    return config + QStringLiteral("/Norvale/") + product + QLatin1Char('/') + application +
           QStringLiteral(".ini");
}

bool IniSettingsStore::SetApplicationName(const QString& name)
{
    m_application = name;
    m_settings.reset();
    return true;
}

bool IniSettingsStore::SetProduct(const QString& product)
{
    m_product = product;
    m_settings.reset();
    return true;
}

bool IniSettingsStore::open()
{
    if (m_settings)
        return true;
    return reopen();
}

bool IniSettingsStore::reopen()
{
    m_settings.reset();
    if (m_product.isEmpty() || m_application.isEmpty()) {
        m_lastError = QStringLiteral("The settings store has no product or application name");
        return false;
    }
    const QString file = FilePath(m_product, m_application);
    if (file.isEmpty()) {
        m_lastError = QStringLiteral("No home folder for the settings file: HOME is unset and the user "
                                     "database names none");
        return false;
    }
    // A named pipe or a device would hold up the read for good, and the save would replace it.
    if (HostName::IsOtherThanRegularFile(file)) {
        m_lastError = QStringLiteral("The settings file is not a regular file: ") + file;
        return false;
    }
    m_settings = std::make_shared<QSettings>(file, QSettings::IniFormat);
    return true;
}

bool IniSettingsStore::Reload()
{
    // A fresh reader each time: what it found wrong in the file (a damaged line) is no failure of
    // a later write, which rewrites the file whole with every setting it could read.
    return reopen();
}

bool IniSettingsStore::Save()
{
    if (!open())
        return false;
    QDir().mkpath(QFileInfo(m_settings->fileName()).absolutePath());
    m_settings->sync();
    // A damaged file reads as far as it goes (FormatError) and is written whole all the same;
    // only a file that cannot be written is a failure.
    if (m_settings->status() == QSettings::AccessError) {
        m_lastError = QStringLiteral("Cannot write the settings file ") + m_settings->fileName();
        return false;
    }
    return true;
}

std::shared_ptr<ISettingsSection> IniSettingsStore::AddSection(const QString& name)
{
    if (!open())
        return nullptr;
    m_sections.insert(name);
    return std::make_shared<IniSection>(m_settings, name);
}

std::shared_ptr<ISettingsSection> IniSettingsStore::GetSection(const QString& name)
{
    bool has = false;
    if (!HasSection(name, has) || !has)
        return nullptr;
    return std::make_shared<IniSection>(m_settings, name);
}

bool IniSettingsStore::HasSection(const QString& name, bool& has)
{
    if (!open())
        return false;
    has = m_sections.contains(name) || m_settings->childGroups().contains(name);
    return true;
}
