// Runs the built program as a user or a script would: no display, its environment pointed at
// temporary folders, and looks at what it leaves behind.
#include "support/ArchiveCheck.h"
#include "support/Installation.h"
#include "support/PeWriter.h"
#include "support/ProgramWorld.h"

#include <QDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

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
        QVERIFY2(run.out.contains(text), qPrintable(run.out));
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

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
