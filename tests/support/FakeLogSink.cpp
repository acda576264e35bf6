#include "support/FakeLogSink.h"

#include "diag/Debug.h"

bool FakeLogSink::SetLoggerName(const QString& name)
{
    m_name = name;
    return true;
}

bool FakeLogSink::add(const QString& t, const QString& m, const QString& p, const QString& v)
{
    if (m_record->failWrites)
        return false;
    m_record->entries.append(m_name + QLatin1Char('|') + t + QLatin1Char('|') + m + QLatin1Char('|') + p +
                             QLatin1Char('|') + v);
    return true;
}

bool FakeLogSink::WriteMessage(const QString& t, const QString& m, const QString& p, const QString& v)
{
    return add(t, m, p, v);
}

bool FakeLogSink::WriteError(const QString& t, const QString& m, const QString& p, const QString& v)
{
    return add(t, m, p, v);
}

bool FakeLogSink::WriteTiming(const QString& t, const QString& m, const QString& p, const QString& v)
{
    return add(t, m, p, v);
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
