#include "support/FakeLogSink.h"

#include "diag/Debug.h"
#include "outside/ILogSink.h"

namespace {

// A sink that adds each entry to the record, or fails every write when the record says so.
class FakeLogSink final : public ILogSink
{
public:
    explicit FakeLogSink(std::shared_ptr<LogRecord> record) : m_record(std::move(record)) {}

    using Text = const QString&;
    bool setLoggerName(Text name) override
    {
        m_name = name;
        return true;
    }
    bool writeMessage(Text t, Text m, Text p, Text v) override { return add({m_name, t, m, p, v}); }
    bool writeError(Text t, Text m, Text p, Text v) override { return add({m_name, t, m, p, v}); }
    bool writeTiming(Text t, Text m, Text p, Text v) override { return add({m_name, t, m, p, v}); }

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

} // namespace

QStringList LogRecord::lines() const
{
    QStringList lines;
    for (const QString& entry : entries) {
        const QStringList parts = entry.split(QLatin1Char('|'));
        QString line = parts.at(1);
        line.replace(QLatin1String("{ModuleName}"), parts.at(2))
            .replace(QLatin1String("{ProcName}"), parts.at(3));
        line.replace(QLatin1String(" [{TimeStamp}]"), QString()); // the trace id pairs entries, no more
        const QString value = entry.section(QLatin1Char('|'), 4);
        lines.append(
            line.replace(QLatin1String("{message}"), value).replace(QLatin1String("{Message}"), value));
    }
    return lines;
}

FakeLogInstalled::FakeLogInstalled()
    : m_previous(Debug::useLogSinks([r = record]() -> std::unique_ptr<ILogSink> {
          ++r->created;
          return std::make_unique<FakeLogSink>(r);
      }))
{}

FakeLogInstalled::~FakeLogInstalled()
{
    Debug::useLogSinks(std::move(m_previous));
}
