#include "settings/AppConfig.h"

#include "base/Logging.h"

#include "base/Rounding.h"
#include "base/RuntimeError.h"
#include "outside/IProductInfo.h"
#include "outside/IScreen.h"
#include "outside/ISettingsStore.h"
#include "outside/Registry.h"
#include "outside/Require.h"
#include "platform/HostPath.h"

#include <QDir>

#include <limits>

namespace {

const QString kSection = QStringLiteral("Settings");
const QString kProduct = QStringLiteral("TS6");
constexpr std::int32_t kDefaultWidth = 800;
constexpr std::int32_t kDefaultHeight = 600;
constexpr std::int32_t kDefaultState = 0;

// The executable's name as the store knows it: "ts6satchel.run" is "ts6satchel".
QString withoutExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

} // namespace

AppConfig::AppConfig(const IScreen& screen, QString applicationName)
    : m_applicationName(std::move(applicationName)),
      m_defaultLeft(RoundHalfEven((screen.WidthTwips() / screen.TwipsPerPixelX() - kDefaultWidth) / 2.0)),
      m_defaultTop(RoundHalfEven((screen.HeightTwips() / screen.TwipsPerPixelY() - kDefaultHeight) / 2.0)),
      m_defaultLastFolder(HostPath::ToWindows(QDir::currentPath()))
{}

AppConfig::~AppConfig() = default;

std::int32_t AppConfig::ToLong(const QString& text)
{
    bool ok = false;
    const QString trimmed = text.trimmed();
    const qlonglong whole = trimmed.toLongLong(&ok);
    if (ok) {
        if (whole < std::numeric_limits<std::int32_t>::min() ||
            whole > std::numeric_limits<std::int32_t>::max())
            Raise(ErrorNumber::Overflow, QStringLiteral("Overflow"));
        return static_cast<std::int32_t>(whole);
    }
    const double fractional = trimmed.toDouble(&ok);
    if (!ok)
        Raise(ErrorNumber::TypeMismatch, QStringLiteral("Type mismatch"));
    return RoundHalfEven(fractional);
}

IProductInfo& AppConfig::GetProductInfo()
{
    if (!m_productInfo) {
        auto made = Registry::Create<IProductInfo>();
        Require(made->SetProduct(kProduct), *made, "SetProduct");
        m_productInfo = std::move(made);
    }
    return *m_productInfo;
}

ISettingsStore& AppConfig::GetSettingsStore()
{
    if (!m_store) {
        auto made = Registry::Create<ISettingsStore>();
        Require(made->SetProduct(kProduct), *made, "SetProduct");
        Require(made->SetApplicationName(withoutExtension(m_applicationName)), *made, "SetApplicationName");
        m_store = std::move(made);
        qCDebug(lcSettings) << "settings store of" << m_applicationName << "made";
    }
    return *m_store;
}

namespace {

std::shared_ptr<ISettingsSection> sectionOf(ISettingsStore& store, const QString& name)
{
    bool has = false;
    Require(store.HasSection(name, has), store, "HasSection");
    std::shared_ptr<ISettingsSection> section = has ? store.GetSection(name) : store.AddSection(name);
    Require(section != nullptr, store, has ? "GetSection" : "AddSection");
    return section;
}

} // namespace

QString AppConfig::ReadSetting(const QString& section, const QString& key, const QString& defaultValue)
{
    ISettingsStore& store = GetSettingsStore();
    Require(store.Reload(), store, "Reload");
    QString value;
    Require(sectionOf(store, section)->ReadValue(key, defaultValue, value), store, "ReadValue");
    return value;
}

void AppConfig::WriteSetting(const QString& section, const QString& key, const QString& value)
{
    ISettingsStore& store = GetSettingsStore();
    Require(store.Reload(), store, "Reload");
    Require(sectionOf(store, section)->WriteValue(key, value), store, "WriteValue");
    Require(store.Save(), store, "Save");
}

std::int32_t AppConfig::readNumber(const char* key, std::int32_t defaultValue)
{
    return ToLong(ReadSetting(kSection, QString::fromLatin1(key), QString::number(defaultValue)));
}

void AppConfig::writeNumber(const char* key, std::int32_t value)
{
    WriteSetting(kSection, QString::fromLatin1(key), QString::number(value));
}

std::int32_t AppConfig::WindowLeft()
{
    return readNumber("WindowLeft", m_defaultLeft);
}
void AppConfig::SetWindowLeft(std::int32_t newValue)
{
    writeNumber("WindowLeft", newValue);
}
std::int32_t AppConfig::WindowTop()
{
    return readNumber("WindowTop", m_defaultTop);
}
void AppConfig::SetWindowTop(std::int32_t newValue)
{
    writeNumber("WindowTop", newValue);
}
std::int32_t AppConfig::WindowWidth()
{
    return readNumber("WindowWidth", kDefaultWidth);
}
void AppConfig::SetWindowWidth(std::int32_t newValue)
{
    writeNumber("WindowWidth", newValue);
}
std::int32_t AppConfig::WindowHeight()
{
    return readNumber("WindowHeight", kDefaultHeight);
}
void AppConfig::SetWindowHeight(std::int32_t newValue)
{
    writeNumber("WindowHeight", newValue);
}
std::int32_t AppConfig::WindowState()
{
    return readNumber("WindowState", kDefaultState);
}
void AppConfig::SetWindowState(std::int32_t newValue)
{
    writeNumber("WindowState", newValue);
}

QString AppConfig::LastFolder()
{
    return ReadSetting(kSection, QStringLiteral("LastFolder"), m_defaultLastFolder);
}

void AppConfig::SetLastFolder(const QString& newValue)
{
    WriteSetting(kSection, QStringLiteral("LastFolder"), newValue);
}

QString AppConfig::Value(const QString& section, const QString& key, const QString& defaultValue)
{
    return ReadSetting(section, key, defaultValue);
}

void AppConfig::SetValue(const QString& section, const QString& key, const QString& value)
{
    WriteSetting(section, key, value);
}

QString AppConfig::SettingsWarning()
{
    return GetSettingsStore().Warning();
}

QString AppConfig::SettingsFilePath()
{
    return GetSettingsStore().FilePath();
}

QString AppConfig::productPath(bool (IProductInfo::*path)(QString&), const char* operation)
{
    IProductInfo& info = GetProductInfo();
    Require(info.Refresh(), info, "Refresh");
    QString value;
    Require((info.*path)(value), info, operation);
    return value;
}

QString AppConfig::InstallPath()
{
    return productPath(&IProductInfo::InstallPath, "InstallPath");
}
QString AppConfig::DataPath()
{
    return productPath(&IProductInfo::DataPath, "DataPath");
}
QString AppConfig::SharedPath()
{
    return productPath(&IProductInfo::SharedPath, "SharedPath");
}
