#include "components/SpdLogSink.h"

#include "base/CHandle.h"
#include "outside/Interruption.h"
#include "platform/HostName.h"
#include "platform/UserFolders.h"

#include <QDir>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <array>
#include <cerrno>
#include <ctime>
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
    return ::access(HostName::encode(folder).constData(), W_OK | X_OK) == 0;
}

// How long an entry waits for the trace's lock. Runs of this program hold it for the moment an
// entry takes; one held longer is another program's (a backup copying the folder): the entry is
// then written without it rather than holding up the run, and later entries of the run only try
// the lock, without waiting. A stop signal ends the wait at once.
constexpr int kLockTries = 40;
constexpr long kLockPauseNanoseconds = 25'000'000;

// Holds an exclusive lock on the trace file for its lifetime, when it can be had in time. waiting
// tells whether to wait; it becomes false when the wait ran out.
class TraceLock
{
public:
    TraceLock(int fd, bool& waiting)
    {
        for (int tries = 0; tries < (waiting ? kLockTries : 1); ++tries) {
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                m_fd = fd;
                return;
            }
            if ((errno != EWOULDBLOCK && errno != EINTR) || Interruption::requested() != 0)
                return; // no such locks here, or the run is to end: the entry goes unlocked
            const timespec pause{0, kLockPauseNanoseconds};
            ::nanosleep(&pause, nullptr);
        }
        waiting = false;
    }
    ~TraceLock()
    {
        if (m_fd >= 0)
            ::flock(m_fd, LOCK_UN);
    }
    TraceLock(const TraceLock&) = delete;
    TraceLock& operator=(const TraceLock&) = delete;

private:
    int m_fd = -1;
};

// The trace file that every run of the program shares. Each entry is appended under the lock of
// the file now at the name: a run that finds the name moved on (another run rotated the file)
// opens the new file and locks that; a run that finds the file full rotates it. So runs writing at
// once rotate it once, and no entry and no older file is lost. Only the trace file itself is held
// open, one descriptor for the whole run.
class SharedRotatingFile final : public spdlog::sinks::base_sink<std::mutex>
{
public:
    explicit SharedRotatingFile(const QString& folder) : m_folder(HostName::encode(folder)), m_fd(openTrace())
    {}

    QStringList files() const
    {
        QStringList paths;
        for (size_t i = 0; i < kFiles.size(); ++i)
            paths.append(HostName::decode(path(i).constData()));
        return paths;
    }

protected:
    void sink_it_(const spdlog::details::log_msg& message) override
    {
        spdlog::memory_buf_t line;
        formatter_->format(message, line);
        // Another run may have rotated the file (or it was removed): the new one is opened and
        // locked in its turn. Past two turns the entry goes to the file at hand.
        for (int turn = 0; !writeLocked(line, turn < 2); ++turn)
            m_fd = openTrace();
    }
    void flush_() override {} // every entry is written through at once

private:
    QByteArray path(size_t index) const { return m_folder + '/' + kFiles[index]; }

    bool stillNamed() const
    {
        struct stat named
        {};
        struct stat open
        {};
        return ::stat(path(0).constData(), &named) == 0 && ::fstat(m_fd.get(), &open) == 0 &&
               named.st_ino == open.st_ino && named.st_dev == open.st_dev;
    }

    // Appends the line under the lock of the file held; false (nothing written) when, asked to
    // check, the file held is no longer the one at the name. A full file is rotated first, and the
    // line goes to the new file, which is this run's alone until the lock on the old one goes.
    bool writeLocked(const spdlog::memory_buf_t& line, bool checkName)
    {
        UniqueFd next;
        {
            const TraceLock lock(m_fd.get(), m_waitForLock);
            if (checkName && !stillNamed())
                return false;
            struct stat open
            {};
            ::fstat(m_fd.get(), &open);
            if (open.st_size > 0 && open.st_size + static_cast<off_t>(line.size()) > kRotateBytes) {
                rotate();
                next = openTrace();
            }
            writeAll(next ? next.get() : m_fd.get(), line.data(), line.size());
        }
        if (next)
            m_fd = std::move(next);
        return true;
    }

    // The trace file, only ever a file of its own: a link or a second name planted at its name
    // (in a log folder others may write to) would have a root run append to the file it leads to,
    // and a named pipe would hold up every run. Such a file is refused, and the trace goes to
    // standard error.
    UniqueFd openTrace() const
    {
        UniqueFd fd(::open(path(0).constData(),
                           O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                           0644));
        if (!fd)
            spdlog::throw_spdlog_ex("cannot open the trace file", errno);
        struct stat st
        {};
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1)
            spdlog::throw_spdlog_ex("the trace file is not a file of its own");
        return fd;
    }

    void rotate() const
    {
        for (size_t i = kFiles.size() - 1; i > 0; --i)
            ::rename(path(i - 1).constData(), path(i).constData());
    }

    static void writeAll(int fd, const char* data, size_t size)
    {
        while (size > 0) {
            const ssize_t written = ::write(fd, data, size);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                spdlog::throw_spdlog_ex("cannot write the trace file", errno);
            data += written;
            size -= static_cast<size_t>(written);
        }
    }

    QByteArray m_folder;
    UniqueFd m_fd;
    bool m_waitForLock = true; // false once another program held the lock past the wait
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
    const QString folder = SpdLogSink::chooseFolder();
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

QString SpdLogSink::chooseFolder()
{
    const QString configured = qEnvironmentVariable("TS6_LOG_DIR");
    if (!configured.isEmpty())
        return usableFolder(configured) ? configured : QString();
    const QString dataRoot = qEnvironmentVariable("TS6_PROGRAMDATA", QStringLiteral("/var/lib"));
    const QString productLogs = dataRoot + QStringLiteral("/Norvale/TS6/logs");
    if (usableFolder(productLogs))
        return productLogs;
    const QString state = UserFolders::stateHome();
    const QString userLogs = state + QStringLiteral("/Norvale/TS6/logs");
    return !state.isEmpty() && usableFolder(userLogs) ? userLogs : QString();
}

QString SpdLogSink::fillTemplate(const QString& entryTemplate, const QString& first, const QString& second,
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

QStringList SpdLogSink::files() const
{
    if (!m_logger || m_logger->sinks().empty())
        return {};
    const auto* file = dynamic_cast<const SharedRotatingFile*>(m_logger->sinks().front().get());
    return file ? file->files() : QStringList();
}

bool SpdLogSink::setLoggerName(const QString& name)
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
    const std::string line = fillTemplate(entryTemplate, module, procedure, value).toStdString();
    m_logger->log(spdlog::level::info, spdlog::string_view_t(line));
    return true;
}

bool SpdLogSink::writeMessage(const QString& entryTemplate, const QString& module, const QString& procedure,
                              const QString& text)
{
    return write(entryTemplate, module, procedure, text);
}

bool SpdLogSink::writeError(const QString& entryTemplate, const QString& module, const QString& procedure,
                            const QString& text)
{
    return write(entryTemplate, module, procedure, text);
}

bool SpdLogSink::writeTiming(const QString& entryTemplate, const QString& module, const QString& procedure,
                             const QString& traceId)
{
    return write(entryTemplate, module, procedure, traceId);
}
