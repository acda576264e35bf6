#include "case/HostRun.h"

#include "base/ByteSize.h"
#include "base/Logging.h"
#include "base/PackageFormat.h"
#include "base/ShownText.h"
#include "base/SystemError.h"
#include "case/CaseFolder.h"
#include "platform/FileReplacement.h"
#include "platform/OwnFiles.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kCloseMs = 800;             // for the master to end once asked, then it is stopped
constexpr int kInterruptCleanUpMs = 1000; // for removing the remote folder after an interrupt
constexpr int kCleanUpSeconds = 20;
constexpr qint64 kMaxSaid = 1 << 20;    // bytes a server may say on one step, or of the master's debugging
constexpr qint64 kMaxLine = 64 << 10;   // bytes of one line of ssh -v that are looked at
constexpr qint64 kEarlierLog = 4 << 20; // bytes of a resumed host's earlier log kept
constexpr char kReady[] = "ts6satchel-ready";
constexpr char kPart[] = ".package.zip.part";
constexpr char kPackage[] = "package.zip";
constexpr char kLog[] = "collect.log";

// Every ssh child ends with this program, also when it is killed outright (a parent-death signal,
// and a parent that ended before it was asked for is noticed); SIGXFSZ, ignored, makes a write past
// the file limit fail instead of killing the child. With output, the child's standard output goes
// into that open file, of at most fileLimit bytes. Only system calls, as between fork and exec.
void prepareChild(QProcess& process, std::optional<int> output = std::nullopt,
                  std::optional<qint64> fileLimit = std::nullopt)
{
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent, output, fileLimit] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        struct sigaction ignore
        {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGXFSZ, &ignore, nullptr);
        if (output)
            ::dup2(*output, STDOUT_FILENO);
        struct rlimit limit
        {};
        if (fileLimit && ::getrlimit(RLIMIT_FSIZE, &limit) == 0) {
            limit.rlim_cur = std::min(static_cast<rlim_t>(*fileLimit), limit.rlim_max);
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
    });
}

QStringList commonArguments(const HostJob& job)
{
    QStringList args{QStringLiteral("-a"),
                     QStringLiteral("-x"),
                     QStringLiteral("-o"),
                     QStringLiteral("ClearAllForwardings=yes"),
                     QStringLiteral("-S"),
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

QString tooMuchArrived(qint64 arrived, qint64 expected)
{
    return QStringLiteral("%1 bytes arrived, more than the %2 the remote build named")
        .arg(arrived)
        .arg(expected);
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

QString hostKeyIn(const QByteArray& line)
{
    // Ssh's own line starts its line; a server's text (a line before its banner, a debug message)
    // is quoted after a prefix of ssh's, never at the start.
    static const QRegularExpression own(QStringLiteral(
        "^debug1: Server host key: ([A-Za-z0-9@._+-]{1,64} [A-Za-z0-9]{1,16}:[A-Za-z0-9+/=:]{1,128})$"));
    const QByteArray plain = line.endsWith('\r') ? line.chopped(1) : line; // ssh ends its lines with CR LF
    return own.match(QString::fromLatin1(plain)).captured(1);
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
    const QString sudo = job.options.sudo ? QStringLiteral("sudo -n ") : QString();
    // The build's own temporary files (the manifest) go into the private folder too.
    QStringList build{QStringLiteral("env"), QStringLiteral("TMPDIR=\"$d\""), QStringLiteral("ts6satchel"),
                      QStringLiteral("--json")};
    for (const QString& option : job.options.buildOptions)
        build << shellQuoted(option);
    build << QStringLiteral("--") << shellQuoted(target) << QStringLiteral("\"$d/package.zip\"");
    // The folder and the build's process (the shell's, which the build replaces) come first, so an
    // interrupted build can be stopped and its folder removed. The watcher reads the session's
    // input, which the collecting side never closes: it ends when the session does. If the build
    // still runs then, the connection went first: the watcher stops it, waits for its end (30 s
    // at most) and removes the folder. The build itself reads nothing.
    const QString watcher =
        QStringLiteral("exec 3<&0 && { (cat <&3 >/dev/null; kill -TERM $$ 2>/dev/null && { "
                       "n=0; while kill -0 $$ 2>/dev/null && [ $n -lt 30 ]; do sleep 1; n=$((n+1)); done; ") +
        sudo + QStringLiteral("rm -rf -- \"$d\"; }) </dev/null >/dev/null 2>&1 & } && ");
    return QStringLiteral("umask 077 && d=$(mktemp -d \"${TMPDIR:-/tmp}/ts6collect.XXXXXXXX\") && "
                          "printf 'TS6DIR %s %s\\n' \"$$\" \"$d\" && ") +
           watcher + QStringLiteral("exec ") + sudo + build.join(QLatin1Char(' ')) +
           QStringLiteral(" </dev/null 3<&-");
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
        if (m_step == Step::Connecting)
            fail(HostState::Timeout,
                 QStringLiteral("no connection within %1 s").arg(m_job.options.connectTimeoutSeconds));
    });
    m_sizeWatch.setInterval(250);
    connect(&m_sizeWatch, &QTimer::timeout, this, &HostRun::watchFetch);
    connect(&m_closeDeadline, &QTimer::timeout, this, [this] {
        m_master.kill();
        if (m_closer)
            m_closer->kill();
    });
    connect(&m_master, &QProcess::readyReadStandardOutput, this, &HostRun::masterSaid);
    connect(&m_master, &QProcess::readyReadStandardError, this,
            [this] { readMasterLines(m_master.readAllStandardError()); });
    connect(&m_master, &QProcess::finished, this, &HostRun::masterEnded);
    connect(&m_master, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            masterEnded();
    });
}

HostRun::~HostRun()
{
    // A run torn down early leaves no process behind.
    for (QProcess* p : {&m_master, m_command.data(), m_closer.data()})
        if (p && p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished(1000);
        }
}

double HostRun::seconds() const
{
    return m_startedMs == 0 ? 0 : (QDateTime::currentMSecsSinceEpoch() - m_startedMs) / 1000.0;
}

void HostRun::enter(Step step)
{
    m_step = step;
    Q_EMIT changed();
}

bool HostRun::masterReady() const
{
    switch (m_step) {
    case Step::Waiting:
    case Step::Connecting:
    case Step::Abandoning:
    case Step::Ended: // no master any more
        return false;
    case Step::Checking:
    case Step::Building:
    case Step::Fetching:
    case Step::Cleaning:
    case Step::Closing:
        return true;
    }
    return false;
}

QString HostRun::phase() const
{
    switch (m_step) {
    case Step::Waiting:
        return QStringLiteral("waiting");
    case Step::Connecting:
        return QStringLiteral("connecting");
    case Step::Checking:
        return QStringLiteral("checking");
    case Step::Building:
        return QStringLiteral("building");
    case Step::Fetching:
        return QStringLiteral("fetching");
    case Step::Cleaning:
        return QStringLiteral("cleaning");
    case Step::Closing:
    case Step::Abandoning:
    case Step::Ended: // the outcome is known by then
        return stateName(m_record.state);
    }
    return {};
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
    enter(Step::Connecting);
    const QStringList args = masterArguments(m_job);
    note(QStringLiteral("== connecting: ssh ") + args.join(QLatin1Char(' ')));
    // Ssh's own connect timeout ends the TCP connection and the greeting; the login has as long again.
    m_connectDeadline.start(m_job.options.connectTimeoutSeconds * 2000 + 5000);
    m_master.setStandardInputFile(QProcess::nullDevice());
    prepareChild(m_master);
    m_master.start(m_job.ssh, args);
}

void HostRun::readMasterLines(const QByteArray& said)
{
    if (m_masterErrors.size() < kMaxSaid)
        m_masterErrors += said;
    if (masterReady())
        return;
    // The host key is the one of the last "Server host key" line of ssh's own before the login
    // (through a jump host, the destination's comes last). A line longer than ssh's are is skipped
    // to its end, so no part of it is ever read as the start of a line.
    qsizetype start = 0;
    for (qsizetype end = said.indexOf('\n'); end >= 0; start = end + 1, end = said.indexOf('\n', start)) {
        if (!m_masterLineTooLong) {
            m_masterLine += said.mid(start, end - start);
            if (const QString key = hostKeyIn(m_masterLine); !key.isEmpty())
                m_record.fingerprint = key;
        }
        m_masterLine.clear();
        m_masterLineTooLong = false;
    }
    if (!m_masterLineTooLong)
        m_masterLine += said.mid(start);
    if (m_masterLine.size() > kMaxLine) {
        m_masterLine.clear();
        m_masterLineTooLong = true;
    }
}

void HostRun::masterSaid()
{
    const QByteArray said = m_master.readAllStandardOutput();
    // Ready only counts while connecting: a master being stopped starts no step.
    if (m_step != Step::Connecting || !said.contains(kReady))
        return;
    readMasterLines(m_master.readAllStandardError()); // what ssh said before it was ready
    m_connectDeadline.stop();
    note(QStringLiteral("connected; host key ") + m_record.fingerprint);
    checkVersion();
}

void HostRun::masterEnded()
{
    readMasterLines(m_master.readAllStandardError());
    note(QStringLiteral("== ssh (the master connection) said:\n") + QString::fromUtf8(m_masterErrors));
    m_masterErrors.clear();
    switch (m_step) {
    case Step::Closing:
    case Step::Abandoning:
    case Step::Ended:
        end();
        return;
    case Step::Waiting:
    case Step::Connecting:
    case Step::Checking:
    case Step::Building:
    case Step::Fetching:
    case Step::Cleaning:
        break;
    }
    if (m_master.error() == QProcess::FailedToStart) {
        fail(HostState::Unreachable,
             QStringLiteral("cannot start %1: %2").arg(m_job.ssh, m_master.errorString()));
        return;
    }
    const QString said = QString::fromUtf8(m_log);
    if (!masterReady())
        fail(classifyConnectionFailure(said), lastWords(said));
    else
        fail(HostState::Unreachable, QStringLiteral("the connection was lost: ") + lastWords(said));
}

QString HostRun::sudo() const
{
    return m_job.options.sudo ? QStringLiteral("sudo -n ") : QString();
}

QProcess* HostRun::run(const QString& step, const QString& remoteCommand, Done done, StepIo io)
{
    const QStringList args = commandArguments(m_job, remoteCommand);
    note(QStringLiteral("== ") + step + QStringLiteral(": ") + remoteCommand);
    auto* process = new QProcess(this);
    m_command = process;
    if (!io.inputOpen)
        process->setStandardInputFile(QProcess::nullDevice());
    if (io.output) // the child takes the file in place of this
        process->setStandardOutputFile(QProcess::nullDevice());
    prepareChild(*process, io.output, io.fileLimit);
    // What a server says on one step is read to its end only up to a limit.
    const auto tooMuch = [this, process, step] {
        process->setReadChannel(QProcess::StandardError);
        const qint64 errors = process->bytesAvailable();
        process->setReadChannel(QProcess::StandardOutput);
        if (m_command == process && std::max(errors, process->bytesAvailable()) > kMaxSaid)
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
                if (m_command != process)
                    return; // stopped on purpose: its end says nothing
                m_command = nullptr;
                done(status == QProcess::NormalExit ? exitCode : 255, out, errors);
            });
    // No pipe or process left (the descriptor limit), or no ssh: the host ends now, not at its deadline.
    connect(process, &QProcess::errorOccurred, this, [this, process, step](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart || m_command != process)
            return;
        m_command = nullptr;
        process->deleteLater();
        stepCannotStart(step, process->errorString());
    });
    process->start(m_job.ssh, args);
    return m_command == process ? process : nullptr;
}

void HostRun::stepCannotStart(const QString& step, const QString& reason)
{
    const QString why =
        QStringLiteral("cannot start %1 here for the step %2: %3").arg(m_job.ssh, step, reason);
    note(why);
    if (m_step == Step::Cleaning)
        return closeMaster();
    fail(HostState::Unreachable, why);
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
    enter(Step::Checking);
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
    enter(Step::Building);
    QProcess* const process = run(
        QStringLiteral("build"), remoteBuildCommand(m_job),
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
            const QString package = summary.value(PackageFormat::kSummaryPackage).toString();
            if (exitCode != 0 || package.isEmpty()) {
                const QString reason = summary.value(PackageFormat::kSummaryReason).toString();
                return fail(HostState::RemoteFailed, reason.isEmpty() ? lastWords(errors) : reason);
            }
            if (m_remoteDir.isEmpty() || package != m_remoteDir + QStringLiteral("/package.zip"))
                return fail(HostState::RemoteFailed,
                            QStringLiteral("the remote build names a package outside its folder: ") +
                                package);
            fetch(package, summary.value(PackageFormat::kSummaryBytes).toInteger(-1),
                  summary.value(PackageFormat::kSummarySha256).toString().toLatin1());
        },
        StepIo{.inputOpen = true});
    if (!process)
        return;
    // The first line names the folder and the process; it is the remote shell's, before the build.
    connect(process, &QProcess::readyReadStandardOutput, this, [this, process] {
        if (m_remoteDir.isEmpty() && m_command == process && process->canReadLine())
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
    enter(Step::Fetching);
    m_expected = size;
    m_expectedSha = sha256;
    if (size < 0)
        return fail(HostState::Corrupt, QStringLiteral("the remote build names no size for its package"));
    // Its room on the disk first: the fetches of all hosts together never fill it.
    if (m_job.space) {
        QString why;
        m_reservation = m_job.space->reserve(size, &why);
        if (!m_reservation)
            return fail(HostState::Corrupt, why);
    }
    // Ssh writes the package straight into a file of its own beside the final name (through a pipe
    // the master connection would hand it over in small pieces), a private one made here: nothing
    // planted at its name is followed.
    ::unlinkat(m_job.hostFolder.get(), kPart, 0);
    m_part.reset(
        ::openat(m_job.hostFolder.get(), kPart, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!m_part)
        return fail(HostState::Corrupt,
                    QStringLiteral("cannot make %1: %2").arg(partPath(), errnoText(errno)));
    // One byte past the size said is all the file may take, whichever ssh writes it (the master,
    // which a step hands its output to, or the step's own): a server that sends more fills no disk.
    const qint64 fileLimit = size < std::numeric_limits<qint64>::max() ? size + 1 : size;
    limitMasterFiles(fileLimit);
    const QString command = sudo() + QStringLiteral("cat -- ") + shellQuoted(remotePackage);
    run(
        QStringLiteral("fetch"), command,
        [this](int exitCode, const QByteArray&, const QString& errors) {
            m_sizeWatch.stop();
            limitMasterFiles(std::nullopt);
            fetched(exitCode, errors);
        },
        StepIo{.output = m_part.get(), .fileLimit = fileLimit});
    m_sizeWatch.start();
}

void HostRun::limitMasterFiles(std::optional<qint64> bytes)
{
    const pid_t master = static_cast<pid_t>(m_master.processId());
    if (master <= 0)
        return;
    if (!bytes) { // as it was
        if (m_masterFileLimit)
            ::prlimit(master, RLIMIT_FSIZE, &*m_masterFileLimit, nullptr);
        m_masterFileLimit.reset();
        return;
    }
    struct rlimit limit
    {};
    if (::prlimit(master, RLIMIT_FSIZE, nullptr, &limit) != 0)
        return;
    if (!m_masterFileLimit)
        m_masterFileLimit = limit;
    limit.rlim_cur = std::min(static_cast<rlim_t>(*bytes), limit.rlim_max);
    ::prlimit(master, RLIMIT_FSIZE, &limit, nullptr);
}

void HostRun::watchFetch()
{
    const qint64 arrived = bytesFetched();
    if (m_reservation)
        m_reservation->wrote(arrived);
    QString why;
    if (arrived > m_expected)
        fail(HostState::Corrupt, tooMuchArrived(arrived, m_expected));
    else if (m_job.space && !m_job.space->enough(&why))
        fail(HostState::Corrupt, why);
}

QString HostRun::partPath() const
{
    return m_job.hostDir + QLatin1Char('/') + QLatin1String(kPart);
}

qint64 HostRun::bytesFetched() const
{
    if (m_record.state == HostState::Collected)
        return m_record.size;
    struct stat status
    {};
    return m_part && ::fstat(m_part.get(), &status) == 0 ? status.st_size : 0;
}

bool HostRun::commitPart(QString* why)
{
    if (::fsync(m_part.get()) != 0 ||
        ::renameat(m_job.hostFolder.get(), kPart, m_job.hostFolder.get(), kPackage) != 0) {
        *why = QStringLiteral("cannot write %1/%2: %3")
                   .arg(m_job.hostDir, QLatin1String(kPackage), errnoText(errno));
        return false;
    }
    m_part.reset();
    m_reservation.reset();
    return true;
}

void HostRun::discardPart()
{
    m_reservation.reset();
    limitMasterFiles(std::nullopt);
    if (!m_part)
        return;
    m_part.reset();
    ::unlinkat(m_job.hostFolder.get(), kPart, 0);
}

void HostRun::fetched(int exitCode, const QString& errors)
{
    // Cut at its limit, a server that sent too much may also have lost its connection.
    const qint64 arrived = bytesFetched();
    if (arrived > m_expected)
        return fail(HostState::Corrupt, tooMuchArrived(arrived, m_expected));
    if (connectionLost(exitCode, errors))
        return;
    if (exitCode != 0 || arrived != m_expected)
        return fail(HostState::Corrupt,
                    QStringLiteral("%1 of %2 bytes arrived").arg(arrived).arg(m_expected));
    QFile part;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!part.open(m_part.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle) || !part.seek(0) ||
        !hash.addData(&part) || !part.seek(0))
        return fail(HostState::Corrupt,
                    QStringLiteral("cannot read %1: %2").arg(partPath(), part.errorString()));
    const QByteArray signature = part.read(4);
    part.close();
    const QByteArray sha = hash.result().toHex();
    if (signature != QByteArray("PK\x03\x04", 4) && signature != QByteArray("PK\x05\x06", 4))
        return fail(HostState::Corrupt, QStringLiteral("what arrived is not a zip file"));
    if (sha != m_expectedSha)
        return fail(HostState::Corrupt,
                    QStringLiteral("the SHA-256 of what arrived, %1, is not the remote build's")
                        .arg(QString::fromLatin1(sha)));
    if (QString why; !commitPart(&why))
        return fail(HostState::Corrupt, why);
    m_record.state = HostState::Collected;
    m_record.package =
        m_job.hostDir.section(QLatin1Char('/'), -2) + QLatin1Char('/') + QLatin1String(kPackage);
    m_record.size = arrived;
    m_record.sha256 = sha;
    note(QStringLiteral("collected %1 (%2), SHA-256 %3")
             .arg(m_record.package, byteSizeText(arrived), QString::fromLatin1(sha)));
    cleanUp(kCleanUpSeconds * 1000);
}

void HostRun::fail(HostState state, const QString& reason)
{
    if (outcomeKnown()) // the first outcome stands; a host never ends before it has one
        return;
    m_sizeWatch.stop();
    m_record.state = state;
    m_record.reason = shownText(reason); // what a server said goes to the terminal and index.txt
    note(QStringLiteral("ended: ") + stateName(state) + QStringLiteral(": ") + reason);
    stopStep();
    discardPart();
    cleanUp(kCleanUpSeconds * 1000);
}

void HostRun::stopStep()
{
    if (QProcess* command = m_command.data()) {
        m_command = nullptr;
        command->kill();
    }
}

void HostRun::cleanUp(int deadlineMs)
{
    if (m_remoteDir.isEmpty() || !masterReady() || m_master.state() == QProcess::NotRunning)
        return closeMaster();
    enter(Step::Cleaning);
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
    switch (m_step) {
    case Step::Closing:
    case Step::Abandoning:
    case Step::Ended:
        return;
    case Step::Waiting:
    case Step::Connecting:
    case Step::Checking:
    case Step::Building:
    case Step::Fetching:
    case Step::Cleaning:
        break;
    }
    enter(masterReady() ? Step::Closing : Step::Abandoning);
    m_deadline.stop();
    m_connectDeadline.stop();
    stopStep();
    if (m_master.state() == QProcess::NotRunning) {
        end();
        return;
    }
    m_closeDeadline.start(kCloseMs);
    if (m_step == Step::Abandoning) {
        m_master.terminate();
        return;
    }
    auto* closer = new QProcess(this);
    m_closer = closer;
    closer->setStandardInputFile(QProcess::nullDevice());
    prepareChild(*closer);
    connect(closer, &QProcess::finished, closer, &QObject::deleteLater);
    QStringList args = commonArguments(m_job);
    args << QStringLiteral("-O") << QStringLiteral("exit") << QStringLiteral("--")
         << sshDestination(m_job.entry.host);
    closer->start(m_job.ssh, args);
}

void HostRun::interrupt()
{
    if (ended())
        return;
    if (!outcomeKnown()) {
        m_record.state = HostState::Interrupted;
        m_record.reason = QStringLiteral("the run was interrupted");
    }
    m_sizeWatch.stop();
    note(QStringLiteral("interrupted"));
    stopStep();
    if (m_record.state != HostState::Collected)
        discardPart();
    switch (m_step) {
    case Step::Waiting:
    case Step::Connecting:
    case Step::Checking:
    case Step::Building:
    case Step::Fetching:
        // The remote folder is removed if that can be done at once; the run ends within 2 s.
        cleanUp(kInterruptCleanUpMs);
        return;
    case Step::Cleaning: // cut short: the master is stopped at once
        enter(Step::Closing);
        break;
    case Step::Closing:
    case Step::Abandoning:
    case Step::Ended:
        break;
    }
    if (m_closer)
        m_closer->kill();
    m_closeDeadline.start(kCloseMs);
    if (m_master.state() == QProcess::NotRunning)
        end();
    else
        m_master.terminate();
}

void HostRun::writeLog()
{
    const QString path = m_job.hostDir + QLatin1Char('/') + QLatin1String(kLog);
    // A resumed host keeps what its earlier attempts said: from a log of the user's own, no link.
    QString why;
    const std::optional<QByteArray> before =
        OwnFiles::readOwnFileAt(m_job.hostFolder.get(), kLog, kEarlierLog, path, &why);
    if (before)
        m_log.prepend(*before + "\n");
    else if (struct stat status{}; ::fstatat(m_job.hostFolder.get(), kLog, &status, AT_SYMLINK_NOFOLLOW) == 0)
        m_log.prepend("The earlier log was left out: " + why.toUtf8() + "\n\n");
    if (const int error = replaceFileAt(m_job.hostFolder.get(), kLog, m_log, 0600, 0600); error != 0)
        qCWarning(lcCase) << "cannot write" << path << errnoText(error);
}

void HostRun::end()
{
    if (ended())
        return;
    m_step = Step::Ended;
    m_deadline.stop();
    m_connectDeadline.stop();
    m_closeDeadline.stop();
    m_record.seconds = seconds();
    writeLog();
    Q_EMIT changed();
    Q_EMIT finished();
}
