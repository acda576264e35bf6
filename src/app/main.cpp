// ts6satchel: packs the files of a Tessarine application folder into a zip package for support.
#include "app/SatchelWindow.h"
#include "components/RegisterDesktop.h"
#include "components/Registration.h"
#include "outside/Interruption.h"
#include "platform/CommandLine.h"

#include <QApplication>
#include <QDir>

#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] =
    "Usage: ts6satchel [FOLDER\\ | TEMPLATE [PACKAGE]]\n"
    "\n"
    "Packs the files of a Tessarine application folder, with a version manifest, the product's\n"
    "logs and its configuration files, into one zip package for support.\n"
    "\n"
    "  (nothing)            open the main window on the last folder\n"
    "  FOLDER/              build a package of every template in the folder (a trailing / or \\)\n"
    "  TEMPLATE             build a package of one template (*.TST6 or *.TST)\n"
    "  PACKAGE              write the package there, with no dialog and no message\n"
    "  --help, --version    print this text or the version\n"
    "\n"
    "Paths may be host paths (/srv/tess/c/Apps/Orders/) or Windows-style (C:\\Apps\\Orders\\), mapped\n"
    "through TS6_DRIVES. Exit status: 0 package written (or window closed), 1 no package written,\n"
    "2 a person was needed but there is no display.\n";

// Qt's own notes about running without a display are no news to a batch start; everything else
// Qt reports goes through as usual.
void quietOffscreenNotes(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR")) ||
        message.startsWith(QLatin1String("This plugin does not support")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

bool headless()
{
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
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

int exitStatus(SatchelWindow& window, const Desktop& desktop)
{
    reportResources();
    const int signal = Interruption::Requested();
    if (signal != 0 && !window.controller().Builder().WrotePackage())
        std::fprintf(stderr, "ts6satchel: interrupted by signal %d; no package was written\n", signal);
    for (const QString& why : desktop.personNeeded())
        std::fprintf(stderr, "ts6satchel: no display to show %s\n", qPrintable(why));
    if (!desktop.personNeeded().isEmpty())
        return 2;
    return window.controller().Builder().WrotePackage() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("ts6satchel %s\n", TS6_VERSION);
        return 0;
    }
    const bool noDisplay = headless();
    if (noDisplay && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (noDisplay)
        qInstallMessageHandler(quietOffscreenNotes);

    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    QApplication::setApplicationName(QStringLiteral("ts6satchel"));
    QApplication::setApplicationVersion(QStringLiteral(TS6_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(TS6_APP_ID));
    RegisterCoreComponents();
    RegisterDesktopComponents();

    Desktop desktop(noDisplay);
    const QString commandLine = BuildCommandLine(QApplication::arguments().mid(1));
    // A start with a command line may build at once: a signal then ends the build cleanly.
    if (!commandLine.isEmpty())
        Interruption::Install();
    SatchelWindow window(desktop, commandLine);
    window.controller().Form_Load();
    if (window.controller().Unloaded())
        return exitStatus(window, desktop);
    Interruption::Uninstall();
    if (noDisplay) {
        std::fputs("ts6satchel: no display to show the main window; give a folder or template and a package "
                   "path to build a package without one (see --help)\n",
                   stderr);
        return 2;
    }
    window.show();
    return QApplication::exec();
}
