#include "outside/Registry.h"

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

void Registry::Register(const QString& classId, Factory factory)
{
    Exchange(classId, std::move(factory));
}

Registry::Factory Registry::Exchange(const QString& classId, Factory factory)
{
    Table& t = table();
    const std::lock_guard lock(t.mutex);
    Factory previous = t.factories.value(classId);
    if (factory)
        t.factories.insert(classId, std::move(factory));
    else
        t.factories.remove(classId);
    return previous;
}

std::unique_ptr<Component> Registry::CreateComponent(const QString& classId)
{
    Factory factory;
    {
        Table& t = table();
        const std::lock_guard lock(t.mutex);
        factory = t.factories.value(classId);
    }
    std::unique_ptr<Component> made = factory ? factory() : nullptr;
    if (!made)
        Raise(ErrorNumber::CannotCreateComponent, QStringLiteral("Cannot create component"), classId);
    return made;
}

Registry::ScopedOverride::ScopedOverride(QString classId, Factory factory)
    : m_classId(std::move(classId)), m_previous(Exchange(m_classId, std::move(factory)))
{}

Registry::ScopedOverride::~ScopedOverride()
{
    Exchange(m_classId, std::move(m_previous));
}
