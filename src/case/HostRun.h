#pragma once

#include "base/CHandle.h"
#include "case/CaseIndex.h"
#include "case/CollectOptions.h"
#include "case/FetchSpace.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

#include <sys/resource.h>

// What one host of a collect run is asked: the host, the folder or template there, how to reach it
// and where its files go.
struct HostJob
{
    HostEntry entry{};
    QString target{}; // the case's; the host's own folder wins
    CollectOptions options{};
    QString controlPath{}; // the master connection's socket, in a private folder
    QString hostDir{};     // hosts/<host> inside the case folder, as messages name it
    UniqueFd
        hostFolder{}; // that folder, made and opened by the caller; every file in it is reached from here
    std::shared_ptr<FetchSpace> space{}; // the run's disk space, shared by its hosts
    std::pair<int, int> ownVersion{0, 0};
    QString ssh = QStringLiteral("ssh");
};

// The ssh arguments of a host's connections; each ends with "--" and the destination, so nothing
// the host's name holds is read as an option. No agent, X11 or port is ever forwarded, whatever the
// user's configuration says: the servers of a fleet are not all trusted alike.
QStringList masterArguments(const HostJob& job);
QStringList commandArguments(const HostJob& job, const QString& remoteCommand);
QString sshDestination(const QString& host);
// A word for a POSIX shell: in single quotes, any single quote closed, escaped and reopened.
QString shellQuoted(const QString& word);
// The remote build: a private folder made with mktemp, its name printed first, then the build's
// JSON summary. A watcher beside it waits for the end of the session's input: when the connection
// goes before the build has ended (the collecting program was killed), it stops the build and
// removes the folder.
QString remoteBuildCommand(const HostJob& job);
// The host key from one line of what ssh -v says (without its line feed), as ssh itself showed
// it ("ssh-ed25519 SHA256:..."); empty for any other line, whatever text of a server's it quotes.
QString hostKeyIn(const QByteArray& line);

// Where the ssh of one step reads and writes: its standard output into an open file of at most
// fileLimit bytes, or read by the program; its input held open (for the remote watcher), or none.
struct StepIo
{
    std::optional<int> output{};
    std::optional<qint64> fileLimit{};
    bool inputOpen = false;
};

// Collects one host: a master connection, the remote version, the remote build into a private
// folder, the package streamed back and checked, the remote folder removed, the master closed.
// Every step has a deadline; the host ends in exactly one state, and finished is emitted once.
class HostRun : public QObject
{
    Q_OBJECT

public:
    explicit HostRun(HostJob job, QObject* parent = nullptr);
    ~HostRun() override;

    void start();
    // Ends the host at once as interrupted (unless it has ended), its ssh processes stopped.
    void interrupt();

    // Where a host is on its way. Each step follows the one before it; a failure or an interrupt
    // goes on to Cleaning (once a remote folder was made), then to Closing or Abandoning.
    enum class Step
    {
        Waiting,    // not started
        Connecting, // the master connection is being made; ssh -v's lines name the host key
        Checking,   // connected: the remote version
        Building,   // the remote build into its private folder
        Fetching,   // the package streamed back into the host's folder
        Cleaning,   // the outcome is known: the remote folder is removed
        Closing,    // a connected master is asked to end, and stopped at a deadline
        Abandoning, // a master that never got ready is stopped
        Ended,      // finished was emitted; nothing runs
    };

    const HostRecord& record() const { return m_record; }
    Step step() const { return m_step; }
    // What the host is doing now: connecting, checking, building, fetching, cleaning, or its state.
    QString phase() const;
    qint64 bytesFetched() const;
    double seconds() const;
    bool ended() const { return m_step == Step::Ended; }

Q_SIGNALS:
    void changed();
    void finished();

private:
    using Done = std::function<void(int exitCode, const QByteArray& out, const QString& errors)>;

    void startMaster();
    void masterSaid();
    void readMasterLines(const QByteArray& said);
    void masterEnded();
    void checkVersion();
    void build();
    void takeFolderLine(const QByteArray& line);
    void fetch(const QString& remotePackage, qint64 size, const QByteArray& sha256);
    void fetched(int exitCode, const QString& errors);
    QString partPath() const;
    bool commitPart(QString* why);
    void discardPart();
    void watchFetch();
    void limitMasterFiles(std::optional<qint64> bytes);
    void fail(HostState state, const QString& reason);
    void cleanUp(int deadlineMs);
    void stopStep();
    void closeMaster();
    void end();
    QProcess* run(const QString& step, const QString& remoteCommand, Done done, StepIo io = {});
    void stepCannotStart(const QString& step, const QString& reason);
    bool connectionLost(int exitCode, const QString& errors);
    QString sudo() const;
    void enter(Step step);
    bool masterReady() const;
    bool outcomeKnown() const { return m_record.state != HostState::Pending; }
    void note(const QString& text);
    void writeLog();

    const HostJob m_job;
    HostRecord m_record;
    Step m_step = Step::Waiting;
    QProcess m_master;
    QByteArray m_masterErrors{};
    QByteArray m_masterLine{}; // what ssh -v has said of the line it is on
    bool m_masterLineTooLong = false;
    QPointer<QProcess> m_command; // the remote command under way; owned as a child
    QPointer<QProcess> m_closer;  // the request that ends the master
    QTimer m_deadline;
    QTimer m_connectDeadline;
    QTimer m_closeDeadline;
    QTimer m_sizeWatch; // a server that sends more than its package is stopped
    QString m_remoteDir{};
    QString m_buildPid{}; // the remote build's process while it runs
    qint64 m_expected = 0;
    QByteArray m_expectedSha{};
    UniqueFd m_part;                                          // the package as it arrives
    std::unique_ptr<FetchSpace::Reservation> m_reservation{}; // its room on the disk
    std::optional<struct rlimit> m_masterFileLimit{};         // the master's own, while a fetch limits it
    QByteArray m_log{};
    qint64 m_startedMs = 0;
};
