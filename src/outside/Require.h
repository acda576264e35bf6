#pragma once

#include "base/RuntimeError.h"
#include "outside/Component.h"

// Turns a component's failure status into the run-time error its caller's trap records.
inline void require(bool ok, const Component& component, const char* classId, const char* operation)
{
    if (ok)
        return;
    QString why = component.lastError();
    if (why.isEmpty())
        why = QString::fromLatin1(operation) + QStringLiteral(" failed");
    raiseError(ErrorNumber::ComponentFailure, why, QString::fromLatin1(classId));
}

template <typename I> void require(bool ok, const I& component, const char* operation)
{
    require(ok, component, I::ClassId, operation);
}
