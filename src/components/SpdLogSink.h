#pragma once

#include "outside/ILogSink.h"

#include <memory>

namespace spdlog {
class logger;
}

// The trace on disk: "TS6Satchel.log", one line per entry with local time and logger name,
// written through at once, rotated at 5 MB keeping three older files. Both loggers of a run share
// one file, and runs that write it at once rotate it once, losing no entry.
class SpdLogSink final : public ILogSink
{
public:
    SpdLogSink();
    ~SpdLogSink() override;

    bool setLoggerName(const QString& name) override;
    bool writeMessage(const QString& entryTemplate, const QString& module, const QString& procedure,
                      const QString& text) override;
    bool writeError(const QString& entryTemplate, const QString& module, const QString& procedure,
                    const QString& text) override;
    bool writeTiming(const QString& entryTemplate, const QString& module, const QString& procedure,
                     const QString& traceId) override;
    QString lastError() const override { return m_lastError; }
    QStringList files() const override;

    // The folder the trace goes to: TS6_LOG_DIR, else the product's log folder under the common
    // application data when it exists or can be made and is writable, else the user's state folder.
    static QString chooseFolder();
    // Fills the template's placeholders ("{...}") in order with the three values.
    static QString fillTemplate(const QString& entryTemplate, const QString& first, const QString& second,
                                const QString& third);

private:
    bool write(const QString& entryTemplate, const QString& module, const QString& procedure,
               const QString& value);

    std::shared_ptr<spdlog::logger> m_logger;
    QString m_lastError;
};
