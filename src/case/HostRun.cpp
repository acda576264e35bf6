#include "case/HostRun.h"

#include "base/Logging.h"
#include "base/ShownText.h"
#include "platform/FileReplacement.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStorageInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kCloseMs = 800;             // for the master to end once asked, then it is stopped
constexpr int kInterruptCleanUpMs = 1000; // for removing the remote folder after an interrupt
constexpr int kCleanUpSeconds = 20;
constexpr qint64 kMaxSaid = 1 << 20; // bytes a server may say on one step, or of the master's debugging //
                                     // for removing the remote folder
constexpr char kReady[] = "ts6satchel-ready";

QStringList commonArguments(const HostJob& job)
{
    QStringList args{QStringLiteral("-S"),
                     job.controlPath,
                     QStringLiteral("-o"),
                     QStringLiteral("BatchMode=yes"),
                     QStringLiteral("-o"),
                     QStringLiteral("StrictHostKeyChecking=") + (job.options.acceptNewHostKeys
                                                                     ? QStringLiteral("accept-new")
                                                                     : QStringLiteral("yes")),
                     QStringLiteral("-o"),
                     QStringLiteral("ConnectTimeout=%1").arg(job.options.connectTimeoutSeconds),
                     QStringLiteral("-o"),
                     QStringLiteral("ServerAliveInterval=10"),
                     QStringLiteral("-o"),
                     QStringLiteral("ServerAliveCountMax=3")};
    if (!job.options.sshConfig.isEmpty())
        args << QStringLiteral("-F") << job.options.sshConfig;
    return args;
}

QString fingerprintIn(const QByteArray& errors)
{
    static const QRegularExpression line(QStringLiteral("Server host key: (\\S+ \\S+)"));
    return line.match(QString::fromUtf8(errors)).captured(1);
}

// Makes the file at part durable and renames it to final, in the same folder.
bool commitFile(const QString& part, const QString& final)
{
    const int fd = ::open(QFile::encodeName(part).constData(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    return synced && ::rename(QFile::encodeName(part).constData(), QFile::encodeName(final).constData()) == 0;
}

QString humanBytes(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

} // namespace

QString sshDestination(const QString& host)
{
    // host:port (one colon, or a bracketed address) goes as a URI, which ssh reads with its port.
    const bool bracketed = host.contains(QLatin1String("]:"));
    if (host.count(QLatin1Char(':')) == 1 || bracketed)
        return QStringLiteral("ssh://") + host;
    return host;
}

QString shellQuoted(const QString& word)
{
    QString quoted = word;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QStringList masterArguments(const HostJob& job)
{
    return commonArguments(job) + QStringList{QStringLiteral("-M"),
                                              QStringLiteral("-N"),
                                              QStringLiteral("-v"),
                                              QStringLiteral("-o"),
                                              QStringLiteral("ControlPersist=no"),
                                              QStringLiteral("-o"),
                                              QStringLiteral("PermitLocalCommand=yes"),
                                              QStringLiteral("-o"),
                                              QStringLiteral("LocalCommand=echo ") + QLatin1String(kReady),
                                              QStringLiteral("--"),
                                              sshDestination(job.entry.host)};
}

QStringList commandArguments(const HostJob& job, const QString& remoteCommand)
{
    return commonArguments(job) +
           QStringList{QStringLiteral("-o"), QStringLiteral("ControlMaster=no"), QStringLiteral("-T"),
                       QStringLiteral("--"), sshDestination(job.entry.host),     remoteCommand};
}

QString remoteBuildCommand(const HostJob& job)
{
    const QString target = job.entry.folder.isEmpty() ? job.target : job.entry.folder;
    // The build's own temporary files (the manifest) go into the private folder too.
    QStringList build{QStringLiteral("env"), QStringLiteral("TMPDIR=\"$d\""), QStringLiteral("ts6satchel"),
                      QStringLiteral("--json")};
    for (const QString& option : job.options.buildOptions)
        build << shellQuoted(option);
    build << QStringLiteral("--") << shellQuoted(target) << QStringLiteral("\"$d/package.zip\"");
    // The folder and the build's process (the shell's, which the build replaces) come first, so an
    // interrupted build can be stopped and its folder removed.
    return QStringLiteral("umask 077 && d=$(mktemp -d \"${TMPDIR:-/tmp}/ts6collect.XXXXXXXX\") && "
                          "printf 'TS6DIR %s %s\\n' \"$$\" \"$d\" && exec ") +
           (job.options.sudo ? QStringLiteral("sudo -n ") : QString()) + build.join(QLatin1Char(' '));
}

HostRun::HostRun(HostJob job, QObject* parent) : QObject(parent), m_job(std::move(job))
{
    m_record.host = m_job.entry.host;
    m_record.folder = m_job.entry.folder;
    m_deadline.setSingleShot(true);
    m_connectDeadline.setSingleShot(true);
    m_closeDeadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        fail(HostState::Timeout, QStringLiteral("not done within %1 s").arg(m_job.options.timeoutSeconds));
    });
    connect(&m_connectDeadline, &QTimer::timeout, this, [this] {
        if (!m_masterReady)
            fail(HostState::Timeout,
                 QStringLiteral("no connection within %1 s").arg(m_job.options.connectTimeoutSeconds));
    });
    m_sizeWatch.setInterval(250);
    connect(&m_sizeWatch, &QTimer::timeout, this, [this] {
        if (bytesFetched() > m_expected)
            fail(HostState::Corrupt,
                 QStringLiteral("more than the %1 bytes of the remote build arrived").arg(m_expected));
    });
    connect(&m_closeDeadline, &QTimer::timeout, this, [this] {
        m_master.kill();
        if (m_closer)
            m_closer->kill();
    });
    connect(&m_master, &QProcess::readyReadStandardOutput, this, &HostRun::masterSaid);
    connect(&m_master, &QProcess::readyReadStandardError, this, [this] {
        const QByteArray said = m_master.readAllStandardError();
        if (m_masterErrors.size() < kMaxSaid)
            m_masterErrors += said;
    });
    connect(&m_master, &QProcess::finished, this, &HostRun::masterEnded);
    connect(&m_master, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            masterEnded();
    });
}

HostRun::~HostRun()
{
    // A run torn down early leaves no process behind.
    for (QProcess* p : {&m_master, m_step.data(), m_closer.data()})
        if (p && p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished(1000);
        }
}

double HostRun::seconds() const
{
    return m_startedMs == 0 ? 0 : (QDateTime::currentMSecsSinceEpoch() - m_startedMs) / 1000.0;
}

void HostRun::setPhase(const QString& phase)
{
    m_phase = phase;
    Q_EMIT changed();
}

void HostRun::note(const QString& text)
{
    m_log += QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8() + ' ' + text.toUtf8();
    if (!m_log.endsWith('\n'))
        m_log += '\n';
}

void HostRun::start()
{
    m_startedMs = QDateTime::currentMSecsSinceEpoch();
    m_deadline.start(m_job.options.timeoutSeconds * 1000);
    startMaster();
}

void HostRun::startMaster()
{
    setPhase(QStringLiteral("connecting"));
    const QStringList args = masterArguments(m_job);
    note(QStringLiteral("== connecting: ssh ") + args.join(QLatin1Char(' ')));
    // Ssh's own connect timeout ends the TCP connection and the greeting; the login has as long again.
    m_connectDeadline.start(m_job.options.connectTimeoutSeconds * 2000 + 5000);
    m_master.setStandardInputFile(QProcess::nullDevice());
    m_master.start(m_job.ssh, args);
}

void HostRun::masterSaid()
{
    const QByteArray said = m_master.readAllStandardOutput();
    if (m_masterReady || !said.contains(kReady))
        return;
    m_masterReady = true;
    m_connectDeadline.stop();
    m_record.fingerprint = fingerprintIn(m_masterErrors);
    note(QStringLiteral("connected; host key ") + m_record.fingerprint);
    checkVersion();
}

void HostRun::masterEnded()
{
    m_masterErrors += m_master.readAllStandardError();
    note(QStringLiteral("== ssh (the master connection) said:\n") + QString::fromUtf8(m_masterErrors));
    m_masterErrors.clear();
    if (m_closing) {
        end();
        return;
    }
    if (m_master.error() == QProcess::FailedToStart) {
        fail(HostState::Unreachable,
             QStringLiteral("cannot start %1: %2").arg(m_job.ssh, m_master.errorString()));
        return;
    }
    const QString said = QString::fromUtf8(m_log);
    if (!m_masterReady)
        fail(classifyConnectionFailure(said), lastWords(said));
    else
        fail(HostState::Unreachable, QStringLiteral("the connection was lost: ") + lastWords(said));
}

QString HostRun::sudo() const
{
    return m_job.options.sudo ? QStringLiteral("sudo -n ") : QString();
}

void HostRun::run(const QString& step, const QString& remoteCommand, Done done, const QString& outputFile)
{
    const QStringList args = commandArguments(m_job, remoteCommand);
    note(QStringLiteral("== ") + step + QStringLiteral(": ") + remoteCommand);
    auto* process = new QProcess(this);
    m_step = process;
    process->setStandardInputFile(QProcess::nullDevice());
    if (!outputFile.isEmpty())
        process->setStandardOutputFile(outputFile, QIODevice::Truncate);
    // What a server says on one step is read to its end only up to a limit.
    const auto tooMuch = [this, process, step] {
        process->setReadChannel(QProcess::StandardError);
        const qint64 errors = process->bytesAvailable();
        process->setReadChannel(QProcess::StandardOutput);
        if (m_step == process && std::max(errors, process->bytesAvailable()) > kMaxSaid)
            fail(HostState::RemoteFailed,
                 QStringLiteral("the server said more than %1 bytes at the step %2").arg(kMaxSaid).arg(step));
    };
    connect(process, &QProcess::readyReadStandardOutput, this, tooMuch);
    connect(process, &QProcess::readyReadStandardError, this, tooMuch);
    connect(process, &QProcess::finished, this,
            [this, process, done](int exitCode, QProcess::ExitStatus status) {
                const QByteArray out = process->readAllStandardOutput();
                const QString errors = QString::fromUtf8(process->readAllStandardError());
                if (!errors.isEmpty())
                    note(errors);
                process->deleteLater();
                if (m_step != process)
                    return; // stopped on purpose: its end says nothing
                m_step = nullptr;
                done(status == QProcess::NormalExit ? exitCode : 255, out, errors);
            });
    process->start(m_job.ssh, args);
}

bool HostRun::connectionLost(int exitCode, const QString& errors)
{
    if (exitCode != 255)
        return false;
    fail(classifyConnectionFailure(errors), QStringLiteral("the connection was lost: ") + lastWords(errors));
    return true;
}

void HostRun::checkVersion()
{
    setPhase(QStringLiteral("checking"));
    run(QStringLiteral("version"), sudo() + QStringLiteral("ts6satchel --version"),
        [this](int exitCode, const QByteArray& out, const QString& errors) {
            if (connectionLost(exitCode, errors))
                return;
            if (m_job.options.sudo && errors.contains(QLatin1String("sudo:")))
                return fail(HostState::Sudo, lastWords(errors));
            if (exitCode == 127 || exitCode == 126)
                return fail(HostState::ToolMissing,
                            QStringLiteral("no ts6satchel on the remote PATH: ") + lastWords(errors));
            const QString line = QString::fromUtf8(out).section(QLatin1Char('\n'), 0, 0).trimmed();
            const std::optional<std::pair<int, int>> version = toolVersion(line);
            if (exitCode != 0 || !version)
                return fail(HostState::RemoteFailed,
                            QStringLiteral("the remote ts6satchel --version said '%1' (status %2)")
                                .arg(line.left(80))
                                .arg(exitCode));
            m_record.version = line.section(QLatin1Char(' '), 1);
            if (*version < m_job.ownVersion)
                return fail(HostState::ToolTooOld,
                            QStringLiteral("ts6satchel %1 there; %2.%3 or later is needed")
                                .arg(m_record.version)
                                .arg(m_job.ownVersion.first)
                                .arg(m_job.ownVersion.second));
            build();
        });
}

void HostRun::build()
{
    setPhase(QStringLiteral("building"));
    run(QStringLiteral("build"), remoteBuildCommand(m_job),
        [this](int exitCode, const QByteArray& out, const QString& errors) {
            m_buildPid.clear();
            QJsonObject summary;
            QList<QByteArray> lines = out.split('\n');
            if (m_remoteDir.isEmpty() && !lines.isEmpty()) // the folder's line came with the rest
                takeFolderLine(lines.takeFirst() + '\n');
            m_buildPid.clear();
            for (const QByteArray& line : lines) {
                if (line.startsWith('{')) {
                    summary = QJsonDocument::fromJson(line).object();
                    note(QStringLiteral("the remote build's summary: ") + QString::fromUtf8(line));
                } else if (!line.isEmpty())
                    note(QString::fromUtf8(line));
            }
            if (connectionLost(exitCode, errors))
                return;
            if (m_job.options.sudo && errors.contains(QLatin1String("sudo:")))
                return fail(HostState::Sudo, lastWords(errors));
            if (exitCode == 127 || exitCode == 126)
                return fail(HostState::ToolMissing, lastWords(errors));
            if (summary.isEmpty())
                return fail(HostState::RemoteFailed,
                            QStringLiteral("the remote build ended with status %1 and no summary: %2")
                                .arg(exitCode)
                                .arg(lastWords(errors)));
            const QString package = summary.value(QStringLiteral("package")).toString();
            if (exitCode != 0 || package.isEmpty()) {
                const QString reason = summary.value(QStringLiteral("reason")).toString();
                return fail(HostState::RemoteFailed, reason.isEmpty() ? lastWords(errors) : reason);
            }
            if (m_remoteDir.isEmpty() || package != m_remoteDir + QStringLiteral("/package.zip"))
                return fail(HostState::RemoteFailed,
                            QStringLiteral("the remote build names a package outside its folder: ") +
                                package);
            fetch(package, summary.value(QStringLiteral("bytes")).toInteger(-1),
                  summary.value(QStringLiteral("sha256")).toString().toLatin1());
        });
    // The first line names the folder and the process; it is the remote shell's, before the build.
    connect(m_step.data(), &QProcess::readyReadStandardOutput, this, [this, process = m_step.data()] {
        if (m_remoteDir.isEmpty() && m_step == process && process->canReadLine())
            takeFolderLine(process->readLine());
    });
}

void HostRun::takeFolderLine(const QByteArray& line)
{
    static const QRegularExpression first(
        QStringLiteral("^TS6DIR (\\d{1,10}) (/\\S*/ts6collect\\.[A-Za-z0-9]{8})\n$"));
    const QRegularExpressionMatch match = first.match(QString::fromUtf8(line));
    if (!match.hasMatch())
        return fail(HostState::RemoteFailed,
                    QStringLiteral("the server's shell did not make a private folder"));
    m_buildPid = match.captured(1);
    m_remoteDir = match.captured(2);
}

void HostRun::fetch(const QString& remotePackage, qint64 size, const QByteArray& sha256)
{
    setPhase(QStringLiteral("fetching"));
    m_expected = size;
    m_expectedSha = sha256;
    const qint64 free = QStorageInfo(m_job.hostDir).bytesAvailable();
    if (size < 0 || (free >= 0 && size > free))
        return fail(HostState::Corrupt,
                    QStringLiteral("the remote build names a package of %1 bytes; %2 bytes are "
                                   "free for it here")
                        .arg(size)
                        .arg(free));
    // Ssh writes the package straight into a file of its own beside the final name: through a pipe
    // the master connection would hand it over in small pieces.
    QFile::remove(partPath());
    const QString command = sudo() + QStringLiteral("cat -- ") + shellQuoted(remotePackage);
    run(
        QStringLiteral("fetch"), command,
        [this](int exitCode, const QByteArray&, const QString& errors) {
            m_sizeWatch.stop();
            fetched(exitCode, errors);
        },
        partPath());
    m_sizeWatch.start();
}

QString HostRun::partPath() const
{
    return m_job.hostDir + QStringLiteral("/.package.zip.part");
}

qint64 HostRun::bytesFetched() const
{
    if (m_record.state == HostState::Collected)
        return m_record.size;
    return m_phase == QLatin1String("fetching") ? QFileInfo(partPath()).size() : 0;
}

void HostRun::fetched(int exitCode, const QString& errors)
{
    if (connectionLost(exitCode, errors))
        return;
    QFile part(partPath());
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!part.open(QIODevice::ReadOnly) || !hash.addData(&part))
        return fail(HostState::Corrupt,
                    QStringLiteral("cannot read %1: %2").arg(part.fileName(), part.errorString()));
    const qint64 arrived = part.size();
    part.seek(0);
    const QByteArray signature = part.read(4);
    part.close();
    const QByteArray sha = hash.result().toHex();
    if (exitCode != 0 || arrived != m_expected)
        return fail(HostState::Corrupt,
                    QStringLiteral("%1 of %2 bytes arrived").arg(arrived).arg(m_expected));
    if (signature != QByteArray("PK\x03\x04", 4) && signature != QByteArray("PK\x05\x06", 4))
        return fail(HostState::Corrupt, QStringLiteral("what arrived is not a zip file"));
    if (sha != m_expectedSha)
        return fail(HostState::Corrupt,
                    QStringLiteral("the SHA-256 of what arrived, %1, is not the remote build's")
                        .arg(QString::fromLatin1(sha)));
    const QString final = m_job.hostDir + QStringLiteral("/package.zip");
    if (!commitFile(partPath(), final))
        return fail(
            HostState::Corrupt,
            QStringLiteral("cannot write %1: %2").arg(final, QString::fromLocal8Bit(std::strerror(errno))));
    m_record.state = HostState::Collected;
    m_record.package = m_job.hostDir.section(QLatin1Char('/'), -2) + QStringLiteral("/package.zip");
    m_record.size = arrived;
    m_record.sha256 = sha;
    note(QStringLiteral("collected %1 (%2), SHA-256 %3")
             .arg(m_record.package, humanBytes(arrived), QString::fromLatin1(sha)));
    cleanUp(kCleanUpSeconds * 1000);
}

void HostRun::fail(HostState state, const QString& reason)
{
    if (m_failed || m_ended || m_record.state == HostState::Collected)
        return;
    m_failed = true;
    m_sizeWatch.stop();
    m_record.state = state;
    m_record.reason = shownText(reason); // what a server said goes to the terminal and index.txt
    note(QStringLiteral("ended: ") + stateName(state) + QStringLiteral(": ") + reason);
    QFile::remove(partPath());
    stopStep();
    cleanUp(kCleanUpSeconds * 1000);
}

void HostRun::stopStep()
{
    if (QProcess* step = m_step.data()) {
        m_step = nullptr;
        step->kill();
    }
}

void HostRun::cleanUp(int deadlineMs)
{
    if (m_remoteDir.isEmpty() || !m_masterReady || m_master.state() == QProcess::NotRunning)
        return closeMaster();
    m_cleaning = true;
    setPhase(QStringLiteral("cleaning"));
    m_deadline.start(deadlineMs);
    disconnect(&m_deadline, &QTimer::timeout, this, nullptr);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        note(QStringLiteral("the remote folder was not removed in time: ") + m_remoteDir);
        closeMaster();
    });
    // A build still running is stopped first; its process number is only trusted while it runs.
    const QString stop = m_buildPid.isEmpty() ? QString()
                                              : sudo() + QStringLiteral("kill -TERM ") + m_buildPid +
                                                    QStringLiteral(" 2>/dev/null; ");
    run(QStringLiteral("clean up"), stop + sudo() + QStringLiteral("rm -rf -- ") + shellQuoted(m_remoteDir),
        [this](int, const QByteArray&, const QString&) { closeMaster(); });
}

void HostRun::closeMaster()
{
    if (m_closing)
        return;
    m_closing = true;
    m_deadline.stop();
    m_connectDeadline.stop();
    stopStep();
    if (m_master.state() == QProcess::NotRunning) {
        end();
        return;
    }
    m_closeDeadline.start(kCloseMs);
    if (!m_masterReady) {
        m_master.terminate();
        return;
    }
    auto* closer = new QProcess(this);
    m_closer = closer;
    closer->setStandardInputFile(QProcess::nullDevice());
    connect(closer, &QProcess::finished, closer, &QObject::deleteLater);
    QStringList args = commonArguments(m_job);
    args << QStringLiteral("-O") << QStringLiteral("exit") << QStringLiteral("--")
         << sshDestination(m_job.entry.host);
    closer->start(m_job.ssh, args);
}

void HostRun::interrupt()
{
    if (m_ended)
        return;
    if (m_record.state == HostState::Pending) {
        m_record.state = HostState::Interrupted;
        m_record.reason = QStringLiteral("the run was interrupted");
    }
    m_failed = true;
    m_sizeWatch.stop();
    note(QStringLiteral("interrupted"));
    if (m_record.state != HostState::Collected)
        QFile::remove(partPath());
    stopStep();
    if (!m_cleaning && !m_closing) {
        // The remote folder is removed if that can be done at once; the run ends within 2 s.
        cleanUp(kInterruptCleanUpMs);
        return;
    }
    if (m_closer)
        m_closer->kill();
    m_closing = true;
    m_closeDeadline.start(kCloseMs);
    if (m_master.state() == QProcess::NotRunning)
        end();
    else
        m_master.terminate();
}

void HostRun::writeLog()
{
    const QString path = m_job.hostDir + QStringLiteral("/collect.log");
    // A resumed host keeps what its earlier attempts said.
    QFile earlier(path);
    if (earlier.open(QIODevice::ReadOnly))
        m_log.prepend(earlier.read(4 * kMaxSaid) + "\n");
    if (replaceFile(QFile::encodeName(path), m_log, 0644) != 0)
        qCWarning(lcCase) << "cannot write" << path;
}

void HostRun::end()
{
    if (m_ended)
        return;
    m_ended = true;
    m_deadline.stop();
    m_connectDeadline.stop();
    m_closeDeadline.stop();
    m_record.seconds = seconds();
    m_phase = stateName(m_record.state);
    writeLog();
    Q_EMIT changed();
    Q_EMIT finished();
}
