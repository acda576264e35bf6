#include "components/IniSettingsStore.h"

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
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
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
    if (m_product.isEmpty() || m_application.isEmpty()) {
        m_lastError = QStringLiteral("The settings store has no product or application name");
        return false;
    }
    m_settings = std::make_shared<QSettings>(FilePath(m_product, m_application), QSettings::IniFormat);
    return true;
}

bool IniSettingsStore::Reload()
{
    if (!open())
        return false;
    m_settings->sync();
    return true;
}

bool IniSettingsStore::Save()
{
    if (!open())
        return false;
    QDir().mkpath(QFileInfo(m_settings->fileName()).absolutePath());
    m_settings->sync();
    if (m_settings->status() != QSettings::NoError) {
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
