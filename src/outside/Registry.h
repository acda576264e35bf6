#pragma once

#include "base/RuntimeError.h"
#include "outside/Component.h"
#include "outside/ComponentMakers.h"

#include <QString>

#include <functional>
#include <memory>

// Creates outside components by class identifier. The program's own implementations are
// registered once at start, where the program is assembled; makers() hands each part of the
// program the makers it is built with.
class Registry
{
public:
    using Factory = std::function<std::unique_ptr<Component>()>;

    static void registerFactory(const QString& classId, Factory factory);

    // Creates the component registered under classId as interface I; a missing or unsuitable
    // registration raises the run-time error "cannot create component".
    template <typename I> static std::unique_ptr<I> create(const QString& classId)
    {
        std::unique_ptr<Component> made = createComponent(classId);
        if (auto* typed = dynamic_cast<I*>(made.get())) {
            made.release();
            return std::unique_ptr<I>(typed);
        }
        raiseError(ErrorNumber::CannotCreateComponent, QStringLiteral("Cannot create component"), classId);
    }

    template <typename I> static std::unique_ptr<I> create()
    {
        return create<I>(QString::fromLatin1(I::ClassId));
    }

    // One maker per interface, each creating the component registered under its class identifier
    // when it is called.
    static ComponentMakers makers();

private:
    static std::unique_ptr<Component> createComponent(const QString& classId);
};
