#include "settings/AppConfig.h"

#include "base/Logging.h"

#include "base/Rounding.h"
#include "base/RuntimeError.h"
#include "outside/ComponentMakers.h"
#include "outside/IProductInfo.h"
#include "outside/IScreen.h"
#include "outside/ISettingsStore.h"
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

AppConfig::AppConfig(const IScreen& screen, QString applicationName, Maker<ISettingsStore> settingsStore,
                     Maker<IProductInfo> productInfo)
    : m_makeStore(std::move(settingsStore)), m_makeProductInfo(std::move(productInfo)),
      m_applicationName(std::move(applicationName)),
      m_defaultLeft(roundHalfEven((screen.widthTwips() / screen.twipsPerPixelX() - kDefaultWidth) / 2.0)),
      m_defaultTop(roundHalfEven((screen.heightTwips() / screen.twipsPerPixelY() - kDefaultHeight) / 2.0)),
      m_defaultLastFolder(HostPath::toWindows(QDir::currentPath()))
{}

AppConfig::~AppConfig() = default;

std::int32_t AppConfig::toLong(const QString& text)
{
    bool ok = false;
    const QString trimmed = text.trimmed();
    const qlonglong whole = trimmed.toLongLong(&ok);
    if (ok) {
        if (whole < std::numeric_limits<std::int32_t>::min() ||
            whole > std::numeric_limits<std::int32_t>::max())
            raiseError(ErrorNumber::Overflow, QStringLiteral("Overflow"));
        return static_cast<std::int32_t>(whole);
    }
    const double fractional = trimmed.toDouble(&ok);
    if (!ok)
        raiseError(ErrorNumber::TypeMismatch, QStringLiteral("Type mismatch"));
    return roundHalfEven(fractional);
}

IProductInfo& AppConfig::GetProductInfo()
{
    if (!m_productInfo) {
        auto made = make(m_makeProductInfo);
        require(made->setProduct(kProduct), *made, "setProduct");
        m_productInfo = std::move(made);
    }
    return *m_productInfo;
}

ISettingsStore& AppConfig::GetSettingsStore()
{
    if (!m_store) {
        auto made = make(m_makeStore);
        require(made->setProduct(kProduct), *made, "setProduct");
        require(made->setApplicationName(withoutExtension(m_applicationName)), *made, "setApplicationName");
        m_store = std::move(made);
        qCDebug(lcSettings) << "settings store of" << m_applicationName << "made";
    }
    return *m_store;
}

namespace {

std::shared_ptr<ISettingsSection> sectionOf(ISettingsStore& store, const QString& name)
{
    bool has = false;
    require(store.hasSection(name, has), store, "hasSection");
    std::shared_ptr<ISettingsSection> section = has ? store.getSection(name) : store.addSection(name);
    require(section != nullptr, store, has ? "getSection" : "addSection");
    return section;
}

} // namespace

QString AppConfig::ReadSetting(const QString& section, const QString& key, const QString& defaultValue)
{
    ISettingsStore& store = GetSettingsStore();
    require(store.reload(), store, "reload");
    QString value;
    require(sectionOf(store, section)->readValue(key, defaultValue, value), store, "readValue");
    return value;
}

void AppConfig::WriteSetting(const QString& section, const QString& key, const QString& value)
{
    ISettingsStore& store = GetSettingsStore();
    require(store.reload(), store, "reload");
    require(sectionOf(store, section)->writeValue(key, value), store, "writeValue");
    require(store.save(), store, "save");
}

std::int32_t AppConfig::readNumber(const char* key, std::int32_t defaultValue)
{
    return toLong(ReadSetting(kSection, QString::fromLatin1(key), QString::number(defaultValue)));
}

void AppConfig::writeNumber(const char* key, std::int32_t value)
{
    WriteSetting(kSection, QString::fromLatin1(key), QString::number(value));
}

std::int32_t AppConfig::WindowLeft()
{
    return readNumber("WindowLeft", m_defaultLeft);
}
void AppConfig::setWindowLeft(std::int32_t newValue)
{
    writeNumber("WindowLeft", newValue);
}
std::int32_t AppConfig::WindowTop()
{
    return readNumber("WindowTop", m_defaultTop);
}
void AppConfig::setWindowTop(std::int32_t newValue)
{
    writeNumber("WindowTop", newValue);
}
std::int32_t AppConfig::WindowWidth()
{
    return readNumber("WindowWidth", kDefaultWidth);
}
void AppConfig::setWindowWidth(std::int32_t newValue)
{
    writeNumber("WindowWidth", newValue);
}
std::int32_t AppConfig::WindowHeight()
{
    return readNumber("WindowHeight", kDefaultHeight);
}
void AppConfig::setWindowHeight(std::int32_t newValue)
{
    writeNumber("WindowHeight", newValue);
}
std::int32_t AppConfig::WindowState()
{
    return readNumber("WindowState", kDefaultState);
}
void AppConfig::setWindowState(std::int32_t newValue)
{
    writeNumber("WindowState", newValue);
}

QString AppConfig::LastFolder()
{
    return ReadSetting(kSection, QStringLiteral("LastFolder"), m_defaultLastFolder);
}

void AppConfig::setLastFolder(const QString& newValue)
{
    WriteSetting(kSection, QStringLiteral("LastFolder"), newValue);
}

QString AppConfig::value(const QString& section, const QString& key, const QString& defaultValue)
{
    return ReadSetting(section, key, defaultValue);
}

void AppConfig::setValue(const QString& section, const QString& key, const QString& value)
{
    WriteSetting(section, key, value);
}

QString AppConfig::settingsWarning()
{
    return GetSettingsStore().warning();
}

QString AppConfig::settingsFilePath()
{
    return GetSettingsStore().filePath();
}

QString AppConfig::productPath(bool (IProductInfo::*path)(QString&), const char* operation)
{
    IProductInfo& info = GetProductInfo();
    require(info.refresh(), info, "refresh");
    QString value;
    require((info.*path)(value), info, operation);
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
