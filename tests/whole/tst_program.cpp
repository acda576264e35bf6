// Runs the built program as a user or a script would: no display, its environment pointed at
// temporary folders, and looks at what it leaves behind.
#include "support/ArchiveCheck.h"
#include "support/Installation.h"
#include "support/PeWriter.h"
#include "support/ProgramWorld.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

namespace {

// The installation the runs pack: templates with their files, the product's program, logs and
// configuration, and a folder named in Latin-1, not UTF-8 ("Café").
class Installation : public ProgramWorld
{
public:
    Installation()
    {
        TemplateSpec orders;
        orders.title = QStringLiteral("Orders");
        orders.auditLog = QStringLiteral("C:\\Data\\ORDERS.LOG");
        orders.fields = {
            {QStringLiteral("CUST"), QStringLiteral("P"), QStringLiteral("C:\\App\\CUST.TPT"), {}, {}, {}}};
        write(QStringLiteral("c/App/ORDERS.TST6"), TemplateToml(orders));
        TemplateSpec stock;
        stock.title = QStringLiteral("Stock");
        write(QStringLiteral("c/App/STOCK.TST"), TemplateToml(stock));
        for (const char* f :
             {"c/App/ORDERS.TSD6", "c/App/ORDERS.TSA6", "c/App/CUST.TPT", "c/App/CUST.TPD", "c/App/STOCK.TSD",
              "c/Data/ORDERS.LOG", "c/ProgramData/Norvale/TS6/logs/tess.log",
              "c/ProgramData/Norvale/TS6/TS6.CONFIG", "c/Shared/GLOBAL.TSX"})
            write(QLatin1String(f), QByteArray(f));
        write(QStringLiteral("c/Tess/TS6.EXE"), MakeVersionedProgram(6, 1, 0, 400));
        const QByteArray latin1 = QFile::encodeName(path(QStringLiteral("c/Caf"))) + "\xe9";
        ::mkdir(latin1.constData(), 0755);
        ::symlink(QFile::encodeName(path(QStringLiteral("c/App/STOCK.TST"))).constData(),
                  latin1 + "/ODD.TST");
        environment =
            QStringList{QStringLiteral("TS6_INSTALL_PATH=C:\\Tess"), QStringLiteral("TS6_DATA_PATH=C:\\Data"),
                        QStringLiteral("TS6_SHARED_PATH=") + path(QStringLiteral("c/Shared")),
                        QStringLiteral("COMPUTERNAME=SUPPORT-PC"), QStringLiteral("USERNAME=ann")};
    }

    QStringList trace() const
    {
        return ProgramWorld::trace(QStringLiteral("c/ProgramData/Norvale/TS6/logs"));
    }
};

// The files with secrets that the options rows pack: each with its content, what it becomes with
// its secrets masked, and its age in days. Data files (.TSD6) are never masked, binary files
// neither; the trace goes elsewhere, so the log folder holds only these.
struct Secretive
{
    const char* path;
    QByteArray content;
    QByteArray masked;
    double age;
};
const QString kLogs = QStringLiteral("c/ProgramData/Norvale/TS6/logs/");
const QList<Secretive> kSecretive{
    {"c/ProgramData/Norvale/TS6/logs/old.log", "started\npassword=OldSecret1\n",
     "started\npassword=********\n", 40},
    {"c/ProgramData/Norvale/TS6/logs/mid.log", QByteArray("a log line\n").repeated(300), {}, 20},
    {"c/ProgramData/Norvale/TS6/logs/new.log",
     QByteArray("a log line\n").repeated(290) + "token: NewSecret2\n",
     QByteArray("a log line\n").repeated(290) + "token: ********\n", 3},
    {"c/ProgramData/Norvale/TS6/logs/settings/agent.ini",
     "[auth]\r\nPassword=IniSecret3\r\nPasswordPolicy=Strict\r\n",
     "[auth]\r\nPassword=********\r\nPasswordPolicy=Strict\r\n", 2},
    {"c/ProgramData/Norvale/TS6/logs/state.json", R"({"apiKey": "JsonSecret4", "user": "ann"})",
     R"({"apiKey": "********", "user": "ann"})", 1},
    {"c/ProgramData/Norvale/TS6/logs/core.dmp", QByteArray("MDMP\0\0password=BinarySecret5\n", 28), {}, 0.05},
    {"c/ProgramData/Norvale/TS6/TS6.CONFIG",
     "<add key=\"DbPassword\" value=\"XmlSecret6\" />\n<add name=\"Main\" "
     "connectionString=\"Server=db;Password=ConnSecret7;\" />\n",
     "<add key=\"DbPassword\" value=\"********\" />\n<add name=\"Main\" "
     "connectionString=\"Server=db;Password=********;\" />\n",
     0},
    {"c/Shared/Tess.config", "<settings><password>ElemSecret8</password></settings>\n",
     "<settings><password>********</password></settings>\n", 0},
    {"c/Data/ORDERS.LOG", "pwd=AppSecret9\n", "pwd=********\n", 0},
    {"c/App/ORDERS.TSD6", "password=DataFile\n", {}, 0},
};

const char kManifestHead[] =
    "Version: 6.1.0.400\r\nInstall Path: C:\\Tess\r\nData Path: C:\\Data\r\n"
    "Shared Path: C:\\Shared\r\nComputer Name: SUPPORT-PC\r\nUser Name: ann\r\nFiles:  \r\n";

} // namespace

class TestProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void batchStartOnAFolder();
    void startsAsTyped_data();
    void startsAsTyped();
    void whatTheOptionsPack_data();
    void whatTheOptionsPack();
};

// A folder given without "/", relative to the working folder: the package, its manifest and the
// trace are those of the folder.
void TestProgram::batchStartOnAFolder()
{
    const Installation inst;
    const QString package = inst.path("c/Out/support.zip");
    const ProgramRun run =
        inst.run({QStringLiteral("App"), QStringLiteral("Out/support.zip")}, {}, QStringLiteral("c"));
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY(run.err.contains(QLatin1String("Adding application files\n")));
    const ArchiveReport report = CheckArchive(package);
    QVERIFY2(report.valid(), qPrintable(report.details));
    QCOMPARE(report.names,
             (QStringList{QStringLiteral("TSVERSION.TXT"), QStringLiteral("C/App/ORDERS.TST6"),
                          QStringLiteral("C/App/ORDERS.TSD6"), QStringLiteral("C/App/ORDERS.TSA6"),
                          QStringLiteral("C/Data/ORDERS.LOG"), QStringLiteral("C/App/CUST.TPT"),
                          QStringLiteral("C/App/CUST.TPD"), QStringLiteral("C/App/STOCK.TST"),
                          QStringLiteral("C/App/STOCK.TSD"),
                          QStringLiteral("C/ProgramData/Norvale/TS6/logs/tess.log"),
                          QStringLiteral("C/ProgramData/Norvale/TS6/logs/TS6Satchel.log"),
                          QStringLiteral("C/ProgramData/Norvale/TS6/TS6.CONFIG"),
                          QStringLiteral("C/Shared/GLOBAL.TSX")}));
    QCOMPARE(ReadEntry(package, QStringLiteral("TSVERSION.TXT")),
             QByteArray(kManifestHead) + " 1  C:\\APP\\ORDERS.TST6\r\n 2  C:\\APP\\ORDERS.TSD6\r\n"
                                         " 3  C:\\APP\\ORDERS.TSA6\r\n 4  C:\\DATA\\ORDERS.LOG\r\n"
                                         " 5  C:\\APP\\CUST.TPT\r\n 6  C:\\APP\\CUST.TPD\r\n"
                                         " 7  C:\\APP\\STOCK.TST\r\n 8  C:\\APP\\STOCK.TSD\r\n");

    // The folder given without "/" is read as a folder.
    const QStringList trace = inst.trace();
    QCOMPARE(trace.mid(0, 6),
             (QStringList{QStringLiteral("START: frmSatchel, Form_Load"),
                          QStringLiteral("LOG: frmSatchel, Resize_Form, Start"), // the restored placement
                          QStringLiteral("LOG: frmSatchel, Form_Load, Folder: C:\\App\\"),
                          QStringLiteral("LOG: frmSatchel, Form_Load, Template: "),
                          QStringLiteral("LOG: frmSatchel, Form_Load, Current Path: C:\\App\\"),
                          QStringLiteral("LOG: frmSatchel, Form_Load, Folder found.")}));
    QVERIFY(
        trace.contains(QStringLiteral("LOG: frmSatchel, BuildPackage, Zipping to: C:\\Out\\support.zip")));
    QCOMPARE(trace.mid(trace.size() - 2), (QStringList{QStringLiteral("END: frmSatchel, Build_Package"),
                                                       QStringLiteral("END: frmSatchel, Form_Load")}));
}

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
    const QStringList none;
    const QString orders = QStringLiteral(" 1  C:\\APP\\ORDERS.TST6");
    const QString wrote = QStringLiteral("ts6satchel: wrote %R/c/Out/p.zip (");
    const QString noDisplay = QStringLiteral("ts6satchel: no display to show the main window; ");
    const auto row = [](const char* name) -> QTestData& { return QTest::newRow(name); };

    row("folder with /") << "" << QStringList{"%R/c/App/", "%R/c/Out/p.zip"} << none << 0 << orders
                         << QStringList{wrote} << none;
    row("folder without /") << "" << QStringList{"%R/c/App", "%R/c/Out/p.zip"} << none << 0 << orders
                            << QStringList{wrote} << none;
    row("relative template, host spelling") << "c/App" << QStringList{"stock.tst", "../Out/p.zip"} << none
                                            << 0 << " 1  C:\\APP\\STOCK.TST" << QStringList{wrote} << none;
    row("relative template, Windows spelling") << "c" << QStringList{"App\\STOCK.TST", "Out\\p.zip"} << none
                                               << 0 << " 1  C:\\APP\\STOCK.TST" << QStringList{wrote} << none;
    row("a folder name that is not UTF-8") << "" << QStringList{"%R/c/Caf\\xe9", "%R/c/Out/p.zip"} << none
                                           << 0 << "\\ODD.TST" << QStringList{wrote} << none;
    row("unreachable displays") << "" << QStringList{"%R/c/App", "%R/c/Out/p.zip"}
                                << QStringList{"DISPLAY=:4093", "WAYLAND_DISPLAY=no-compositor"} << 0
                                << orders << QStringList{wrote} << none;
    row("missing package folder")
        << "" << QStringList{"%R/c/App", "%R/c/Out/missing/p.zip"} << none << 1 << ""
        << QStringList{"ts6satchel: no package was written: The folder of the package "
                       "does not exist: %R/c/Out/missing/p.zip\n"}
        << none;
    row("blank package path")
        << "" << QStringList{"%R/c/App", " "} << none << 1 << ""
        << QStringList{"ts6satchel: no package was written: the package path is empty\n"} << none;
    row("no package path and no display")
        << "" << QStringList{"%R/c/App"} << none << 2 << ""
        << QStringList{"ts6satchel: no package was written: no display to show the save dialog"} << none;
    row("template not found") << "" << QStringList{"%R/c/App/NONE.TST6", "%R/c/Out/p.zip"} << none << 2 << ""
                              << QStringList{"ts6satchel: template not found: %R/c/App/NONE.TST6\n",
                                             noDisplay}
                              << none;
    row("folder without templates") << "c" << QStringList{"Data"} << none << 2 << ""
                                    << QStringList{"ts6satchel: no templates (*.TST6, *.TST) in the folder "
                                                   "%R/c/Data\n",
                                                   noDisplay}
                                    << none;
    row("no arguments, unreachable display")
        << "" << none << QStringList{"DISPLAY=:4093"} << 2 << ""
        << QStringList{"ts6satchel: cannot reach the display (DISPLAY=:4093)", noDisplay} << none;
    row("--json on a package that cannot be written")
        << "" << QStringList{"--json", "%R/c/App", "%R/c/Out/missing/p.zip"} << none << 1 << ""
        << QStringList{"ts6satchel: no package was written: The folder of the package does not exist"}
        << QStringList{"{\"bytes\":null,", "\"package\":null,",
                       "\"reason\":\"The folder of the package does not "
                       "exist: %R/c/Out/missing/p.zip\",",
                       "\"status\":1}\n"};
    row("a date that cannot be read")
        << "" << QStringList{"--since", "soon", "%R/c/App", "%R/c/Out/p.zip"} << none << 64 << ""
        << QStringList{"ts6satchel: --since: cannot read the date 'soon': give "
                       "YYYY-MM-DD, or Nd for the last N days.\n",
                       "Usage: ts6satchel ", "Try "}
        << none;
    row("unknown option") << "" << QStringList{"--bogus", "%R/c/App", "%R/c/Out/p.zip"} << none << 64 << ""
                          << QStringList{"ts6satchel: Unknown option 'bogus'.\n", "Usage: ts6satchel ",
                                         "Try 'ts6satchel --help' for more information.\n"}
                          << none;
    row("-h")
        << "" << QStringList{"-h", "%R/c/App"} << none << 0 << "" << none
        << QStringList{
               "Usage: ts6satchel", "-h, --help",      "-V, --version", "  0  ",  "  1  ",  "  2  ", "  64  ",
               "TS6_DRIVES",        "TS6_PROGRAMDATA", "TS6_LOG_DIR",   "TMPDIR", "DISPLAY"};
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
    const QString root = inst.path(QString());
    for (QString& argument : arguments)
        argument.replace(QLatin1String("%R/"), root);

    const ProgramRun run = inst.run(arguments, environment, folder);
    QVERIFY2(run.status == status, qPrintable(run.err));
    QStringList errors = run.err.split(QLatin1Char('\n'));
    errors.removeLast(); // after the last line end
    QVERIFY2(errors.size() >= lastErrors.size(), qPrintable(run.err));
    const QStringList last = errors.mid(errors.size() - lastErrors.size());
    for (qsizetype i = 0; i < lastErrors.size(); ++i)
        QVERIFY2((last.at(i) + QLatin1Char('\n'))
                     .startsWith(QString(lastErrors.at(i)).replace(QLatin1String("%R/"), root)),
                 qPrintable(run.err));
    for (const QString& text : outputHolds)
        QVERIFY2(run.out.contains(QString(text).replace(QLatin1String("%R/"), root)), qPrintable(run.out));
    if (outputHolds.isEmpty())
        QCOMPARE(run.out, QString());

    const QString package = inst.path("c/Out/p.zip");
    if (!firstFile.isEmpty()) {
        QVERIFY(CheckArchive(package).valid());
        QVERIFY(QString::fromUtf8(ReadEntry(package, QStringLiteral("TSVERSION.TXT")))
                    .contains(firstFile + QStringLiteral("\r\n")));
    } else {
        QVERIFY(inst.isEmpty(QStringLiteral("c/Out")));
    }
    if (status == 64) { // nothing written at all: no trace, no settings, no manifest
        QVERIFY(!QFileInfo::exists(inst.path("c/ProgramData/Norvale/TS6/logs/TS6Satchel.log")));
        QVERIFY(!QFileInfo::exists(inst.path("config")));
        QVERIFY(inst.isEmpty(QStringLiteral("tmp")));
    }
}

void TestProgram::whatTheOptionsPack_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("logs");    // the log folder's entries in package order, below it
    QTest::addColumn<QStringList>("leftOut"); // the comment's lines, "%L" the log folder
    QTest::addColumn<QByteArray>("redacted"); // REDACTED.TXT; empty: no such entry, nothing masked
    const QString daysAgo = QDate::currentDate().addDays(-30).toString(Qt::ISODate);
    const QString tenDaysAgo = QDate::currentDate().addDays(-10).toString(Qt::ISODate);
    QTest::newRow("plain: every file as it is, in the order listed")
        << QStringList()
        << QStringList{"core.dmp", "mid.log", "new.log", "old.log", "state.json", "settings/agent.ini"}
        << QStringList() << QByteArray();
    QTest::newRow("--redact, --since Nd, --max-log-size, --json, --checksum")
        << QStringList{"--redact", "--since", "30d", "--max-log-size", "6K", "--json", "--checksum"}
        << QStringList{"core.dmp", "state.json", "settings/agent.ini", "new.log"}
        << QStringList{"%L\\mid.log: log budget of 6 KB reached", "%L\\old.log: older than " + daysAgo}
        << QByteArray("TS6Satchel masked the secrets in the configuration and log files of this package: "
                      "each value became ********.\r\nFiles checked: 7. Values masked: 7, in 6 files:\r\n"
                      "      1  C/Data/ORDERS.LOG\r\n"
                      "      1  C/ProgramData/Norvale/TS6/logs/state.json\r\n"
                      "      1  C/ProgramData/Norvale/TS6/logs/settings/agent.ini\r\n"
                      "      1  C/ProgramData/Norvale/TS6/logs/new.log\r\n"
                      "      2  C/ProgramData/Norvale/TS6/TS6.CONFIG\r\n"
                      "      1  C/Shared/Tess.config\r\n");
    QTest::newRow("--since a date") << QStringList{"--since", tenDaysAgo}
                                    << QStringList{"core.dmp", "state.json", "settings/agent.ini", "new.log"}
                                    << QStringList{"%L\\mid.log: older than " + tenDaysAgo,
                                                   "%L\\old.log: older than " + tenDaysAgo}
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
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QHash<QString, QByteArray> masked; // entry name: its content with the secrets masked
    for (const Secretive& file : kSecretive) {
        inst.write(QLatin1String(file.path), file.content);
        const auto time = static_cast<time_t>(now - static_cast<qint64>(file.age * 86400));
        const utimbuf times{time, time};
        QCOMPARE(::utime(QFile::encodeName(inst.path(QLatin1String(file.path))).constData(), &times), 0);
        masked.insert(QStringLiteral("C") + QLatin1String(file.path).mid(1),
                      file.masked.isEmpty() ? file.content : file.masked);
    }
    QFile::remove(inst.path(kLogs + QStringLiteral("tess.log")));
    const QString package = inst.path("c/Out/p.zip");
    const ProgramRun run = inst.run(options + QStringList{inst.path("c/App/"), package},
                                    {QStringLiteral("TS6_LOG_DIR=") + inst.path("trace")});
    QVERIFY2(run.status == 0, qPrintable(run.err));

    const ArchiveReport report = CheckArchive(package);
    QVERIFY2(report.valid(), qPrintable(report.details));
    QStringList logEntries;
    const QString logFolder = QStringLiteral("C") + kLogs.mid(1);
    for (const QString& name : report.names)
        if (name.startsWith(logFolder))
            logEntries.append(name.mid(logFolder.size()));
    QCOMPARE(logEntries, logs);
    QCOMPARE(report.comment,
             leftOut.join(QLatin1Char('\n'))
                 .replace(QStringLiteral("%L"), QStringLiteral("C:\\ProgramData\\Norvale\\TS6\\logs")));
    QCOMPARE(report.names.contains(QStringLiteral("REDACTED.TXT")), !redacted.isEmpty());
    if (!redacted.isEmpty())
        QCOMPARE(ReadEntry(package, QStringLiteral("REDACTED.TXT")), redacted);
    for (const ArchiveEntry& entry : report.entries) {
        if (entry.name == QLatin1String("TSVERSION.TXT") || entry.name == QLatin1String("REDACTED.TXT"))
            continue;
        QFile file(inst.path(QStringLiteral("c") + entry.name.mid(1)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content =
            redacted.isEmpty() ? file.readAll() : masked.value(entry.name, file.readAll());
        QVERIFY2(entry.sha256 == QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex(),
                 qPrintable(entry.name));
    }

    if (!options.contains(QLatin1String("--json"))) {
        QCOMPARE(run.out, QString());
        return;
    }
    QFile zip(package);
    QVERIFY(zip.open(QIODevice::ReadOnly));
    const QByteArray sha256 = QCryptographicHash::hash(zip.readAll(), QCryptographicHash::Sha256).toHex();
    QVERIFY2(run.out.count(QLatin1Char('\n')) == 1, qPrintable(run.out));
    const QJsonObject json = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(json.value(QLatin1String("package")).toString(), package);
    QCOMPARE(json.value(QLatin1String("bytes")).toInteger(), zip.size());
    QCOMPARE(json.value(QLatin1String("sha256")).toString().toLatin1(), sha256);
    QCOMPARE(json.value(QLatin1String("entries")).toInteger(), report.names.size());
    QCOMPARE(json.value(QLatin1String("status")).toInt(-1), 0);
    QVERIFY(json.value(QLatin1String("reason")).isNull() &&
            json.value(QLatin1String("seconds")).toDouble() > 0);
    QStringList skipped;
    for (const QJsonValue& file : json.value(QLatin1String("skipped")).toArray())
        skipped.append(file[QLatin1String("path")].toString() + QStringLiteral(": ") +
                       file[QLatin1String("reason")].toString());
    QCOMPARE(skipped.join(QLatin1Char('\n')),
             leftOut.join(QLatin1Char('\n')).replace(QStringLiteral("%L\\"), inst.path(kLogs)));
    int values = 0;
    for (const QJsonValue& file : json.value(QLatin1String("redacted")).toArray())
        values += file[QLatin1String("count")].toInt();
    QCOMPARE(values, 7);
    QProcess check;
    check.setWorkingDirectory(inst.path("c/Out"));
    check.start(QStringLiteral("sha256sum"), {QStringLiteral("-c"), QStringLiteral("p.zip.sha256")});
    QVERIFY(check.waitForFinished() && check.exitCode() == 0);
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
