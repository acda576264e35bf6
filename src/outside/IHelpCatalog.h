#pragma once

#include "outside/Component.h"

#include <memory>

class IHelpTopic
{
public:
    virtual ~IHelpTopic() = default;
    virtual bool Open() = 0;
};

// Loads the product's help index and finds its topics by name.
class IHelpCatalog : public Component
{
public:
    static constexpr char ClassId[] = "Norvale.HelpCatalog";

    virtual bool setIndexFile(const QString& path) = 0;
    // The topic of that name, or nothing when the index does not know it.
    virtual std::unique_ptr<IHelpTopic> findTopic(const QString& name) = 0;
    virtual bool load() = 0;
};
