#include "support/FakeLogSink.h"

#include "diag/Debug.h"

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
    : m_override(QString::fromLatin1(ILogSink::ClassId), [r = record] {
          ++r->created;
          return std::make_unique<FakeLogSink>(r);
      })
{
    Debug::ResetSinks();
}

FakeLogInstalled::~FakeLogInstalled()
{
    Debug::ResetSinks();
}
