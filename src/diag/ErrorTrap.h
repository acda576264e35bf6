#pragma once

#include "base/RuntimeError.h"
#include "diag/Debug.h"

#include <QString>

#include <optional>
#include <utility>

// The error trap of a traced procedure: START, then the body; on the normal way out END; on a
// run-time error END (with the START's id) and then ERROR, after which the procedure returns
// normally. A failure inside the trap itself is not caught again. Returns whether the body
// ran to its end; when it did not and failure is given, the recorded error is kept there.
template <typename Body>
bool RunTraced(const QString& moduleName, const QString& procName, Body&& body,
               std::optional<RuntimeError>* failure = nullptr)
{
    QString traceId;
    try {
        traceId = Debug::LogStart(moduleName, procName);
        std::forward<Body>(body)();
    } catch (...) {
        const RuntimeError error = RuntimeError::fromCurrentException();
        if (failure)
            *failure = error;
        Debug::LogEnd(moduleName, procName, traceId);
        Debug::LogError(moduleName, procName, error.description(), error.number(), error.source());
        return false;
    }
    Debug::LogEnd(moduleName, procName, traceId);
    return true;
}

// A trap that ends the procedure quietly: no message and no trace entry.
template <typename Body> bool RunQuietly(Body&& body) noexcept
{
    try {
        std::forward<Body>(body)();
        return true;
    } catch (...) {
        return false;
    }
}

// A predicate that swallows every error and then answers false.
template <typename Body> bool AnswerOrFalse(Body&& body) noexcept
{
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return false;
    }
}
