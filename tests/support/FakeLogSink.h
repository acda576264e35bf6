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

    // The entries as the trace file shows them, without trace ids: "START: frmSatchel, LoadGrid",
    // "LOG: frmSatchel, LoadGrid, Log file found: C:\A.LOG".
    QStringList lines() const;
};

class FakeLogSink final : public ILogSink
{
public:
    explicit FakeLogSink(std::shared_ptr<LogRecord> record) : m_record(std::move(record)) {}

    bool SetLoggerName(const QString& name) override
    {
        m_name = name;
        return true;
    }
    bool WriteMessage(const QString& t, const QString& m, const QString& p, const QString& v) override
    {
        return add({m_name, t, m, p, v});
    }
    bool WriteError(const QString& t, const QString& m, const QString& p, const QString& v) override
    {
        return add({m_name, t, m, p, v});
    }
    bool WriteTiming(const QString& t, const QString& m, const QString& p, const QString& v) override
    {
        return add({m_name, t, m, p, v});
    }

private:
    bool add(const QStringList& parts)
    {
        if (!m_record->failWrites)
            m_record->entries.append(parts.join(QLatin1Char('|')));
        return !m_record->failWrites;
    }
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
