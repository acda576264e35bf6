#pragma once

#include "outside/ComponentMakers.h"

#include <QString>
#include <QVariant>

#include <cstdint>

// The program's trace: START and END entries around the traced procedures (timing sink), LOG
// and ERROR entries (general sink). Both sinks are created on first use and kept for the run.
namespace Debug {

QString LogStart(const QString& moduleName, const QString& procName);
void LogEnd(const QString& moduleName, const QString& procName, const QString& traceId);
void LogError(const QString& moduleName, const QString& procName, const QString& description,
              std::int32_t number, const QString& source);
void LogMessage(const QString& moduleName, const QString& procName, const QVariant& message);

QString NewTraceId();
ILogSink& GetLogger();
ILogSink& GetTimingLogger();

// "Runtime error occurred: " [number " : "] description [" Source: " source]
QString composeErrorText(const QString& description, std::int32_t number, const QString& source);

// Sets what makes the two sinks from now on, with both started afresh; returns what made them.
Maker<ILogSink> useLogSinks(Maker<ILogSink> maker);

// Forgets both sinks, so the next entry creates them again. Tests only: a run keeps its sinks.
void resetSinks();

} // namespace Debug
