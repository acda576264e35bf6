#pragma once

#include "outside/Component.h"

#include <QStringList>

// Receives the trace entries: a template with three placeholders and the three values for them.
class ILogSink : public Component
{
public:
    static constexpr char ClassId[] = "Norvale.LogSink";

    virtual bool setLoggerName(const QString& name) = 0;
    virtual bool writeMessage(const QString& entryTemplate, const QString& module, const QString& procedure,
                              const QString& text) = 0;
    virtual bool writeError(const QString& entryTemplate, const QString& module, const QString& procedure,
                            const QString& text) = 0;
    virtual bool writeTiming(const QString& entryTemplate, const QString& module, const QString& procedure,
                             const QString& traceId) = 0;

    // The host paths of the files the sink writes (the trace and the copies it rotates into), so
    // that no package is ever written in their place; none when it writes no file.
    virtual QStringList files() const { return {}; }
};
