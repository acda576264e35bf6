#pragma once

#include "outside/ComponentMakers.h"

#include <QString>

#include <cstdint>
#include <memory>

class IProductInfo;
class IScreen;
class ISettingsStore;

// The program's six persisted settings (section "Settings") and the product's three paths.
// Nothing is cached here: every read reloads the store, every write saves it at once.
class AppConfig
{
public:
    // The defaults are computed here from the primary screen and the current directory. The store
    // and the product information are made on first use.
    AppConfig(const IScreen& screen, QString applicationName, Maker<ISettingsStore> settingsStore,
              Maker<IProductInfo> productInfo);
    ~AppConfig();
    AppConfig(const AppConfig&) = delete;
    AppConfig& operator=(const AppConfig&) = delete;

    std::int32_t WindowLeft();
    void setWindowLeft(std::int32_t newValue);
    std::int32_t WindowTop();
    void setWindowTop(std::int32_t newValue);
    std::int32_t WindowWidth();
    void setWindowWidth(std::int32_t newValue);
    std::int32_t WindowHeight();
    void setWindowHeight(std::int32_t newValue);
    std::int32_t WindowState();
    void setWindowState(std::int32_t newValue);
    QString LastFolder();
    void setLastFolder(const QString& newValue);

    // A value of another section of the same store (the package options keep theirs in
    // "PackageOptions"), read and written through at once like the settings above.
    QString value(const QString& section, const QString& key, const QString& defaultValue);
    void setValue(const QString& section, const QString& key, const QString& value);

    // What the settings store asks to tell the person (a settings file it left alone), empty when
    // nothing; known once a setting has been read.
    QString settingsWarning();
    // The host path of the settings file, empty when there is none; a package never replaces it.
    QString settingsFilePath();

    QString InstallPath();
    QString DataPath();
    QString SharedPath();

    // A stored setting as a 32-bit number; anything else raises type mismatch (or overflow).
    static std::int32_t toLong(const QString& text);

private:
    IProductInfo& GetProductInfo();
    ISettingsStore& GetSettingsStore();
    QString ReadSetting(const QString& section, const QString& key, const QString& defaultValue);
    void WriteSetting(const QString& section, const QString& key, const QString& value);
    std::int32_t readNumber(const char* key, std::int32_t defaultValue);
    // Refreshes the product information, then reads one of its paths.
    QString productPath(bool (IProductInfo::*path)(QString&), const char* operation);
    void writeNumber(const char* key, std::int32_t value);

    const Maker<ISettingsStore> m_makeStore;
    const Maker<IProductInfo> m_makeProductInfo;
    const QString m_applicationName;
    const std::int32_t m_defaultLeft;
    const std::int32_t m_defaultTop;
    const QString m_defaultLastFolder;
    std::unique_ptr<ISettingsStore> m_store;
    std::unique_ptr<IProductInfo> m_productInfo;
};
