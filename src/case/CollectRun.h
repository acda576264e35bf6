#pragma once

#include <functional>
#include <optional>

#include "case/CaseFolder.h"
#include "case/CaseIndex.h"
#include "case/CollectOptions.h"
#include "case/ControlFolder.h"
#include "case/FetchSpace.h"
#include "platform/StopToken.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

class HostRun;
class TerminalLine;

// Where a collect run shows itself: an updating block of one line per host on a terminal, plain
// lines at each host's end otherwise.
struct CollectDisplay
{
    std::FILE* stream = stderr;
    bool terminal = false;
};

// A collect run over the hosts of a case: at most --jobs hosts at a time, the index rewritten
// after every host's end, done emitted once every host has ended. A request on its stop token (a
// signal, a Cancel button), from any thread, interrupts it.
class CollectRun : public QObject
{
    Q_OBJECT

public:
    CollectRun(CollectOptions options, CaseIndex index, CaseFolder caseFolder, CollectDisplay display,
               const StopToken& stop, QObject* parent = nullptr);
    ~CollectRun() override;

    // Starts the hosts still pending; false, with the reason, when the case folder cannot be used.
    bool start(QString* why);
    // Ends every host at once as interrupted; done follows when their ssh processes are gone.
    void interrupt();
    const CaseIndex& index() const { return m_index; }

Q_SIGNALS:
    void done();

private:
    void startNext();
    void hostEnded(std::size_t slot);
    void saveIndex();
    void redraw();
    QString lineOf(std::size_t slot) const;

    const CollectOptions m_options;
    CaseIndex m_index;
    const CaseFolder m_caseFolder;
    const CollectDisplay m_display;
    const StopToken& m_stop;
    const std::unique_ptr<TerminalLine> m_block; // the hosts' lines on a terminal
    std::optional<ControlFolder> m_control;      // the master connections' sockets
    std::shared_ptr<FetchSpace> m_space;
    std::vector<HostRun*> m_runs; // by slot of m_index.hosts; children of this run
    std::size_t m_next = 0;
    int m_running = 0;
    bool m_interrupted = false;
    bool m_done = false;
    QTimer m_redraw;
    std::unique_ptr<StopToken::Wake> m_wake; // a request interrupts the run on its own thread
};

// Reads the options a case folder recorded, as the command line reads them; the sshConfig it names is
// told apart, and the reason in why when they cannot be read.
using RecordedOptionsReader = std::function<std::optional<CollectOptions>(const QStringList& recorded,
                                                                          QString* sshConfig, QString* why)>;

// "ts6satchel collect" with its options read: a new case, or the resume of one whose recorded options
// readRecorded reads. The exit status.
int runCollect(CollectOptions options, const RecordedOptionsReader& readRecorded);
