#pragma once

#include "outside/ComponentMakers.h"

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

// Puts the fake in place of the log sink while it lives, with the trace sinks started afresh.
class FakeLogInstalled
{
public:
    FakeLogInstalled();
    ~FakeLogInstalled();
    std::shared_ptr<LogRecord> record = std::make_shared<LogRecord>();

private:
    Maker<ILogSink> m_previous;
};
