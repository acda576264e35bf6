#include "case/CollectRun.h"

#include "base/ByteSize.h"
#include "base/CleanJson.h"
#include "base/ExitStatus.h"
#include "base/ShownText.h"
#include "case/HostRun.h"
#include "outside/Interruption.h"
#include "platform/StopToken.h"
#include "platform/TerminalLine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {

constexpr qint64 kIndexCap = 64 << 20; // bytes of an index.json that a resume reads

// Where the private folder of the control sockets goes: short enough for a socket's name (108
// bytes, of which ssh adds a few while it binds) even where TMPDIR is long.
QString controlBase()
{
    const QString temp = QDir::tempPath();
    return temp.size() <= 40 ? temp : QStringLiteral("/tmp");
}

QString sizeText(qint64 bytes)
{
    return bytes <= 0 ? QString() : byteSizeText(bytes);
}

void say(const QString& text)
{
    std::fprintf(stderr, "ts6satchel collect: %s\n", qPrintable(text));
}

int usageError(const QString& text)
{
    say(text);
    return ExitStatus::kUsage;
}

} // namespace

CollectRun::CollectRun(CollectOptions options, CaseIndex index, CaseFolder caseFolder, CollectDisplay display,
                       const StopToken& stop, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_index(std::move(index)),
      m_caseFolder(std::move(caseFolder)), m_display(display), m_stop(stop),
      m_block(std::make_unique<TerminalLine>(display.stream, display.terminal))
{
    m_redraw.setInterval(250);
    connect(&m_redraw, &QTimer::timeout, this, &CollectRun::redraw);
    // The request may come from another thread: the interrupt runs on this run's own.
    m_wake = std::make_unique<StopToken::Wake>(
        m_stop, [this] { QMetaObject::invokeMethod(this, &CollectRun::interrupt, Qt::QueuedConnection); });
}

CollectRun::~CollectRun()
{
    m_wake.reset();
    // The hosts first: their masters' sockets are in the control folder, which goes with this.
    for (HostRun*& run : m_runs) {
        delete run;
        run = nullptr;
    }
}

bool CollectRun::start(QString* why)
{
    m_control = ControlFolder::create(controlBase(), why);
    if (!m_control)
        return false;
    m_space = std::make_shared<FetchSpace>(FetchSpace::freeSpaceOf(m_caseFolder.fd()));
    // Every host's folder is made or entered before any host starts: one that another user
    // planted (a link, a folder of theirs) stops the run before anything is written for it.
    std::vector<UniqueFd> folders(m_index.hosts.size());
    for (std::size_t slot = 0; slot < m_index.hosts.size(); ++slot)
        if (m_index.hosts[slot].state == HostState::Pending) {
            folders[slot] = m_caseFolder.enterFolder(hostFolder(m_index.hosts[slot].host), why);
            if (!folders[slot])
                return false;
        }
    m_runs.assign(m_index.hosts.size(), nullptr);
    for (std::size_t slot = 0; slot < m_index.hosts.size(); ++slot) {
        const HostRecord& record = m_index.hosts[slot];
        if (record.state != HostState::Pending)
            continue;
        HostJob job;
        job.entry = {record.host, record.folder};
        job.target = m_index.target;
        job.options = m_options;
        job.controlPath = m_control->path() + QLatin1Char('/') + QString::number(slot);
        job.hostDir = m_caseFolder.path() + QLatin1Char('/') + hostFolder(record.host);
        job.hostFolder = std::move(folders[slot]);
        job.space = m_space;
        job.ownVersion = {TS6_VERSION_MAJOR, TS6_VERSION_MINOR};
        auto* run = new HostRun(std::move(job), this);
        m_runs[slot] = run;
        connect(run, &HostRun::finished, this, [this, slot] { hostEnded(slot); });
    }
    if (!writeIndex(m_caseFolder, m_index, why))
        return false;
    if (m_display.terminal)
        m_redraw.start();
    if (m_stop.stopRequested()) { // asked to stop before any host began: each ends as interrupted
        interrupt();
        return true;
    }
    startNext();
    if (m_running == 0)
        QTimer::singleShot(0, this, [this] { hostEnded(m_index.hosts.size()); });
    return true;
}

void CollectRun::startNext()
{
    while (!m_interrupted && m_running < m_options.jobs && m_next < m_runs.size()) {
        HostRun* run = m_runs[m_next++];
        if (!run)
            continue;
        ++m_running;
        run->start();
    }
}

void CollectRun::hostEnded(std::size_t slot)
{
    if (slot < m_runs.size()) {
        m_index.hosts[slot] = m_runs[slot]->record();
        --m_running;
        if (!m_display.terminal)
            std::fprintf(m_display.stream, "%s\n", qPrintable(shownText(lineOf(slot))));
    }
    startNext();
    const bool allEnded =
        std::all_of(m_runs.cbegin(), m_runs.cend(), [](const HostRun* r) { return !r || r->ended(); });
    if (allEnded && !m_done) {
        m_done = true;
        m_index.finished = QDateTime::currentDateTime();
    }
    saveIndex();
    if (m_done) {
        m_redraw.stop();
        redraw();
        Q_EMIT done();
    }
}

void CollectRun::saveIndex()
{
    if (QString why; !writeIndex(m_caseFolder, m_index, &why))
        say(why);
}

void CollectRun::interrupt()
{
    if (m_interrupted || m_done)
        return;
    m_interrupted = true;
    for (std::size_t slot = 0; slot < m_runs.size(); ++slot) {
        HostRun* run = m_runs[slot];
        if (!run || run->ended())
            continue;
        if (slot >= m_next) { // never started
            m_index.hosts[slot].state = HostState::Interrupted;
            m_index.hosts[slot].reason = QStringLiteral("the run was interrupted before this host's turn");
            m_runs[slot] = nullptr;
            run->deleteLater();
            continue;
        }
        run->interrupt();
    }
    if (m_running == 0)
        hostEnded(m_runs.size());
}

QString CollectRun::lineOf(std::size_t slot) const
{
    const HostRun* run = m_runs[slot];
    const HostRecord& record = run ? run->record() : m_index.hosts[slot];
    const QString phase = run ? run->phase() : stateName(record.state);
    const qint64 bytes =
        run ? (record.state == HostState::Collected ? record.size : run->bytesFetched()) : record.size;
    QString line =
        QStringLiteral("%1  %2  %3  %4 s")
            .arg(record.host, -24)
            .arg(phase, -16)
            .arg(sizeText(bytes), 9)
            .arg(run ? (run->ended() ? record.seconds : run->seconds()) : record.seconds, 5, 'f', 1);
    if (run && run->ended() && record.state != HostState::Collected && !record.reason.isEmpty())
        line += QStringLiteral("  ") + record.reason;
    return line;
}

void CollectRun::redraw()
{
    if (!m_display.terminal)
        return;
    // The block fits the terminal's height (and each line its width): a block that scrolled would
    // move down at every redraw.
    const int rows = m_block->rows() - 1;
    QStringList lines;
    for (std::size_t slot = 0; slot < m_runs.size(); ++slot)
        lines << lineOf(slot);
    if (lines.size() > rows) {
        const qsizetype more = lines.size() - (rows - 1);
        lines = lines.mid(0, rows - 1);
        lines << QStringLiteral("... and %1 more hosts (index.txt has them all)").arg(more);
    }
    m_block->showBlock(lines);
}

namespace {

// What a resumed run is about to do, from what the case folder said: the hosts it tries again, the
// target and the options, before it logs in anywhere.
QString resumeSummary(const QString& folder, const CaseIndex& index)
{
    constexpr qsizetype kNamed = 10;
    QStringList again;
    for (const HostRecord& host : index.hosts)
        if (host.state != HostState::Collected)
            again << host.host;
    QString hosts = QStringList(again.mid(0, kNamed)).join(QStringLiteral(", "));
    if (again.size() > kNamed)
        hosts += QStringLiteral(" and %1 more").arg(again.size() - kNamed);
    return shownText(QStringLiteral("resuming %1: %2 of %3 hosts again (%4), target %5, options %6")
                         .arg(folder)
                         .arg(again.size())
                         .arg(index.hosts.size())
                         .arg(hosts, index.target, index.options.join(QLatin1Char(' '))));
}

// The case of a resumed run: its hosts, target and options from the index; the hosts not collected
// pending again. Only a case folder and an index of the user's own that no one else may write are
// taken, only the options collect records, and only hosts the command line would take; the ssh
// configuration, which can run commands, comes from this command line alone.
// The folder is a copy: it is read from the options this replaces.
int resumeCase(QString folder, CollectOptions& options, CaseIndex& index, std::optional<CaseFolder>& opened,
               const RecordedOptionsReader& readRecorded)
{
    QString why;
    opened = CaseFolder::open(folder, &why);
    const std::optional<QByteArray> json =
        opened ? opened->readFile(QStringLiteral("index.json"), kIndexCap, &why) : std::nullopt;
    if (!json)
        return usageError(QStringLiteral("--resume: %1 is not a case folder to resume: %2").arg(folder, why));
    std::optional<CaseIndex> read = readIndex(*json, &why);
    if (!read)
        return usageError(QStringLiteral("--resume: %1 is not a case folder: %2").arg(folder, why));
    if (!checkResumable(*read, &why))
        return usageError(QStringLiteral("--resume: %1/index.json cannot be resumed: %2").arg(folder, why));
    QString recordedConfig;
    const std::optional<CollectOptions> again = readRecorded(read->options, &recordedConfig, &why);
    if (!again)
        return usageError(
            QStringLiteral("--resume: the options in %1/index.json cannot be read: %2").arg(folder, why));
    if (!recordedConfig.isEmpty() && options.sshConfig.isEmpty())
        return usageError(
            QStringLiteral("--resume: the case was collected with --ssh-config %1; a resume takes no "
                           "ssh configuration from a case folder: give --ssh-config again.")
                .arg(shownText(recordedConfig)));
    const bool wantsJson = options.json;
    const QString sshConfig = options.sshConfig;
    options = *again;
    options.json = wantsJson;
    options.sshConfig = sshConfig;
    options.out = folder;
    options.recordedOptions = recordedArguments(options);
    index = std::move(*read);
    index.options = options.recordedOptions;
    index.finished.reset();
    for (HostRecord& host : index.hosts)
        if (host.state != HostState::Collected)
            host = HostRecord{host.host, host.folder};
    say(resumeSummary(folder, index));
    return 0;
}

int newCase(CollectOptions& options, CaseIndex& index, std::optional<CaseFolder>& opened)
{
    QString why;
    opened = CaseFolder::create(options.out, &why);
    if (!opened) {
        say(why);
        return 1;
    }
    if (opened->holds(QStringLiteral("index.json")))
        return usageError(
            QStringLiteral("%1 already holds a case: give --resume %1, or another --out.").arg(options.out));
    index.target = options.target;
    index.options = options.recordedOptions;
    for (const HostEntry& entry : options.hosts)
        index.hosts.push_back(HostRecord{entry.host, entry.folder});
    return 0;
}

} // namespace

int runCollect(CollectOptions options, const RecordedOptionsReader& readRecorded)
{
    CaseIndex index;
    index.started = QDateTime::currentDateTime();
    std::optional<CaseFolder> caseFolder;
    if (const int status = options.resume.isEmpty()
                               ? newCase(options, index, caseFolder)
                               : resumeCase(options.resume, options, index, caseFolder, readRecorded))
        return status;
    const QString casePath = caseFolder->path();

    StopToken stop;
    CollectRun run(options, index, std::move(*caseFolder), {stderr, ::isatty(STDERR_FILENO) == 1}, stop);
    const Interruption::Watch watch([&stop] { stop.request(); });
    QObject::connect(&run, &CollectRun::done, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    QString why;
    if (!run.start(&why)) {
        say(why);
        return ExitStatus::kFailure;
    }
    QCoreApplication::exec();

    const CaseIndex& ended = run.index();
    if (options.json)
        std::fputs(cleanJson(indexJson(ended)).constData(), stdout);
    const auto collected = std::count_if(ended.hosts.cbegin(), ended.hosts.cend(),
                                         [](const HostRecord& h) { return h.state == HostState::Collected; });
    say(QStringLiteral("%1 of %2 hosts collected into %3")
            .arg(collected)
            .arg(ended.hosts.size())
            .arg(casePath));
    return exitStatusOf(ended);
}
