// Runs the built program as a user or a script would: no display, its environment pointed at
// temporary folders, and looks at what it leaves behind.
#include "support/ArchiveCheck.h"
#include "support/Installation.h"
#include "support/PeWriter.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <cstdio>
#include <sys/stat.h>

namespace {

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

class Installation
{
public:
    Installation()
    {
        TemplateSpec orders;
        orders.title = QStringLiteral("Orders");
        orders.auditLog = QStringLiteral("C:\\Data\\ORDERS.LOG");
        orders.fields = {
            {QStringLiteral("CUST"), QStringLiteral("P"), QStringLiteral("C:\\App\\CUST.TPT"), {}, {}, {}}};
        write("c/App/ORDERS.TST6", TemplateToml(orders));
        TemplateSpec stock;
        stock.title = QStringLiteral("Stock");
        write("c/App/STOCK.TST", TemplateToml(stock));
        write("c/-Odd/ODD.TST", TemplateToml(stock));
        // A folder named in Latin-1, not UTF-8: "Café".
        const QByteArray latin1 = QFile::encodeName(path("c/Caf")) + "\xe9";
        ::mkdir(latin1.constData(), 0755);
        const QByteArray toml = TemplateToml(stock);
        FILE* odd = std::fopen((latin1 + "/ODD.TST").constData(), "w");
        std::fwrite(toml.constData(), 1, static_cast<size_t>(toml.size()), odd);
        std::fclose(odd);
        for (const char* f :
             {"c/App/ORDERS.TSD6", "c/App/ORDERS.TSA6", "c/App/CUST.TPT", "c/App/CUST.TPD", "c/App/STOCK.TSD",
              "c/Data/ORDERS.LOG", "c/ProgramData/Norvale/TS6/logs/tess.log",
              "c/ProgramData/Norvale/TS6/TS6.CONFIG", "c/Shared/GLOBAL.TSX"})
            write(f, QByteArray(f));
        write("c/Tess/TS6.EXE", MakeVersionedProgram(6, 1, 0, 400));
        QDir().mkpath(m_dir.path() + QStringLiteral("/c/Out"));
        QDir().mkpath(m_dir.path() + QStringLiteral("/tmp"));
    }

    QString path(const QString& relative) const { return m_dir.path() + QLatin1Char('/') + relative; }

    // Runs the program in a folder below the root, with more environment variables ("NAME=value").
    Run run(const QStringList& arguments, const QString& folder = QString(),
            const QStringList& more = QStringList()) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "TS6_LOG_DIR"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("TS6_DRIVES"), QStringLiteral("C=") + path("c"));
        env.insert(QStringLiteral("TS6_PROGRAMDATA"), path("c/ProgramData"));
        env.insert(QStringLiteral("TS6_INSTALL_PATH"), QStringLiteral("C:\\Tess"));
        env.insert(QStringLiteral("TS6_DATA_PATH"), QStringLiteral("C:\\Data"));
        env.insert(QStringLiteral("TS6_SHARED_PATH"), path("c/Shared"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path("config"));
        env.insert(QStringLiteral("XDG_STATE_HOME"), path("state"));
        env.insert(QStringLiteral("TMPDIR"), path("tmp"));
        env.insert(QStringLiteral("COMPUTERNAME"), QStringLiteral("SUPPORT-PC"));
        env.insert(QStringLiteral("USERNAME"), QStringLiteral("ann"));
        for (const QString& setting : more)
            env.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(path(folder));
        if (std::any_of(arguments.cbegin(), arguments.cend(),
                        [](const QString& a) { return a.contains(QLatin1String("\\x")); }))
            // Arguments that are not UTF-8, "\xNN" for a byte: Python passes the bytes on.
            p.start(
                QStringLiteral("python3"),
                QStringList{
                    QStringLiteral("-c"),
                    QStringLiteral(
                        "import os,sys\n"
                        "a=[x.encode().decode('unicode_escape').encode('latin-1') for x in sys.argv[1:]]\n"
                        "os.execv(a[0],a)"),
                    QStringLiteral(TS6_PROGRAM)} +
                    arguments);
        else
            p.start(QStringLiteral(TS6_PROGRAM), arguments);
        p.waitForFinished(120000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }

    // The trace entries, without time stamps, trace ids and logger names.
    QStringList trace() const
    {
        QFile f(path("c/ProgramData/Norvale/TS6/logs/TS6Satchel.log"));
        f.open(QIODevice::ReadOnly);
        QStringList entries;
        for (const QString& line :
             QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            QString entry = line.section(QLatin1Char(' '), 3);
            entry.remove(QRegularExpression(QStringLiteral(" \\[ID_[^\\]]*\\]$")));
            entries.append(entry);
        }
        return entries;
    }

private:
    void write(const char* relative, const QByteArray& content)
    {
        const QString p = path(relative);
        QDir().mkpath(QFileInfo(p).absolutePath());
        QFile f(p);
        f.open(QIODevice::WriteOnly);
        f.write(content);
    }

    QTemporaryDir m_dir;
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
};

// A folder given without "/", relative to the working folder: the package, its manifest and the
// trace are those of the folder.
void TestProgram::batchStartOnAFolder()
{
    const Installation inst;
    const QString package = inst.path("c/Out/support.zip");
    const Run run = inst.run({QStringLiteral("App"), QStringLiteral("Out/support.zip")}, QStringLiteral("c"));
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

    const QStringList trace = inst.trace();
    const QStringList expected{
        QStringLiteral("START: frmSatchel, Form_Load"),
        QStringLiteral("LOG: frmSatchel, Form_Load, Folder: C:\\App\\"),
        QStringLiteral("LOG: frmSatchel, Form_Load, Template: "),
        QStringLiteral("LOG: frmSatchel, Form_Load, Current Path: C:\\App\\"),
        QStringLiteral("LOG: frmSatchel, Form_Load, Folder found."),
        QStringLiteral("START: frmSatchel, lstFolders_OnAfterNodeSelect"),
        QStringLiteral("LOG: frmSatchel, lstFolders_OnAfterNodeSelect, Clicked on folder: C:\\App"),
        QStringLiteral("START: frmSatchel, LoadGrid"),
        QStringLiteral("LOG: frmSatchel, LoadGrid, Log file found: C:\\Data\\ORDERS.LOG"),
        QStringLiteral("END: frmSatchel, LoadGrid"),
        QStringLiteral("END: frmSatchel, lstFolders_OnAfterNodeSelect"),
        QStringLiteral("START: frmSatchel, Build_Package"),
        QStringLiteral("LOG: frmSatchel, Build_Package, Looking for folder Script: C:\\APP\\TSScript.TSX6"),
        QStringLiteral("LOG: frmSatchel, Build_Package, Looking for folder Script: C:\\APP\\TSScript.TSX"),
        QStringLiteral("LOG: frmSatchel, Build_Package, Looking for folder Script: C:\\APP\\TSScript.TSX6"),
        QStringLiteral("LOG: frmSatchel, Build_Package, Looking for folder Script: C:\\APP\\TSScript.TSX"),
        QStringLiteral("LOG: frmSatchel, BuildPackage, Zipping to: C:\\Out\\support.zip"),
        QStringLiteral(
            "LOG: frmSatchel, BuildPackage, Adding C:\\ProgramData\\Norvale\\TS6\\logs to satchel."),
        QStringLiteral("LOG: frmSatchel, BuildPackage, Adding C:\\ProgramData\\Norvale\\TS6 to satchel."),
        QStringLiteral("LOG: frmSatchel, BuildPackage, Adding Shared Path C:\\Shared to satchel."),
        QStringLiteral("END: frmSatchel, Build_Package"),
        QStringLiteral("END: frmSatchel, Form_Load"),
    };
    QCOMPARE(trace, expected);
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
    row("a folder that begins with -, after --") << "c" << QStringList{"--", "-Odd", "Out/p.zip"} << none << 0
                                                 << " 1  C:\\-ODD\\ODD.TST" << QStringList{wrote} << none;
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
    row("unknown option") << "" << QStringList{"--bogus", "%R/c/App", "%R/c/Out/p.zip"} << none << 64 << ""
                          << QStringList{"ts6satchel: Unknown option 'bogus'.\n", "Usage: ts6satchel ",
                                         "Try 'ts6satchel --help' for more information.\n"}
                          << none;
    row("-h") << "" << QStringList{"-h", "%R/c/App"} << none << 0 << "" << none
              << QStringList{"Usage: ts6satchel", "--version", "  64  ", "TS6_DRIVES", "TMPDIR"};
    row("--version") << "" << QStringList{"--version"} << none << 0 << "" << none
                     << QStringList{QStringLiteral("ts6satchel %1\n").arg(QLatin1String(TS6_VERSION))};
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

    const Run run = inst.run(arguments, folder, environment);
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
        QVERIFY2(run.out.contains(text), qPrintable(run.out));
    if (outputHolds.isEmpty())
        QCOMPARE(run.out, QString());

    const QString package = inst.path("c/Out/p.zip");
    if (!firstFile.isEmpty()) {
        QVERIFY(CheckArchive(package).valid());
        QVERIFY(QString::fromUtf8(ReadEntry(package, QStringLiteral("TSVERSION.TXT")))
                    .contains(firstFile + QStringLiteral("\r\n")));
    } else {
        QVERIFY(QDir(inst.path("c/Out")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }
    if (status == 64) { // nothing written at all: no trace, no settings, no manifest
        QVERIFY(!QFileInfo::exists(inst.path("c/ProgramData/Norvale/TS6/logs/TS6Satchel.log")));
        QVERIFY(!QFileInfo::exists(inst.path("config")));
        QVERIFY(QDir(inst.path("tmp")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
