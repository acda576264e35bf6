#include "diag/Debug.h"

#include "base/Logging.h"

#include "outside/ILogSink.h"
#include "outside/Require.h"

#include <QLocale>
#include <QTime>

#include <memory>
#include <random>
#include <utility>

namespace {

const QString kStartTemplate = QStringLiteral("START: {ModuleName}, {ProcName} [{TimeStamp}]");
const QString kEndTemplate = QStringLiteral("END: {ModuleName}, {ProcName} [{TimeStamp}]");
const QString kErrorTemplate = QStringLiteral("ERROR: {ModuleName}, {ProcName}, {Message}");
const QString kLogTemplate = QStringLiteral("LOG: {ModuleName}, {ProcName}, {message}");

// What makes the sinks, set where the program is assembled, and the two sinks of the run; created
// on first use, kept until the program ends.
Maker<ILogSink> g_sinkMaker;
std::unique_ptr<ILogSink> g_logger;
std::unique_ptr<ILogSink> g_timingLogger;

ILogSink& sink(std::unique_ptr<ILogSink>& slot, const char* name)
{
    if (!slot) {
        slot = make(g_sinkMaker);
        require(slot->setLoggerName(QString::fromLatin1(name)), *slot, "setLoggerName");
    }
    return *slot;
}

} // namespace

namespace Debug {

ILogSink& GetLogger()
{
    return sink(g_logger, "Legacy.TS6Satchel");
}

ILogSink& GetTimingLogger()
{
    return sink(g_timingLogger, "Legacy.Timing.TS6Satchel");
}

Maker<ILogSink> useLogSinks(Maker<ILogSink> maker)
{
    resetSinks();
    return std::exchange(g_sinkMaker, std::move(maker));
}

void resetSinks()
{
    g_logger.reset();
    g_timingLogger.reset();
}

QString NewTraceId()
{
    // Reseeded from the clock on every call, as the id is a correlation token, not a unique key.
    std::mt19937 generator(static_cast<std::mt19937::result_type>(
        std::random_device{}() ^ static_cast<unsigned>(QTime::currentTime().msecsSinceStartOfDay())));
    const float seconds = static_cast<float>(QTime::currentTime().msecsSinceStartOfDay()) / 1000.0f;
    const double r = std::uniform_real_distribution<double>(0.0, 1.0)(generator);
    const long n = static_cast<long>(r * 10000.0 + 1.0);
    // Three decimals with the user's decimal separator, no digit grouping.
    QString formatted = QString::number(static_cast<double>(seconds), 'f', 3);
    formatted.replace(QLatin1Char('.'), QLocale().decimalPoint());
    return QStringLiteral("ID_") + formatted + QLatin1Char('_') + QString::number(n);
}

QString LogStart(const QString& moduleName, const QString& procName)
{
    const QString id = NewTraceId();
    ILogSink& timing = GetTimingLogger();
    require(timing.writeTiming(kStartTemplate, moduleName, procName, id), timing, "writeTiming");
    return id;
}

void LogEnd(const QString& moduleName, const QString& procName, const QString& traceId)
{
    ILogSink& timing = GetTimingLogger();
    require(timing.writeTiming(kEndTemplate, moduleName, procName, traceId), timing, "writeTiming");
}

QString composeErrorText(const QString& description, std::int32_t number, const QString& source)
{
    QString text = QStringLiteral("Runtime error occurred: ");
    if (number != 0)
        text += QString::number(number) + QStringLiteral(" : ");
    text += description;
    if (!source.isEmpty())
        text += QStringLiteral(" Source: ") + source;
    return text;
}

void LogError(const QString& moduleName, const QString& procName, const QString& description,
              std::int32_t number, const QString& source)
{
    const QString text = composeErrorText(description, number, source);
    qCDebug(lcDiag) << "error in" << moduleName << procName << ":" << text;
    ILogSink& general = GetLogger();
    require(general.writeError(kErrorTemplate, moduleName, procName, text), general, "writeError");
}

void LogMessage(const QString& moduleName, const QString& procName, const QVariant& message)
{
    const QString text = message.toString();
    ILogSink& general = GetLogger();
    require(general.writeMessage(kLogTemplate, moduleName, procName, text), general, "writeMessage");
}

} // namespace Debug
