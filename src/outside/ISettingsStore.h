#pragma once

#include "outside/Component.h"

#include <memory>

// One named section of the settings store.
class ISettingsSection
{
public:
    virtual ~ISettingsSection() = default;
    // The stored text of key, or defaultValue when the key is absent.
    virtual bool ReadValue(const QString& key, const QString& defaultValue, QString& value) = 0;
    virtual bool WriteValue(const QString& key, const QString& value) = 0;
};

// The product's persistent settings, in sections of keys and texts.
class ISettingsStore : public Component
{
public:
    static constexpr char ClassId[] = "Norvale.SettingsStore";

    virtual bool SetApplicationName(const QString& name) = 0;
    virtual bool SetProduct(const QString& product) = 0;
    virtual bool Reload() = 0;
    virtual bool Save() = 0;
    virtual std::shared_ptr<ISettingsSection> AddSection(const QString& name) = 0;
    virtual std::shared_ptr<ISettingsSection> GetSection(const QString& name) = 0;
    virtual bool HasSection(const QString& name, bool& has) = 0;
    // What the program should tell the person about the store (a file it left alone), empty
    // when nothing.
    virtual QString Warning() const { return {}; }
    // The host path of the file the store keeps, empty when none.
    virtual QString FilePath() const { return {}; }
};
