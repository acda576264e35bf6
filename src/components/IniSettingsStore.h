#pragma once

#include "outside/ISettingsStore.h"

#include <QSet>

#include <memory>

class QSettings;

// The settings store as an INI file, $XDG_CONFIG_HOME/Norvale/<product>/<application>.ini (the
// home folder's .config when unset). Reload reads the file afresh; save writes it through.
class IniSettingsStore final : public ISettingsStore
{
public:
    IniSettingsStore();
    ~IniSettingsStore() override;

    bool SetApplicationName(const QString& name) override;
    bool SetProduct(const QString& product) override;
    bool Reload() override;
    bool Save() override;
    std::shared_ptr<ISettingsSection> AddSection(const QString& name) override;
    std::shared_ptr<ISettingsSection> GetSection(const QString& name) override;
    bool HasSection(const QString& name, bool& has) override;
    QString LastError() const override { return m_lastError; }

    static QString FilePath(const QString& product, const QString& application);

private:
    bool open();
    bool reopen();

    QString m_product;
    QString m_application;
    std::shared_ptr<QSettings> m_settings;
    QSet<QString> m_sections; // sections made in memory by AddSection
    QString m_lastError;
};
