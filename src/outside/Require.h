#pragma once

#include "base/RuntimeError.h"
#include "outside/Component.h"

// Turns a component's failure status into the run-time error its caller's trap records.
inline void Require(bool ok, const Component& component, const char* classId, const char* operation)
{
    if (ok)
        return;
    QString why = component.LastError();
    if (why.isEmpty())
        why = QString::fromLatin1(operation) + QStringLiteral(" failed");
    Raise(ErrorNumber::ComponentFailure, why, QString::fromLatin1(classId));
}

template <typename I> void Require(bool ok, const I& component, const char* operation)
{
    Require(ok, component, I::ClassId, operation);
}
