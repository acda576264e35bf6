#pragma once

#include "base/RuntimeError.h"
#include "outside/Component.h"

#include <QString>

#include <functional>
#include <memory>

// Creates outside components by class identifier. The program's own implementations are
// registered once at start; a test puts a fake in place of any of them with ScopedOverride.
class Registry
{
public:
    using Factory = std::function<std::unique_ptr<Component>()>;

    static void Register(const QString& classId, Factory factory);

    // Creates the component registered under classId as interface I; a missing or unsuitable
    // registration raises the run-time error "cannot create component".
    template <typename I> static std::unique_ptr<I> Create(const QString& classId)
    {
        std::unique_ptr<Component> made = CreateComponent(classId);
        if (auto* typed = dynamic_cast<I*>(made.get())) {
            made.release();
            return std::unique_ptr<I>(typed);
        }
        Raise(ErrorNumber::CannotCreateComponent, QStringLiteral("Cannot create component"), classId);
    }

    template <typename I> static std::unique_ptr<I> Create()
    {
        return Create<I>(QString::fromLatin1(I::ClassId));
    }

    // Replaces one registration for the life of the guard, then restores what was there.
    class ScopedOverride
    {
    public:
        ScopedOverride(QString classId, Factory factory);
        ~ScopedOverride();
        ScopedOverride(const ScopedOverride&) = delete;
        ScopedOverride& operator=(const ScopedOverride&) = delete;

    private:
        QString m_classId;
        Factory m_previous;
    };

private:
    static std::unique_ptr<Component> CreateComponent(const QString& classId);
    static Factory Exchange(const QString& classId, Factory factory);
};
