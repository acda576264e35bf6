// ts6satchel: packs the files of a Tessarine application folder into a zip package for support.
#include "app/Assembly.h"
#include "app/SatchelWindow.h"
#include "app/frmViewer.h"
#include "base/ExitStatus.h"
#include "base/Logging.h"
#include "cli/BatchCommand.h"
#include "cli/ReadCommand.h"
#include "cli/Verbs.h"
#include "controller/BatchStart.h"
#include "diag/ErrorTrap.h"
#include "outside/HostFunctions.h"
#include "outside/Interruption.h"
#include "package/PackageSummary.h"
#include "platform/Descriptors.h"
#include "platform/HostName.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

void say(const QString& line)
{
    std::fprintf(stderr, "ts6satchel: %s\n", qPrintable(line));
    std::fflush(stderr);
}

// The arguments after the program's name, byte-exact: a name that is not UTF-8 keeps its bytes.
QStringList processArguments(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(HostName::decode(argv[i]));
    return arguments;
}

// The platforms to try in turn: the one asked for, or the displays that are set (X first, as Qt
// chooses by default), and then none at all, so that a display that cannot be reached never aborts
// the program.
QByteArray platformList()
{
    const QByteArray asked = qgetenv("QT_QPA_PLATFORM");
    QByteArrayList platforms;
    if (!asked.isEmpty())
        platforms.append(asked);
    else {
        if (!qEnvironmentVariableIsEmpty("DISPLAY"))
            platforms.append("xcb");
        if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            platforms.append("wayland");
    }
    if (!platforms.contains("offscreen"))
        platforms.append("offscreen");
    return platforms.join(';');
}

// Qt's notes about running without a display are no news to a batch start. Everything else Qt
// reports goes through as usual.
void quietOffscreenNotes(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR")) ||
        message.startsWith(QLatin1String("This plugin does not support")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

// While Qt chooses its platform, its notes about the platforms it could not use are left out too:
// the program says in one line that it goes on without a display.
void quietPlatformNotes(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (QLatin1String(context.category ? context.category : "").startsWith(QLatin1String("qt.qpa.")) ||
        message.startsWith(QLatin1String("Failed to create wl_display")))
        return;
    quietOffscreenNotes(type, context, message);
}

bool onDisplay()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// Tells why there are no windows when a display was set but could not be reached.
void noteUnreachableDisplay()
{
    if (qgetenv("QT_QPA_PLATFORM").contains("offscreen"))
        return; // asked for
    QStringList set;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
        if (!qEnvironmentVariableIsEmpty(name))
            set.append(QLatin1String(name) + QLatin1Char('=') + qEnvironmentVariable(name));
    if (!set.isEmpty())
        say(QStringLiteral("cannot reach the display (%1); going on without one")
                .arg(set.join(QStringLiteral(", "))));
}

// A signal closes what waits for a person: the open dialog (then the build sees the signal and
// ends), any dialog that would open after it, and the main window.
class SignalWatch : public QObject
{
public:
    explicit SignalWatch(QWidget& mainWindow)
        : m_mainWindow(mainWindow), m_watch(guarded([this] { signalled(); }))
    {
        if (Interruption::requested() != 0)
            signalled();
    }

private:
    void signalled()
    {
        if (!m_watchingDialogs) {
            qApp->installEventFilter(this);
            m_watchingDialogs = true;
        }
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            dialog->reject();
        if (m_mainWindow.isVisible())
            m_mainWindow.close();
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        return guarded([&] {
            auto* dialog = qobject_cast<QDialog*>(watched);
            if (event->type() == QEvent::Show && dialog && dialog->isModal())
                QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
            return false;
        })();
    }

    QWidget& m_mainWindow;
    const Interruption::Watch m_watch;
    bool m_watchingDialogs = false;
};

// Qt for a run that may show windows. Qt reads no arguments of the user's: only the platforms to
// try. Its notes about the platforms it could not use are left out; a display that was set but
// cannot be reached is said in one line.
class WindowSystem
{
public:
    explicit WindowSystem(char* program) : m_argv{program, m_option, m_platforms.data(), nullptr}
    {
        qInstallMessageHandler(quietPlatformNotes);
        m_app.emplace(m_argc, m_argv);
        qInstallMessageHandler(quietOffscreenNotes);
        m_headless = !onDisplay();
        if (m_headless)
            noteUnreachableDisplay();
        QApplication::setApplicationName(QStringLiteral("ts6satchel"));
        QApplication::setApplicationVersion(QStringLiteral(TS6_VERSION));
        QGuiApplication::setDesktopFileName(QStringLiteral(TS6_APP_ID));
    }
    bool headless() const { return m_headless; }

private:
    QByteArray m_platforms = platformList();
    char m_option[10] = "-platform";
    int m_argc = 3;
    char* m_argv[4];
    std::optional<QApplication> m_app;
    bool m_headless = true;
};

// "ts6satchel open": the viewer window, until it is closed (0; a signal closes it too); 2 without
// a display, or when the target cannot be read at all.
int showViewer(const QString& target, bool headless)
{
    if (headless) {
        say(QStringLiteral("no display to show the viewer"));
        return 2;
    }
    QString error;
    const std::unique_ptr<frmViewer> viewer = frmViewer::open(target, &error);
    if (!viewer) {
        say(error);
        return 2;
    }
    const ScreenKeeper screenKeeper;
    viewer->show();
    SignalWatch signalWatch(*viewer); // a signal that came while the target was read closes it at once
    if (viewer->isVisible())
        QApplication::exec();
    if (const int signal = Interruption::requested(); signal != 0)
        say(QStringLiteral("the viewer was closed by signal %1 (%2)")
                .arg(signal)
                .arg(QString::fromLocal8Bit(strsignal(signal))));
    return 0;
}

// With TS6_REPORT_RESOURCES set, the open descriptors at the end of the run go to standard error
// (the soak test watches them across hundreds of runs).
void reportResources()
{
    if (qEnvironmentVariableIsEmpty("TS6_REPORT_RESOURCES"))
        return;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    std::fprintf(stderr, "ts6satchel: open descriptors at exit: %lld\n",
                 static_cast<long long>(
                     fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size() - 1));
}

// The run the window started, as the summary tells it.
RunSummary runOfTheWindow(int status, const QString& reason)
{
    RunSummary run;
    run.status = status;
    run.reason = reason;
    return run;
}

// What the command line asks of a batch start's package.
PackageOptions batchOptions(const CommandLineOptions& options)
{
    return {.maskSecrets = options.redact,
            .maskNames = options.redactNames,
            .since = options.since,
            .maxLogBytes = options.maxLogSize,
            .digest = options.json,
            .checksum = options.checksum};
}

// Standard input, output or error closed by whoever started the program are opened on /dev/null,
// so that no file the program opens takes their place and receives what is meant for them.
void openClosedStandardStreams()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF)
            if (const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
                null >= 0 && null != fd) {
                ::dup2(null, fd);
                ::close(null);
            }
}

} // namespace

int main(int argc, char** argv)
{
    openClosedStandardStreams();
    // From here on a signal ends the run through its error path, leaving nothing.
    Interruption::install();
    Descriptors::raiseLimit();
    QElapsedTimer clock;
    clock.start();

    const QStringList arguments = processArguments(argc, argv);
    if (const VerbEntry* verb = findVerb(arguments.value(0))) {
        if (verb->run) { // a verb that needs no window
            QCoreApplication app(argc, argv);
            return verb->run(arguments.mid(1));
        }
        return runVerb(openGrammar(), arguments.mid(1), [&](const ReadOptions& open) {
            const WindowSystem windows(argv[0]);
            Q_INIT_RESOURCE(resources);
            return showViewer(open.paths.constFirst(), windows.headless());
        });
    }
    const BatchCommand command = parseArguments(arguments);
    if (const std::optional<int> status = answerWithoutRunning(command, batchGrammar())) {
        if (command.action == BatchCommand::Action::UsageError && command.options.json)
            std::fputs(summaryJson(runOfTheWindow(*status, command.error)).constData(), stdout);
        return *status;
    }
    const CommandLineOptions& options = command.options;

    const WindowSystem windows(argv[0]);
    const bool headless = windows.headless();
    Q_INIT_RESOURCE(resources);
    const ComponentMakers components = assembleComponents();

    Desktop desktop(headless);
    const ScreenKeeper screenKeeper; // every dialog opens inside the screen
    const QString commandLine = buildCommandLine(options.paths);
    SatchelWindow window(desktop, components, commandLine, batchOptions(options));
    SignalWatch signalWatch(window);
    const BatchStart batch(say);
    const RunSummary run = [&] {
        if (const QString refused = BatchStart::checksumRefused(options); !refused.isEmpty()) {
            RunSummary none = runOfTheWindow(1, {});
            batch.sayNone(none, refused);
            return none;
        }
        qCDebug(lcApp) << (commandLine.isEmpty() ? "window start" : "start with the command line")
                       << commandLine;
        window.controller().Form_Load();
        if (window.controller().unloaded()) {
            reportResources();
            return batch.ending(window.controller(), desktop.personNeeded(), options);
        }
        const QString why = commandLine.isEmpty() ? QString() : batch.whyNoPackage(window.controller());
        if (headless) {
            say(QStringLiteral("no display to show the main window; give a folder or template and a package "
                               "path to build a package without one (see --help)"));
            return runOfTheWindow(2, why);
        }
        window.show();
        const int status = QApplication::exec();
        if (const int signal = Interruption::requested(); signal != 0) {
            const QString closed = QStringLiteral("the window was closed by signal %1 (%2)")
                                       .arg(signal)
                                       .arg(QString::fromLocal8Bit(strsignal(signal)));
            say(closed);
            return runOfTheWindow(1, closed);
        }
        return runOfTheWindow(status, why);
    }();
    if (options.json) {
        RunSummary summary = run;
        summary.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        std::fputs(summaryJson(summary).constData(), stdout);
    }
    return run.status;
}
