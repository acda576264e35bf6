// The command line as the program reads it: options, and paths made what a Linux user means.
#include "platform/CommandLine.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QScopeGuard>
#include <QTest>

using Action = CommandLineOptions::Action;

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsWhatTheUserMeans_data();
    void readsWhatTheUserMeans();
};

void TestCommandLine::readsWhatTheUserMeans_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    // The usage error, or the command line of the start ("%T" the test's root on drive Z).
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, QStringList arguments, Action action, const QString& expected) {
        QTest::newRow(name) << arguments << int(action) << expected;
    };
    // Run in the folder C:\Apps, which holds the folder Orders.
    row("nothing", {}, Action::Run, QString());
    row("folder in other case", {"ORDERS"}, Action::Run, "\"C:\\Apps\\ORDERS\\\"");
    row("Windows-style folder without \\", {"C:\\Apps\\Orders"}, Action::Run, "\"C:\\Apps\\Orders\\\"");
    row("absolute host folder", {"%T/c/Apps/Orders"}, Action::Run, "\"C:\\Apps\\Orders\\\"");
    row("host path off the drives", {"%T/elsewhere/p.zip"}, Action::Run, "\"Z:%W\\elsewhere\\p.zip\"");
    row("relative template, Windows spelling", {"Orders\\ORDERS.TST6", "..\\p.zip"}, Action::Run,
        "\"C:\\Apps\\Orders\\ORDERS.TST6\" \"C:\\p.zip\"");
    row("relative template, host spelling", {"Orders/ORDERS.TST6", "p.zip"}, Action::Run,
        "\"C:\\Apps\\Orders\\ORDERS.TST6\" \"C:\\Apps\\p.zip\"");
    row("blank package path stays blank", {"Orders", " "}, Action::Run, "\"C:\\Apps\\Orders\\\" \" \"");
    row("a path after --", {"--", "-Odd"}, Action::Run, "\"C:\\Apps\\-Odd\"");
    row("- is a path", {"-"}, Action::Run, "\"C:\\Apps\\-\"");
    row("--help --version", {"--help", "--version"}, Action::Help, QString());
    row("-V", {"-V"}, Action::Version, QString());
    row("value to an option without one", {"--help=yes"}, Action::UsageError,
        "Unexpected value after '--help'.");
    row("three paths", {"Orders", "a.zip", "b.zip"}, Action::UsageError,
        "Too many paths: give one folder or template, and at most a package path.");
    row("a day that is not in the calendar", {"--since", "2026-02-30", "Orders"}, Action::UsageError,
        "--since: cannot read the date '2026-02-30': give YYYY-MM-DD, or Nd for the last N days.");
    row("a size in other units", {"--max-log-size=2GiB", "Orders"}, Action::UsageError,
        "--max-log-size: cannot read the size '2GiB': give bytes, or a number with K, M or G (200M, 2G).");
    row("options of a batch start without a folder", {"--redact"}, Action::UsageError,
        "--redact, --since, --max-log-size, --json and --checksum are for a batch start: give a folder or "
        "template (the main window keeps its own options under File > Options).");
}

void TestCommandLine::readsWhatTheUserMeans()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    QFETCH(QString, expected);
    TestEnvironment env;
    env.makeFolder(QStringLiteral("c/Apps/Orders"));
    const QString previous = QDir::currentPath();
    const auto back = qScopeGuard([&] { QDir::setCurrent(previous); });
    QDir::setCurrent(env.driveC() + QStringLiteral("/Apps"));
    for (QString& argument : arguments)
        argument.replace(QLatin1String("%T"), env.root());
    expected.replace(QLatin1String("%W"), QString(env.root()).replace(QLatin1Char('/'), QLatin1Char('\\')));

    const CommandLineOptions options = ParseArguments(arguments);
    QCOMPARE(int(options.action), action);
    if (options.action == Action::UsageError)
        QCOMPARE(options.error, expected);
    else if (options.action == Action::Run)
        QCOMPARE(BuildCommandLine(options.paths), expected);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
