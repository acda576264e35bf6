// Runs the built program as a user or a script would: no display, its environment pointed at
// temporary folders, and looks at what it leaves behind.
#include "support/ArchiveCheck.h"
#include "support/ProgramWorld.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

#include <cstdio>
#include <sys/stat.h>

namespace {

// A text as UTF-16 LE, as Windows tools write it.
QByteArray utf16(const QString& text)
{
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

const QString kLogs = QStringLiteral("c/ProgramData/Norvale/TS6/logs/");
// Settings that their owner made read-only, for runs whose XDG_CONFIG_HOME is "%R/readonly".
const QString kReadOnlySettings = QStringLiteral("readonly/Norvale/TS6/ts6satchel.ini");
const QByteArray kStoredSettings =
    "[Settings]\nWindowLeft=5\nWindowTop=6\nWindowWidth=700\nWindowHeight=500\n";
// The installation the runs pack: a template with files in two folders, and a folder named in
// Latin-1, not UTF-8 ("Café"). The trace goes to the product's log folder, as it does by default.
class Installation : public ProgramWorld
{
public:
    Installation()
    {
        writeTemplate("c/App/ORDERS.TST6",
                      {{"CUST", "P", "C:\\App\\CUST.TPT", "C:\\Data\\ORDERS.LOG", {}, {}}});
        write("c/App/CUST.TPT", "popup");
        write("c/Data/ORDERS.LOG", "log");
        QDir().mkpath(path("c/Latin"));
        QFile::link(path("c/App/ORDERS.TST6"), path("c/Latin/ODD.TST6"));
        std::rename(QFile::encodeName(path("c/Latin")), QFile::encodeName(path("c/Caf")) + "\xe9");
        environment = QStringList{"TS6_SHARED_PATH=" + path("c/Shared"), "TS6_LOG_DIR="};
        write(kReadOnlySettings, kStoredSettings);
        setMode(path(kReadOnlySettings), 0444);
    }
};

// The files with secrets that the options rows pack, each with its age in days. Every secret
// value ends in "Secret" and a digit; a binary file keeps its own. A Windows tool's log is UTF-16
// (".u16."), and a log cut short by a crash is padded with NULs.
const QList<std::tuple<const char*, QByteArray, double>> kSecretive{
    {"c/ProgramData/Norvale/TS6/logs/old.log", "started\npassword=OldSecret1\n", 40},
    {"c/ProgramData/Norvale/TS6/logs/old\\x.log", "a name with a backslash\n", 41}, // one entry component
    {"c/ProgramData/Norvale/TS6/logs/mid.log", QByteArray("a log line\n").repeated(300), 20},
    {"c/ProgramData/Norvale/TS6/logs/new.log",
     QByteArray("a log line\n").repeated(290) +
         "token: NewSecret2\nto db01.corp.example 10.1.2.3 [fe80::1] as ann on TESTPC\n",
     3},
    {"c/ProgramData/Norvale/TS6/logs/settings/agent.ini",
     "[auth]\r\nPassword=IniSecret3\r\nPasswordPolicy=Strict\r\n", 2},
    {"c/ProgramData/Norvale/TS6/logs/state.json", R"({"apiKey": "JsonSecret4", "user": "ann"})", 1},
    {"c/ProgramData/Norvale/TS6/logs/core.dmp",
     QByteArray("MDMP\x01\x02\x03\x04\x05\x06\x07\x08\x0e\x0fpassword=BinarySecret5\n"), 0.05},
    {"c/ProgramData/Norvale/TS6/logs/agent.u16.log",
     utf16(QChar(0xFEFF) + QStringLiteral("started\r\npassword=WideSecretA\r\n")), 0.5},
    {"c/ProgramData/Norvale/TS6/logs/crash.log", "password=PadSecretB\n" + QByteArray(3000, '\0'), 0.2},
    {"c/ProgramData/Norvale/TS6/TS6.CONFIG",
     "<a key=\"DbPassword\" value=\"XmlSecret6\" />\nPassword=IniSecret7\nServer=db01.corp.example\n", 0},
    {"c/Shared/Tess.config", "<settings><password>ElemSecret8</password></settings>\n", 0},
    {"c/Shared/GLOBAL.TSX", "nothing to mask\n", 0},
    {"c/Data/ORDERS.LOG", "pwd=AppSecret9\n", 0},
    {"c/App/ORDERS.TSD6", "password=DataSecret0\n", 0},
};

} // namespace

using namespace Qt::StringLiterals;

class TestProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startsAsTyped_data();
    void startsAsTyped();
    void everyVerbAnswersAlike_data();
    void everyVerbAnswersAlike();
    void whatTheOptionsPack_data();
    void whatTheOptionsPack();
};

void TestProgram::startsAsTyped_data()
{
    QTest::addColumn<QString>("folder"); // the working folder, below the root
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<int>("status");
    // The first file line of the package's manifest; empty when no package may be written.
    QTest::addColumn<QString>("firstFile");
    // The last lines of standard error, each a beginning; "%R" is the root of the test's world.
    QTest::addColumn<QStringList>("lastErrors");
    QTest::addColumn<QStringList>("outputHolds"); // what standard output holds; nothing when empty
    const QString orders = " 1  C:\\APP\\ORDERS.TST6";
    const QString wrote = "ts6satchel: wrote %R/c/Out/p.zip (";
    const QString noDisplay = "ts6satchel: no display to show the main window; ";
    const QString missing = "ts6satchel: no package was written: The folder of the package does not exist";
    const auto row = [](const char* name, const char* folder, const QStringList& arguments,
                        const QStringList& environment, int status, const QString& firstFile,
                        const QStringList& lastErrors, const QStringList& outputHolds = {}) {
        QTest::newRow(name) << folder << arguments << environment << status << firstFile << lastErrors
                            << outputHolds;
    };
    row("a folder name that is not UTF-8", "", {"%R/c/Caf\\xe9", "%R/c/Out/p.zip"}, {}, 0, "\\ODD.TST6",
        {wrote});
    row("settings its owner made read-only: read, left as they are, the package built", "",
        {"%R/c/App", "%R/c/Out/p.zip"}, {"XDG_CONFIG_HOME=%R/readonly"}, 0, orders,
        {"ts6satchel: the settings could not be stored: Cannot write the settings file %R/" +
             kReadOnlySettings + ": it is read-only",
         wrote});
    row("unreachable displays", "", {"%R/c/App", "%R/c/Out/p.zip"},
        {"DISPLAY=:4093", "WAYLAND_DISPLAY=no-compositor"}, 0, orders, {wrote});
    row("package path ending in /", "", {"%R/c/App", "%R/c/Out/p/"}, {}, 1, "",
        {"ts6satchel: no package was written: The package path names a folder, not a file: %R/c/Out/p\n"});
    row("a checksum name past the limit: refused before the build", "",
        {"--checksum", "%R/c/App", "%R/c/Out/" + QString(250, 'c')}, {}, 1, "",
        {"ts6satchel: no package was written: Cannot write the checksum %R/c/Out/ccc"});
    row("blank package path", "", {"%R/c/App", " "}, {}, 1, "",
        {"ts6satchel: no package was written: the package path is empty\n"});
    row("no package path and no display", "", {"%R/c/App"}, {}, 2, "",
        {"ts6satchel: no package was written: no display to show the save dialog"});
    row("template not found", "", {"%R/c/App/NONE.TST6", "%R/c/Out/p.zip"}, {}, 2, "",
        {"ts6satchel: template not found: %R/c/App/NONE.TST6\n", noDisplay});
    row("folder without templates", "c", {"Data"}, {}, 2, "",
        {"ts6satchel: no templates (*.TST6, *.TST) in the folder %R/c/Data\n", noDisplay});
    row("no arguments, unreachable display", "", {}, {"DISPLAY=:4093"}, 2, "",
        {"ts6satchel: cannot reach the display (DISPLAY=:4093)", noDisplay});
    row("open, unreachable display", "", {"open", "%R/c/Out/p.zip"}, {"DISPLAY=:4093"}, 2, "",
        {"ts6satchel: cannot reach the display (DISPLAY=:4093)",
         "ts6satchel: no display to show the viewer\n"});
    row("--json on a package that cannot be written", "", {"--json", "%R/c/App", "%R/c/Out/missing/p.zip"},
        {}, 1, "", {missing + ": %R/c/Out/missing/p.zip\n"},
        {"{\"bytes\":null,", "\"package\":null,", "\"status\":1}\n",
         "\"reason\":\"The folder of the package does not exist: %R/c/Out/missing/p.zip\","});
    row("unknown option", "", {"--json", "--bogus", "%R/c/App", "%R/c/Out/p.zip"}, {}, 64, "",
        {"ts6satchel: unknown option '--bogus'.\n", "Usage: ts6satchel [OPTION]... ",
         "       ts6satchel collect ", "       ts6satchel upload ", "       ts6satchel show ",
         "       ts6satchel open ", "       ts6satchel diff ",
         "Try 'ts6satchel --help' for more information.\n"},
        {"\"package\":null,", "\"reason\":\"unknown option '--bogus'.\",", "\"status\":64}\n"});
    row("-h", "", {"-h", "%R/c/App"}, {}, 0, "", {},
        {"Usage: ts6satchel", "-h, --help", "-V, --version", "  0  ", "  1  ", "  2  ", "  64  ",
         "TS6_DRIVES", "TS6_PROGRAMDATA", "TS6_LOG_DIR", "TMPDIR", "DISPLAY"});
}

void TestProgram::everyVerbAnswersAlike_data()
{
    QTest::addColumn<QString>("verb");
    for (const char* verb : {"collect", "upload", "show", "open", "diff"})
        QTest::newRow(verb) << QString::fromLatin1(verb);
}

// Every verb answers --help with its usage on standard output, and an unknown option with the
// same three parts on standard error as the batch start (its rows "-h" and "unknown option"): the
// reason, the usage, where to read more.
void TestProgram::everyVerbAnswersAlike()
{
    QFETCH(QString, verb);
    const QString program = u"ts6satchel "_s + verb;
    const QStringList before{verb};
    const Installation inst;
    const ProgramRun help = inst.run(before + QStringList{u"--help"_s}, {}, "");
    QCOMPARE(help.status, 0);
    QVERIFY2(help.out.startsWith(u"Usage: "_s + program + u' '), qPrintable(help.out));
    QVERIFY2(help.out.contains(u"\n  -h, --help "_s), qPrintable(help.out));
    const ProgramRun refused = inst.run(before + QStringList{u"--bogus"_s, u"x"_s}, {}, "");
    QCOMPARE(refused.status, 64);
    QVERIFY2(refused.err.startsWith(program + u": unknown option '--bogus'.\nUsage: "_s + program + u' '),
             qPrintable(refused.err));
    QVERIFY2(refused.err.endsWith(u"\nTry '"_s + program + u" --help' for more information.\n"_s),
             qPrintable(refused.err));
}

void TestProgram::startsAsTyped()
{
    QFETCH(QString, folder);
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(int, status);
    QFETCH(QString, firstFile);
    QFETCH(QStringList, lastErrors);
    QFETCH(QStringList, outputHolds);
    const Installation inst;
    const auto rooted = [&](QString text) { return text.replace("%R/", inst.path({})); };
    arguments.replaceInStrings("%R/", inst.path({}));
    environment.replaceInStrings("%R/", inst.path({}));

    const ProgramRun run = inst.run(arguments, environment, folder);
    QVERIFY2(run.status == status, qPrintable(run.err));
    const QStringList last = run.err.split('\n').mid(run.err.count('\n') - lastErrors.size());
    for (qsizetype i = 0; i < lastErrors.size(); ++i)
        QVERIFY2((last.value(i) + '\n').startsWith(rooted(lastErrors[i])), qPrintable(run.err));
    for (const QString& text : outputHolds)
        QVERIFY2(run.out.contains(rooted(text)), qPrintable(run.out));
    QVERIFY(!outputHolds.isEmpty() || run.out.isEmpty());

    const QString package = inst.path("c/Out/p.zip");
    if (firstFile.isEmpty()) {
        QCOMPARE(inst.entries("c/Out"), QStringList());
    } else {
        const ArchiveReport report = checkArchive(package);
        QVERIFY2(report.valid(), qPrintable(report.details));
        const QString manifest = QString::fromUtf8(readEntry(package, "TSVERSION.TXT"));
        QVERIFY2(manifest.contains(firstFile + "\r\n"), qPrintable(manifest));
        const QByteArray trace =
            readFile(inst.path(kLogs + "TS6Satchel.log")); // complete when the program ends
        QVERIFY(trace.trimmed().split('\n').last().contains("END: frmSatchel, Form_Load"));
        // A first run stores the window's default placement, though the screen does not hold it whole.
        const QSettings settings(inst.path("config/Norvale/TS6/ts6satchel.ini"), QSettings::IniFormat);
        QStringList placement;
        for (const char* key : {"WindowLeft", "WindowTop", "WindowWidth", "WindowHeight"})
            placement.append(settings.value(QString("Settings/") + key, "none").toString());
        if (!environment.contains("XDG_CONFIG_HOME=" + inst.path("readonly"))) {
            QCOMPARE(placement.mid(2), (QStringList{"800", "600"}));
            QVERIFY(!placement.contains("none"));
        }
    }
    QCOMPARE(readFile(inst.path(kReadOnlySettings)), kStoredSettings);
    // A usage error writes nothing at all: no trace, no settings, no manifest.
    QVERIFY(status != 64 || ((inst.entries(kLogs) + inst.entries("tmp")).isEmpty() &&
                             !QFileInfo::exists(inst.path("config"))));
}

void TestProgram::whatTheOptionsPack_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("logs");    // the log folder's entries in package order, below it
    QTest::addColumn<QStringList>("leftOut"); // the comment's lines, "%L" the log folder
    QTest::addColumn<QByteArray>("redacted"); // REDACTED.TXT; empty: no such entry, nothing masked
    const QString monthAgo = QDate::currentDate().addDays(-30).toString(Qt::ISODate);
    const QString tenDaysAgo = QDate::currentDate().addDays(-10).toString(Qt::ISODate);
    const QStringList recent{"core.dmp",   "crash.log",          "agent.u16.log",
                             "state.json", "settings/agent.ini", "new.log"};
    QTest::newRow("plain: every file as it is, in the order listed")
        << QStringList()
        << QStringList{"agent.u16.log", "core.dmp",    "crash.log",  "mid.log",           "new.log",
                       "old.log",       "old%5Cx.log", "state.json", "settings/agent.ini"}
        << QStringList() << QByteArray();
    QTest::newRow("--redact, --since Nd, --max-log-size, --json, --checksum")
        << QStringList{"--redact", "--since", "30d", "--max-log-size", "7K", "--json", "--checksum"} << recent
        << QStringList{"%L\\mid.log: log budget of 7 KB reached", "%L\\old.log: older than " + monthAgo,
                       "%L\\old\\x.log: older than " + monthAgo}
        << QByteArray("TS6Satchel masked the secrets in the text files of this package: each value became "
                      "********.\r\nFiles checked: 12. Values masked: 10; in 9 files:\r\n"
                      "      1  C/App/ORDERS.TSD6\r\n"
                      "      1  C/Data/ORDERS.LOG\r\n"
                      "      1  C/ProgramData/Norvale/TS6/logs/crash.log\r\n"
                      "      1  C/ProgramData/Norvale/TS6/logs/agent.u16.log (UTF-16 LE)\r\n"
                      "      1  C/ProgramData/Norvale/TS6/logs/state.json\r\n"
                      "      1  C/ProgramData/Norvale/TS6/logs/settings/agent.ini\r\n"
                      "      1  C/ProgramData/Norvale/TS6/logs/new.log\r\n"
                      "      2  C/ProgramData/Norvale/TS6/TS6.CONFIG\r\n"
                      "      1  C/Shared/Tess.config\r\n"
                      "Files not checked, packed as they are (not text): 1\r\n"
                      "         C/ProgramData/Norvale/TS6/logs/core.dmp\r\n");
    QTest::newRow("--redact-names, --json: names and addresses as placeholders, the map beside the package")
        << QStringList{"--redact-names", "--json"}
        << QStringList{"agent.u16.log", "core.dmp",    "crash.log",  "mid.log",           "new.log",
                       "old.log",       "old%5Cx.log", "state.json", "settings/agent.ini"}
        << QStringList() << QByteArray("names");
    QTest::newRow("--since a date") << QStringList{"--since", tenDaysAgo} << recent
                                    << QStringList{"%L\\mid.log: older than " + tenDaysAgo,
                                                   "%L\\old.log: older than " + tenDaysAgo,
                                                   "%L\\old\\x.log: older than " + tenDaysAgo}
                                    << QByteArray();
}

// The options of a batch start on files with secrets: which log files go in, in which order, and
// every entry as its file, or as its file masked; the JSON summary and the checksum file agree
// with the package.
void TestProgram::whatTheOptionsPack()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, logs);
    QFETCH(QStringList, leftOut);
    QFETCH(QByteArray, redacted);
    Installation inst;
    inst.environment << "TS6_LOG_DIR=" + inst.path("trace") // the log folder holds only these files
                     << "COMPUTERNAME=TESTPC"
                     << "USERNAME=ann";
    const bool names = redacted == "names";
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (const auto& [path, content, age] : kSecretive) {
        inst.write(path, content);
        const QString time = '@' + QString::number(now - static_cast<qint64>(age * 86400));
        QCOMPARE(QProcess::execute("touch", {"-d", time, inst.path(path)}), 0);
    }
    const QString package = inst.path("c/Out/p.zip");
    const ProgramRun run = inst.run(options + QStringList{inst.path("c/App/"), package});
    QVERIFY2(run.status == 0, qPrintable(run.err));

    const ArchiveReport report = checkArchive(package);
    QVERIFY2(report.valid(), qPrintable(report.details));
    const QString logFolder = "C" + kLogs.mid(1);
    QCOMPARE(report.names.filter(logFolder).replaceInStrings(logFolder, QString()), logs);
    QCOMPARE(report.comment, leftOut.join('\n').replace("%L", "C:\\ProgramData\\Norvale\\TS6\\logs"));
    if (names) {
        QFile map(package + ".names");
        struct stat st
        {};
        QVERIFY(map.open(QIODevice::ReadOnly) && ::fstat(map.handle(), &st) == 0 &&
                (st.st_mode & 0777) == 0600);
        const QByteArray mapText = map.readAll();
        for (const char* original :
             {"= TESTPC\n", "= ann\n", "= db01.corp.example\n", "= 10.1.2.3\n", "= fe80::1\n"})
            QVERIFY2(mapText.contains(original), mapText.constData());
        QVERIFY(report.names.filter(".names").isEmpty());
        for (const QString& entry : report.names) {
            const QByteArray text = readEntry(package, entry);
            for (const char* original : {"TESTPC", "db01", "10.1.2.3", "fe80", " ann"})
                QVERIFY2(!text.contains(original), qPrintable(entry + ": " + original));
        }
        QVERIFY(readEntry(package, "TSVERSION.TXT").contains("Computer Name: host-"));
    } else {
        QCOMPARE(readEntry(package, "REDACTED.TXT"), redacted);
    }
    for (const ArchiveEntry& entry : report.entries) {
        if (names)
            break; // names differ: the map above tells
        if (!entry.name.startsWith("C/"))
            continue; // the manifest and the report of what was masked
        const bool wide = entry.name.contains(".u16.");
        const QByteArray bytes = readFile(inst.path("c" + QString(entry.name.mid(1)).replace("%5C", "\\")));
        QString content = wide ? QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2)
                               : QString::fromLatin1(bytes);
        if (!redacted.isEmpty() && !entry.name.endsWith(".dmp"))
            content.replace(QRegularExpression("\\w*Secret[0-9A-Z]"), "********");
        QVERIFY2(entry.sha256 == sha256Hex(wide ? utf16(content) : content.toLatin1()),
                 qPrintable(entry.name));
    }

    QCOMPARE(run.out.isEmpty(), !options.contains("--json"));
    if (run.out.isEmpty())
        return;
    const QByteArray zip = readFile(package);
    QVERIFY2(run.out.count('\n') == 1, qPrintable(run.out));
    const QJsonObject json = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(json["package"].toString(), package);
    QCOMPARE(json["sha256"].toString().toLatin1(), sha256Hex(zip));
    QVERIFY(json["bytes"].toInteger() == zip.size() && json["entries"].toInteger() == report.names.size());
    QVERIFY(json["status"].toInt(-1) == 0 && json["reason"].isNull() && json["seconds"].toDouble() > 0);
    QCOMPARE(json["names"].toString(), names ? package + ".names" : QString());
    QStringList skipped;
    for (const QJsonValue& file : json["skipped"].toArray())
        skipped << file["path"].toString() + ": " + file["reason"].toString();
    QCOMPARE(skipped.join('\n'), leftOut.join('\n').replace("%L\\", inst.path(kLogs)));
    int values = 0;
    for (const QJsonValue& file : json["redacted"].toArray())
        values += file["count"].toInt();
    QCOMPARE(values, names ? 11 : 10); // old.log too, without --since
    QVERIFY(!options.contains("--checksum") ||
            QProcess::execute(
                "sh", {"-c", "cd \"$0\" && sha256sum --quiet -c p.zip.sha256", inst.path("c/Out")}) == 0);
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
