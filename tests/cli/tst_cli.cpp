#include "cli/BatchCommand.h"
#include "cli/CollectCommand.h"
#include "cli/ReadCommand.h"
#include "cli/UploadCommand.h"
#include "cli/Verbs.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

// What a command line came to: "64: " and the error, "help", or the run's options as describe
// reads them back.
template <typename Options, typename Describe>
QString outcome(const VerbCommand<Options>& c, const Describe& describe)
{
    using Action = typename VerbCommand<Options>::Action;
    if (c.action == Action::UsageError)
        return u"64: "_s + c.error;
    if (c.action == Action::Help)
        return u"help"_s;
    return describe(c.options);
}

} // namespace

// Every verb's command line read through its table, and the help, the manual page and the shell
// completion held to the same tables.
class TestCli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void batchLines_data();
    void batchLines();
    void verbLines_data();
    void verbLines();
    void hostsFiles_data();
    void hostsFiles();
    void recordedOptions_data();
    void recordedOptions();
    void everyOptionDocumented_data();
    void everyOptionDocumented();
};

using Action = BatchCommand::Action;
void TestCli::batchLines_data()
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
    row("relative template, host spelling", {"Orders/ORDERS.TST6", "p.zip"}, Action::Run,
        "\"C:\\Apps\\Orders\\ORDERS.TST6\" \"C:\\Apps\\p.zip\"");
    row("relative template, Windows spelling", {"Orders\\ORDERS.TST6", "..\\p.zip"}, Action::Run,
        "\"C:\\Apps\\Orders\\ORDERS.TST6\" \"C:\\p.zip\"");
    row("root of the working folder's drive", {"\\Apps\\Orders"}, Action::Run, "\"C:\\Apps\\Orders\\\"");
    row("a path after --", {"--", "-Odd"}, Action::Run, "\"C:\\Apps\\-Odd\"");
    row("- is a path", {"-"}, Action::Run, "\"C:\\Apps\\-\"");
    row("--help --version", {"--help", "--version"}, Action::Help, QString());
    row("-V", {"-V"}, Action::Version, QString());
    row("value to an option without one", {"--help=yes"}, Action::UsageError, "--help takes no value.");
    row("a relative path in a working folder that was removed", {"Orders"}, Action::UsageError,
        "Cannot read the working folder (removed, or its path too long): give absolute paths.");
    row("three paths", {"Orders", "a.zip", "b.zip"}, Action::UsageError,
        "Too many paths: give one folder or template, and at most a package path.");
    row("a day that is not in the calendar", {"--since", "2026-02-30", "--json", "Orders"},
        Action::UsageError,
        "--since: cannot read the date '2026-02-30': give YYYY-MM-DD, or Nd for the last N days.");
    row("a size in other units", {"--max-log-size=2GiB", "Orders"}, Action::UsageError,
        "--max-log-size: cannot read the size '2GiB': give bytes, or a number with K, M or G (200M, 2G).");
    row("options of a batch start without a folder", {"--redact"}, Action::UsageError,
        "--redact, --redact-names, --since, --max-log-size, --json and --checksum are for a batch start: "
        "give a "
        "folder or "
        "template (the main window keeps its own options under File > Options).");
}

void TestCli::batchLines()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    QFETCH(QString, expected);
    TestEnvironment env;
    env.makeFolder(QStringLiteral("c/Apps/Orders"));
    const QString previous = QDir::currentPath();
    const auto back = qScopeGuard([&] { QDir::setCurrent(previous); });
    QDir::setCurrent(env.driveC() + QStringLiteral("/Apps"));
    if (QByteArray(QTest::currentDataTag()).contains("removed"))
        QVERIFY(QDir::setCurrent(env.makeFolder(QStringLiteral("c/Gone"))) &&
                QDir().rmdir(env.path(QStringLiteral("c/Gone"))));
    for (QString& argument : arguments)
        argument.replace(QLatin1String("%T"), env.root());
    expected.replace(QLatin1String("%W"), QString(env.root()).replace(QLatin1Char('/'), QLatin1Char('\\')));

    const BatchCommand command = parseArguments(arguments);
    QCOMPARE(int(command.action), action);
    if (command.action != Action::Help) // said in JSON even when refused
        QCOMPARE(command.options.json, arguments.contains(QStringLiteral("--json")));
    if (command.action == Action::UsageError)
        QCOMPARE(command.error, expected);
    else if (command.action == Action::Run)
        QCOMPARE(buildCommandLine(command.options.paths), expected);
}

namespace {

// The command read back as one line: the hosts, the target and the settings that differ from the
// defaults.
QString collectSummary(const CollectLine& read)
{
    const CollectOptions& o = read.options;
    QStringList hosts;
    for (const HostEntry& h : o.hosts)
        hosts << (h.folder.isEmpty() ? h.host : h.host + u" folder="_s + h.folder);
    QString line = hosts.join(u',') + u" -- "_s + o.target;
    if (o.jobs != 4)
        line += u" jobs="_s + QString::number(o.jobs);
    if (o.timeoutSeconds != 600)
        line += u" timeout="_s + QString::number(o.timeoutSeconds);
    if (o.connectTimeoutSeconds != 15)
        line += u" connect="_s + QString::number(o.connectTimeoutSeconds);
    if (o.sudo)
        line += u" sudo"_s;
    if (o.acceptNewHostKeys)
        line += u" accept-new"_s;
    if (!o.buildOptions.isEmpty())
        line += u" build["_s + o.buildOptions.join(u' ') + u']';
    if (!o.resume.isEmpty())
        line += u" resume="_s + o.resume;
    return line;
}

// The command read back as one line: the target, and the settings that differ from the defaults.
QString uploadSummary(const UploadLine& read)
{
    const UploadOptions& o = read.options;
    QString line = o.target + u" -> "_s + o.url;
    if (!o.tokenFile.isEmpty())
        line += u" token="_s + o.tokenFile;
    if (!o.caCert.isEmpty())
        line += u" ca="_s + o.caCert;
    if (o.chunkBytes != UploadOptions().chunkBytes)
        line += u" chunk="_s + QString::number(o.chunkBytes);
    if (o.json)
        line += u" json"_s;
    return line;
}

} // namespace

// What each verb's command line comes to: the run's options as its summary reads them back,
// "help", or "64: " and the usage error.
void TestCli::verbLines_data()
{
    QTest::addColumn<QString>("verb");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const QString& verb, const QString& arguments,
                        const QString& expected) {
        QTest::newRow(name) << verb << arguments.split(u' ', Qt::SkipEmptyParts) << expected;
    };
    const auto collect = [&](const char* name, const QString& arguments, const QString& expected) {
        row(name, u"collect"_s, arguments, expected);
    };
    collect("hosts, users and ports", u"a ann@b c:2222 -- /srv/App"_s, u"a,ann@b,c:2222 -- /srv/App"_s);
    collect("every option, = and apart",
            u"--jobs=64 --timeout 2h --connect-timeout=90s --sudo --accept-new-host-keys h -- T"_s,
            u"h -- T jobs=64 timeout=7200 connect=90 sudo accept-new"_s);
    collect("build options passed on", u"h --redact-names --since 7d --max-log-size=200M -- T"_s,
            u"h -- T build[--redact-names --since 7d --max-log-size 200M]"_s);
    collect("a target that looks like an option", u"h -- --odd"_s, u"h -- --odd"_s);
    collect("help wins", u"h --help"_s, u"help"_s);
    collect("resume alone", u"--resume case-1"_s, u" --  resume=case-1"_s);
    collect("no host", u"-- T"_s, u"64: no host: give hosts, or --hosts-file FILE."_s);
    collect("no target", u"h"_s, u"64: no target: give the folder or template after --."_s);
    collect("two targets", u"h -- A B"_s, u"64: give one folder or template after --, not 2."_s);
    collect("unknown option", u"--fast h -- T"_s, u"64: unknown option '--fast'."_s);
    collect("a switch with a value", u"--sudo=yes h -- T"_s, u"64: --sudo takes no value."_s);
    collect("value missing at the end", u"h --jobs"_s, u"64: --jobs needs a value."_s);
    collect("jobs 0", u"--jobs 0 h -- T"_s, u"64: --jobs: give a number from 1 to 64, not '0'."_s);
    collect("jobs 65", u"--jobs 65 h -- T"_s, u"64: --jobs: give a number from 1 to 64, not '65'."_s);
    collect("a bad since, as the build says it", u"--since yesterday h -- T"_s,
            u"64: --since: cannot read the date 'yesterday': give YYYY-MM-DD, or Nd for the last N days."_s);
    collect("a host that ssh would read as an option", u"-oProxyCommand=x -- T"_s,
            u"64: unknown option '-o'."_s);
    collect(
        "one host twice, as its folder names it", u"ann@db db ann_db -- T"_s,
        u"64: the hosts 'ann@db' and 'ann_db' would share the folder hosts/ann_db; give each host once."_s);
    collect(
        "resume with another option", u"--resume c --timeout 1s"_s,
        u"64: --resume runs with the options kept in the case folder; give only --json and --ssh-config with it."_s);
    collect("resume with the user's ssh configuration", u"--ssh-config /dev/null --json --resume c"_s,
            u" --  resume=c"_s);
    collect("resume with hosts", u"--resume c h"_s,
            u"64: --resume reads the hosts and the target from the case folder; give neither."_s);
    // The arguments apart at "|", %U the server's address.
    const QString url = u"https://support.example.invalid/files/"_s;
    const auto upload = [&url](const char* name, const QString& arguments, const QString& expected) {
        QTest::newRow(name) << u"upload"_s << QString(arguments).replace(u"%U"_s, url).split(u'|')
                            << QString(expected).replace(u"%U"_s, url);
    };
    const QString badSize = u"64: --chunk-size: '%1' is not a size from 64K to 1G (8M, 512K, 1G)."_s;
    const QString notHttp = u"64: --url: '%1' is not an http or https address."_s;
    upload("upload", u"p.zip|--url|%U"_s, u"p.zip -> %U"_s);
    upload("upload, every option, = form", u"--url=%U|--token-file=t|--cacert|ca.pem|--json|p.zip"_s,
           u"p.zip -> %U token=t ca=ca.pem json"_s);
    upload("upload, a target after --", u"--url|%U|--|--odd.zip"_s, u"--odd.zip -> %U"_s);
    upload("upload, help wins", u"--bogus|-h"_s, u"64: unknown option '--bogus'."_s);
    upload("upload, help", u"--help"_s, u"help"_s);
    // Chunk sizes at and one past each limit.
    upload("chunk 64K", u"p|--url|%U|--chunk-size|64K"_s, u"p -> %U chunk=65536"_s);
    upload("chunk 65535", u"p|--url|%U|--chunk-size|65535"_s, badSize.arg(u"65535"_s));
    upload("chunk 1g", u"p|--url|%U|--chunk-size=1g"_s, u"p -> %U chunk=1073741824"_s);
    upload("chunk 1073741825", u"p|--url|%U|--chunk-size=1073741825"_s, badSize.arg(u"1073741825"_s));
    upload("chunk garbage", u"p|--url|%U|--chunk-size=8MB"_s, badSize.arg(u"8MB"_s));
    upload("no url", u"p"_s, u"64: --url: give the upload server's address (https://...)."_s);
    upload("ftp", u"p|--url=ftp://h/x"_s, notHttp.arg(u"ftp://h/x"_s));
    upload("no host in the URL", u"p|--url=https:///x"_s, notHttp.arg(u"https:///x"_s));
    upload("a line break", u"p|--url=http://h/x\r\nX-A: 1"_s, notHttp.arg(u"http://h/x\r\nX-A: 1"_s));
    upload("a password in a URL that cannot be read", u"p|--url=http://alice:Pa55%zzword@h/x"_s,
           notHttp.arg(u"http://h/x"_s));
    upload("no value", u"p|--url"_s, u"64: --url needs a value."_s);
    upload("json takes none", u"p|--url|%U|--json=1"_s, u"64: --json takes no value."_s);
    upload("no package", u"--url|%U"_s, u"64: give the package or case folder to send."_s);
    upload("two packages", u"a|b|--url|%U"_s, u"64: give one package or case folder, not 2."_s);
    // show, diff and open: the paths and switches.
    row("show", u"show"_s, u"p.zip --json"_s, u"p.zip json"_s);
    row("show of two", u"show"_s, u"a b"_s, u"64: name one package or case folder."_s);
    row("diff with both switches", u"diff"_s, u"--logs a --json b"_s, u"a|b json logs"_s);
    row("diff of one", u"diff"_s, u"a"_s, u"64: name the two packages to compare."_s);
    row("diff unknown option", u"diff"_s, u"-x a b"_s, u"64: unknown option '-x'."_s);
    row("a path after --", u"show"_s, u"-- -odd.zip"_s, u"-odd.zip"_s);
    row("open takes no --json", u"open"_s, u"--json p"_s, u"64: unknown option '--json'."_s);
    row("show takes no --logs", u"show"_s, u"--logs p"_s, u"64: unknown option '--logs'."_s);
    row("open, help", u"open"_s, u"p -h"_s, u"help"_s);
}

void TestCli::verbLines()
{
    QFETCH(QString, verb);
    QFETCH(QStringList, arguments);
    const auto read = [](const ReadOptions& o) {
        return o.paths.join(u'|') + (o.json ? u" json"_s : QString()) + (o.logs ? u" logs"_s : QString());
    };
    const QString line = verb == u"collect"_s  ? outcome(parseCollectArguments(arguments), collectSummary)
                         : verb == u"upload"_s ? outcome(parseUploadArguments(arguments), uploadSummary)
                         : verb == u"show"_s   ? outcome(parseShowArguments(arguments), read)
                         : verb == u"diff"_s   ? outcome(parseDiffArguments(arguments), read)
                                               : outcome(parseOpenArguments(arguments), read);
    QTEST(line, "expected");
}

void TestCli::hostsFiles_data()
{
    QTest::addColumn<QString>("kind");     // "file" and what it holds, "fifo", "missing", or a path
    QTest::addColumn<QString>("expected"); // the command read, or the error; %F the file named
    const auto row = [](const char* name, const QString& kind, const QString& expected) {
        QTest::newRow(name) << kind << expected;
    };
    const QString notPlain = u"64: --hosts-file: %F is not a plain file of at most 16 MiB."_s;
    row("a plain file", u"file a\nb\n"_s, u"a,b -- T"_s);
    row("a line that is no host", u"file a\na b\n"_s,
        u"64: %F:2: cannot read the line 'a b': give HOST, or HOST folder=PATH."_s);
    row("a FIFO, never waited on", u"fifo"_s, notPlain);
    row("a device without end", u"/dev/zero"_s, notPlain);
    row("no such file", u"missing"_s, u"64: --hosts-file: cannot read %F: No such file or directory"_s);
}

// A hosts file is read only when it is a plain file: nothing else holds the command line.
void TestCli::hostsFiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString file = kind.startsWith(u'/') ? kind : dir.filePath(u"hosts"_s);
    if (kind.startsWith(u"file "_s))
        QVERIFY(writeFile(file, kind.mid(5).toUtf8()));
    else if (kind == u"fifo"_s)
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    QCOMPARE(outcome(parseCollectArguments({u"--hosts-file"_s, file, u"--"_s, u"T"_s}), collectSummary),
             QString(expected).replace(u"%F"_s, file));
}

void TestCli::recordedOptions_data()
{
    QTest::addColumn<QString>("recorded");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const QString& recorded, const QString& expected) {
        QTest::newRow(name) << recorded << expected;
    };
    const QString notKept = u"'%1' is no option that collect keeps."_s;
    row("what collect records",
        u"--redact --since 7d --jobs 8 --timeout 60 --connect-timeout 15 --sudo --accept-new-host-keys"_s,
        u"jobs=8 timeout=60 sudo accept-new build[--redact --since 7d]"_s);
    row("an ssh configuration told, not taken", u"--jobs 4 --ssh-config /etc/x"_s, u"jobs=4 config=/etc/x"_s);
    row("an option collect never records", u"--hosts-file /etc/passwd"_s, notKept.arg(u"--hosts-file"_s));
    row("a host", u"--jobs 4 h"_s, notKept.arg(u"h"_s));
    row("a value past the limit", u"--jobs 65"_s, u"--jobs: give a number from 1 to 64, not '65'."_s);
    row("no value at the end", u"--jobs"_s, u"--jobs needs a value."_s);
    row("help", u"-hV"_s, notKept.arg(u"-hV"_s));
    row("long help", u"--jobs 4 --help"_s, notKept.arg(u"--help"_s));
    row("the end of the options", u"--jobs 4 --"_s, notKept.arg(u"--"_s));
}

// A resume reads the options a case folder keeps through collect's own table, and nothing else.
void TestCli::recordedOptions()
{
    QFETCH(QString, recorded);
    QFETCH(QString, expected);
    QString sshConfig;
    QString why;
    const std::optional<CollectOptions> read = readRecordedOptions(recorded.split(u' '), &sshConfig, &why);
    if (!read) {
        QCOMPARE(why, expected);
        return;
    }
    QStringList line{u"jobs="_s + QString::number(read->jobs),
                     u"timeout="_s + QString::number(read->timeoutSeconds)};
    if (read->timeoutSeconds == 600)
        line.removeLast();
    if (read->sudo)
        line << u"sudo"_s;
    if (read->acceptNewHostKeys)
        line << u"accept-new"_s;
    if (!read->buildOptions.isEmpty())
        line << u"build["_s + read->buildOptions.join(u' ') + u']';
    if (!sshConfig.isEmpty())
        line << u"config="_s + sshConfig;
    QVERIFY(read->sshConfig.isEmpty());
    QCOMPARE(line.join(u' '), expected);
}

namespace {

QString sourceFile(const QString& name)
{
    QFile file(QStringLiteral(TS6_SOURCE_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(file.fileName()));
    return QString::fromUtf8(file.readAll());
}

// The options a piece of the manual page names in its .TP headings, as "--name" and "-x".
QStringList manOptions(const QString& section)
{
    QStringList names;
    const QStringList lines = section.split(u'\n');
    static const QRegularExpression option(uR"((?:^|[\s"])\\-(\\-[a-z][a-z\\-]*|[a-zA-Z])\b)"_s);
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (lines.at(i) != u".TP"_s)
            continue;
        for (const QRegularExpressionMatch& m : option.globalMatch(lines.at(i + 1)))
            names.append(u"-"_s + QString(m.captured(1)).remove(u'\\'));
    }
    names.removeDuplicates();
    names.sort();
    return names;
}

// The part of the manual page about one verb: its .SS section, or OPTIONS for the batch start.
QString manSection(const QString& page, const QString& verb)
{
    const QString heading = verb.isEmpty() ? u"\n.SH OPTIONS\n"_s : u"\n.SS \"ts6satchel "_s + verb + u' ';
    const qsizetype start = page.indexOf(heading);
    if (start < 0)
        return {};
    static const QRegularExpression next(u"\n\\.S[HS] "_s);
    const qsizetype end = page.indexOf(next, start + 1);
    return page.mid(start, end < 0 ? -1 : end - start);
}

// The options the completion offers for a verb ("*" the batch start).
QStringList completionOptions(const QString& script, const QString& verb)
{
    static const QRegularExpression line(uR"(^\s*([a-z]+|\*)\)(?: verb=\w+)? options=\(([^)]*)\) ;;$)"_s,
                                         QRegularExpression::MultilineOption);
    for (const QRegularExpressionMatch& m : line.globalMatch(script))
        if (m.captured(1) == (verb.isEmpty() ? u"*"_s : verb)) {
            QStringList names = m.captured(2).split(u' ', Qt::SkipEmptyParts);
            names.sort();
            return names;
        }
    return {};
}

} // namespace

void TestCli::everyOptionDocumented_data()
{
    QTest::addColumn<QString>("verb");
    QTest::addColumn<QString>("help");
    QTest::addColumn<QStringList>("options");
    const auto add = [](const QString& verb, const VerbText& text, const std::vector<OptionInfo>& options) {
        QStringList names;
        for (const OptionInfo& option : listedOptions(text, options))
            for (const QString& name : option.names)
                names.append((name.size() == 1 ? u"-"_s : u"--"_s) + name);
        names.sort();
        QTest::newRow(verb.isEmpty() ? "batch start" : qPrintable(verb))
            << verb << helpText(text, options) << names;
    };
    add({}, batchGrammar().text, batchGrammar().optionList());
    for (const VerbEntry& verb : verbTable())
        add(verb.name, verb.text(), verb.options());
}

// The help, the manual page and the completion name every option of a verb's table, and none
// it does not have; an option that takes a value has its own completion; every variable a help
// names is in the manual page.
void TestCli::everyOptionDocumented()
{
    QFETCH(QString, verb);
    QFETCH(QString, help);
    QFETCH(QStringList, options);
    const QString page = sourceFile(u"data/ts6satchel.1.in"_s);
    const QString script = sourceFile(u"data/ts6satchel.bash-completion"_s);
    for (const QString& name : options)
        QVERIFY2(help.contains(name), qPrintable(name));
    QCOMPARE(manOptions(manSection(page, verb)), options);
    QCOMPARE(completionOptions(script, verb), options);
    if (!verb.isEmpty())
        QVERIFY2(script.contains(u"\n        "_s + verb + u") verb="_s + verb), qPrintable(verb));
    const Grammar<CommandLineOptions>& batch = batchGrammar();
    const std::vector<OptionInfo> table = verb.isEmpty() ? batch.optionList() : findVerb(verb)->options();
    static const QRegularExpression valueCase(uR"(^\s+(--[a-z-]+(?: \| --[a-z-]+)*)\)$)"_s,
                                              QRegularExpression::MultilineOption);
    QStringList completed;
    for (const QRegularExpressionMatch& m : valueCase.globalMatch(script))
        completed += m.captured(1).split(u" | "_s);
    for (const OptionInfo& option : table)
        if (option.takesValue())
            QVERIFY2(completed.contains(option.longName()), qPrintable(option.longName()));
    const qsizetype environment = page.indexOf(u"\n.SH ENVIRONMENT\n"_s);
    const QString variables = page.mid(environment, page.indexOf(u"\n.SH "_s, environment + 1) - environment);
    static const QRegularExpression variable(u"\\bTS6_[A-Z_]+"_s);
    for (const QRegularExpressionMatch& m : variable.globalMatch(help))
        QVERIFY2(environment >= 0 && variables.contains(m.captured(0)), qPrintable(m.captured(0)));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
