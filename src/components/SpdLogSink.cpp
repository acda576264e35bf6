#include "components/SpdLogSink.h"

#include "base/CHandle.h"
#include "platform/HostName.h"
#include "platform/UserFolders.h"

#include <QDir>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr off_t kRotateBytes = 5 * 1024 * 1024;
// The file and its rotated copies, newest first: TS6Satchel.log, TS6Satchel.1.log ... .3.log.
constexpr std::array<const char*, 4> kFiles{"TS6Satchel.log", "TS6Satchel.1.log", "TS6Satchel.2.log",
                                            "TS6Satchel.3.log"};

bool usableFolder(const QString& folder)
{
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return false;
    return ::access(HostName::Encode(folder).constData(), W_OK | X_OK) == 0;
}

// Holds an exclusive lock on the log folder for its lifetime. Every run of the program that
// writes the trace takes it around the size check, the rotation and the write, so two runs never
// rotate the same file. Where the file system has no such locks, entries go unlocked.
class FolderLock
{
public:
    explicit FolderLock(int folderFd) : m_fd(folderFd)
    {
        while (::flock(m_fd, LOCK_EX) != 0)
            if (errno != EINTR) {
                m_fd = -1;
                break;
            }
    }
    ~FolderLock()
    {
        if (m_fd >= 0)
            ::flock(m_fd, LOCK_UN);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int m_fd;
};

// The trace file that every run of the program shares. Each entry is appended under the folder
// lock after a look at the file now at the name: when another run has rotated it, this run
// re-opens the new file; when the file is full, this run rotates it. So runs writing at once
// rotate it once, and no entry and no older file is lost.
class SharedRotatingFile final : public spdlog::sinks::base_sink<std::mutex>
{
public:
    explicit SharedRotatingFile(const QString& folder) : m_folder(HostName::Encode(folder))
    {
        m_folderFd.reset(::open(m_folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!m_folderFd)
            spdlog::throw_spdlog_ex("cannot open the log folder", errno);
        m_fd.reset(::open(path(0).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
        if (!m_fd)
            spdlog::throw_spdlog_ex("cannot open the trace file", errno);
    }

protected:
    void sink_it_(const spdlog::details::log_msg& message) override
    {
        spdlog::memory_buf_t line;
        formatter_->format(message, line);
        const FolderLock lock(m_folderFd.get());
        struct stat named
        {};
        struct stat open
        {};
        if (::stat(path(0).constData(), &named) != 0 || ::fstat(m_fd.get(), &open) != 0 ||
            named.st_ino != open.st_ino || named.st_dev != open.st_dev) {
            reopen(); // another run rotated the file, or it was removed
            ::fstat(m_fd.get(), &open);
        }
        if (open.st_size > 0 && open.st_size + static_cast<off_t>(line.size()) > kRotateBytes) {
            rotate();
            reopen();
        }
        writeAll(line.data(), line.size());
    }
    void flush_() override {} // every entry is written through at once

private:
    QByteArray path(size_t index) const { return m_folder + '/' + kFiles[index]; }

    void reopen()
    {
        m_fd.reset(); // the old one first: errno below is the open's
        m_fd.reset(::open(path(0).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
        if (!m_fd)
            spdlog::throw_spdlog_ex("cannot open the trace file", errno);
    }

    void rotate() const
    {
        for (size_t i = kFiles.size() - 1; i > 0; --i)
            ::rename(path(i - 1).constData(), path(i).constData());
    }

    void writeAll(const char* data, size_t size) const
    {
        while (size > 0) {
            const ssize_t written = ::write(m_fd.get(), data, size);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                spdlog::throw_spdlog_ex("cannot write the trace file", errno);
            data += written;
            size -= static_cast<size_t>(written);
        }
    }

    QByteArray m_folder;
    UniqueFd m_folderFd;
    UniqueFd m_fd;
};

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
        if (!folder.isEmpty())
            made = std::make_shared<SharedRotatingFile>(folder);
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
    const QString state = UserFolders::StateHome();
    const QString userLogs = state + QStringLiteral("/Norvale/TS6/logs");
    return !state.isEmpty() && usableFolder(userLogs) ? userLogs : QString();
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
