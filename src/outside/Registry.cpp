#include "outside/Registry.h"

#include "outside/IHelpCatalog.h"
#include "outside/ILogSink.h"
#include "outside/IPathUtility.h"
#include "outside/IProductInfo.h"
#include "outside/ISettingsStore.h"
#include "outside/ITemplateReader.h"
#include "outside/IZipWriter.h"

#include <QHash>

#include <mutex>

namespace {

struct Table
{
    std::mutex mutex;
    QHash<QString, Registry::Factory> factories;
};

Table& table()
{
    static Table instance;
    return instance;
}

} // namespace

void Registry::registerFactory(const QString& classId, Factory factory)
{
    Table& t = table();
    const std::lock_guard lock(t.mutex);
    t.factories.insert(classId, std::move(factory));
}

std::unique_ptr<Component> Registry::createComponent(const QString& classId)
{
    Factory factory;
    {
        Table& t = table();
        const std::lock_guard lock(t.mutex);
        factory = t.factories.value(classId);
    }
    std::unique_ptr<Component> made = factory ? factory() : nullptr;
    if (!made)
        raiseError(ErrorNumber::CannotCreateComponent, QStringLiteral("Cannot create component"), classId);
    return made;
}

ComponentMakers Registry::makers()
{
    return {.pathUtility = [] { return create<IPathUtility>(); },
            .templateReader = [] { return create<ITemplateReader>(); },
            .zipWriter = [] { return create<IZipWriter>(); },
            .productInfo = [] { return create<IProductInfo>(); },
            .settingsStore = [] { return create<ISettingsStore>(); },
            .helpCatalog = [] { return create<IHelpCatalog>(); },
            .logSink = [] { return create<ILogSink>(); }};
}
