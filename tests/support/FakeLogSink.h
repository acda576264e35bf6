#pragma once

#include "outside/ILogSink.h"
#include "outside/Registry.h"

#include <QStringList>

#include <memory>

// Records what the trace hands to its sinks: "<logger>|<template>|<module>|<procedure>|<value>".
struct LogRecord
{
    QStringList entries;
    int created = 0;
    bool failWrites = false;
};

class FakeLogSink final : public ILogSink
{
public:
    explicit FakeLogSink(std::shared_ptr<LogRecord> record) : m_record(std::move(record)) {}

    bool SetLoggerName(const QString& name) override;
    bool WriteMessage(const QString& t, const QString& m, const QString& p, const QString& v) override;
    bool WriteError(const QString& t, const QString& m, const QString& p, const QString& v) override;
    bool WriteTiming(const QString& t, const QString& m, const QString& p, const QString& v) override;

private:
    bool add(const QString& t, const QString& m, const QString& p, const QString& v);
    std::shared_ptr<LogRecord> m_record;
    QString m_name;
};

// Puts the fake in place of the log sink while it lives, with the trace sinks started afresh.
class FakeLogInstalled
{
public:
    FakeLogInstalled();
    ~FakeLogInstalled();
    std::shared_ptr<LogRecord> record = std::make_shared<LogRecord>();

private:
    Registry::ScopedOverride m_override;
};
