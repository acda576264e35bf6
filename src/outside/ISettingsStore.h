#pragma once

#include "outside/Component.h"

#include <memory>

// One named section of the settings store.
class ISettingsSection
{
public:
    virtual ~ISettingsSection() = default;
    // The stored text of key, or defaultValue when the key is absent.
    virtual bool readValue(const QString& key, const QString& defaultValue, QString& value) = 0;
    virtual bool writeValue(const QString& key, const QString& value) = 0;
};

// The product's persistent settings, in sections of keys and texts.
class ISettingsStore : public Component
{
public:
    static constexpr char ClassId[] = "Norvale.SettingsStore";

    virtual bool setApplicationName(const QString& name) = 0;
    virtual bool setProduct(const QString& product) = 0;
    virtual bool reload() = 0;
    virtual bool save() = 0;
    virtual std::shared_ptr<ISettingsSection> addSection(const QString& name) = 0;
    virtual std::shared_ptr<ISettingsSection> getSection(const QString& name) = 0;
    virtual bool hasSection(const QString& name, bool& has) = 0;
    // What the program should tell the person about the store (a file it left alone), empty
    // when nothing.
    virtual QString warning() const { return {}; }
    // The host path of the file the store keeps, empty when none.
    virtual QString filePath() const { return {}; }
};
