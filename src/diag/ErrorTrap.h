#pragma once

#include "base/RuntimeError.h"
#include "diag/Debug.h"

#include <QString>

#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

// The error trap of a traced procedure: START, then the body; on the normal way out END; on a
// run-time error END (with the START's id) and then ERROR, after which the procedure returns
// normally. A failure inside the trap itself is not caught again. Returns whether the body
// ran to its end; when it did not and failure is given, the recorded error is kept there.
template <typename Body>
bool runTraced(const QString& moduleName, const QString& procName, Body&& body,
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
template <typename Body> bool runQuietly(Body&& body) noexcept
{
    try {
        std::forward<Body>(body)();
        return true;
    } catch (...) {
        return false;
    }
}

// A predicate that swallows every error and then answers false.
template <typename Body> bool answerOrFalse(Body&& body) noexcept
{
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return false;
    }
}

// Says one line on standard error: "ts6satchel: <line>".
void sayOnStandardError(const QString& line);
// What an edge does with an error that nothing else there expects: it tells it on standard error,
// "ts6satchel: unexpected error: Runtime error occurred: <number> : <description> Source: <source>".
void tellUnexpected(const RuntimeError& error);

// The trap at an edge where Qt calls the program: a connected signal, an event override, a queued
// call. The body runs; a run-time error that escapes it goes to onError, never into the event loop,
// and the call then gives back the empty value (false for a bool). A failure of onError itself is
// dropped. Call it at once (in an event override) or hand it to connect, which passes it as many of
// the signal's arguments as the body takes.
template <typename Body, typename OnError> class Guarded
{
public:
    Guarded(Body body, OnError onError) : m_body(std::move(body)), m_onError(std::move(onError)) {}

    // What the body gives back; no type, and so no call, for arguments the body does not take.
    template <typename... Args> using Result = std::invoke_result_t<const Body&, Args...>;

    template <typename... Args> Result<Args...> operator()(Args&&... args) const noexcept
    {
        try {
            return std::invoke(m_body, std::forward<Args>(args)...);
        } catch (...) {
            try {
                m_onError(RuntimeError::fromCurrentException());
            } catch (...) {
            }
            return Result<Args...>();
        }
    }

private:
    Body m_body;
    OnError m_onError;
};

template <typename Body, typename OnError> Guarded<Body, OnError> guarded(Body body, OnError onError)
{
    return {std::move(body), std::move(onError)};
}

template <typename Body> auto guarded(Body body)
{
    return guarded(std::move(body), tellUnexpected);
}
