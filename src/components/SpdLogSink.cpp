#include "components/SpdLogSink.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <mutex>
#include <unistd.h>

namespace {

constexpr std::size_t kRotateBytes = 5 * 1024 * 1024;
constexpr std::size_t kRotateFiles = 3;

bool usableFolder(const QString& folder)
{
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return false;
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

// The one file sink of the process, shared by both loggers so their lines interleave in order.
std::shared_ptr<spdlog::sinks::sink> sharedSink()
{
    static std::mutex mutex;
    static std::weak_ptr<spdlog::sinks::sink> shared;
    const std::lock_guard lock(mutex);
    if (auto existing = shared.lock())
        return existing;
    std::shared_ptr<spdlog::sinks::sink> made;
    const QString folder = SpdLogSink::ChooseFolder();
    try {
        if (!folder.isEmpty()) {
            const std::string file =
                QFile::encodeName(folder + QStringLiteral("/TS6Satchel.log")).toStdString();
            made = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(file, kRotateBytes, kRotateFiles);
        }
    } catch (const spdlog::spdlog_ex&) {
        made.reset();
    }
    if (!made)
        made = std::make_shared<spdlog::sinks::stderr_sink_mt>();
    made->set_pattern("%Y-%m-%d %H:%M:%S.%e %n %v");
    shared = made;
    return made;
}

} // namespace

SpdLogSink::SpdLogSink() = default;
SpdLogSink::~SpdLogSink() = default;

QString SpdLogSink::ChooseFolder()
{
    const QString configured = qEnvironmentVariable("TS6_LOG_DIR");
    if (!configured.isEmpty())
        return usableFolder(configured) ? configured : QString();
    const QString dataRoot = qEnvironmentVariable("TS6_PROGRAMDATA", QStringLiteral("/var/lib"));
    const QString productLogs = dataRoot + QStringLiteral("/Norvale/TS6/logs");
    if (usableFolder(productLogs))
        return productLogs;
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty())
        state = QDir::homePath() + QStringLiteral("/.local/state");
    const QString userLogs = state + QStringLiteral("/Norvale/TS6/logs");
    return usableFolder(userLogs) ? userLogs : QString();
}

QString SpdLogSink::FillTemplate(const QString& entryTemplate, const QString& first, const QString& second,
                                 const QString& third)
{
    const QString* values[] = {&first, &second, &third};
    QString out;
    out.reserve(entryTemplate.size() + first.size() + second.size() + third.size());
    int next = 0;
    for (qsizetype i = 0; i < entryTemplate.size(); ++i) {
        const qsizetype close = entryTemplate.at(i) == QLatin1Char('{') && next < 3
                                    ? entryTemplate.indexOf(QLatin1Char('}'), i + 1)
                                    : -1;
        if (close < 0) {
            out += entryTemplate.at(i);
            continue;
        }
        out += *values[next++];
        i = close;
    }
    return out;
}

bool SpdLogSink::SetLoggerName(const QString& name)
{
    try {
        m_logger = std::make_shared<spdlog::logger>(name.toStdString(), sharedSink());
        m_logger->set_level(spdlog::level::trace);
        m_logger->flush_on(spdlog::level::trace);
        return true;
    } catch (const std::exception& e) {
        m_lastError = QString::fromLocal8Bit(e.what());
        return false;
    }
}

bool SpdLogSink::write(const QString& entryTemplate, const QString& module, const QString& procedure,
                       const QString& value)
{
    if (!m_logger) {
        m_lastError = QStringLiteral("The log sink has no logger name");
        return false;
    }
    const std::string line = FillTemplate(entryTemplate, module, procedure, value).toStdString();
    m_logger->log(spdlog::level::info, spdlog::string_view_t(line));
    return true;
}

bool SpdLogSink::WriteMessage(const QString& entryTemplate, const QString& module, const QString& procedure,
                              const QString& text)
{
    return write(entryTemplate, module, procedure, text);
}

bool SpdLogSink::WriteError(const QString& entryTemplate, const QString& module, const QString& procedure,
                            const QString& text)
{
    return write(entryTemplate, module, procedure, text);
}

bool SpdLogSink::WriteTiming(const QString& entryTemplate, const QString& module, const QString& procedure,
                             const QString& traceId)
{
    return write(entryTemplate, module, procedure, traceId);
}
