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
        for (const char* f :
             {"c/App/ORDERS.TSD6", "c/App/ORDERS.TSA6", "c/App/CUST.TPT", "c/App/CUST.TPD", "c/App/STOCK.TSD",
              "c/Data/ORDERS.LOG", "c/ProgramData/Norvale/TS6/logs/tess.log",
              "c/ProgramData/Norvale/TS6/TS6.CONFIG", "c/Shared/GLOBAL.TSX"})
            write(f, QByteArray(f));
        write("c/Tess/TS6.EXE", MakeVersionedProgram(6, 1, 0, 400));
        QDir().mkpath(m_dir.path() + QStringLiteral("/c/Out"));
        QDir().mkpath(m_dir.path() + QStringLiteral("/tmp"));
    }

    QString path(const char* relative) const
    {
        return m_dir.path() + QLatin1Char('/') + QLatin1String(relative);
    }

    Run run(const QStringList& arguments, const char* dropVariable = nullptr) const
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
        if (dropVariable)
            env.remove(QString::fromLatin1(dropVariable));
        QProcess p;
        p.setProcessEnvironment(env);
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
    void versionAndHelp();
    void batchStartOnAFolder();
    void templateStartWithAPackagePath();
    void failingBuildEndsWithStatusOne();
    void startsThatNeedAPersonEndWithStatusTwo();
};

void TestProgram::versionAndHelp()
{
    const Installation inst;
    const Run version = inst.run({QStringLiteral("--version")});
    QCOMPARE(version.status, 0);
    QCOMPARE(version.out, QStringLiteral("ts6satchel %1\n").arg(QLatin1String(TS6_VERSION)));
    const Run help = inst.run({QStringLiteral("--help")});
    QCOMPARE(help.status, 0);
    QVERIFY(help.out.startsWith(QLatin1String("Usage: ts6satchel")));
}

void TestProgram::batchStartOnAFolder()
{
    const Installation inst;
    const QString package = inst.path("c/Out/support.zip");
    const Run run = inst.run({inst.path("c/App/"), package});
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
        QStringLiteral("LOG: frmSatchel, Resize_Form, Start"), // the restored placement
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

void TestProgram::templateStartWithAPackagePath()
{
    const Installation inst;
    const QString package = inst.path("c/Out/stock.zip");
    const Run run = inst.run({inst.path("c/App/stock.tst"), package});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const ArchiveReport report = CheckArchive(package);
    QVERIFY2(report.valid(), qPrintable(report.details));
    QCOMPARE(report.names.mid(0, 3),
             (QStringList{QStringLiteral("TSVERSION.TXT"), QStringLiteral("C/App/STOCK.TST"),
                          QStringLiteral("C/App/STOCK.TSD")}));
    QCOMPARE(ReadEntry(package, QStringLiteral("TSVERSION.TXT")),
             QByteArray(kManifestHead) + " 1  C:\\APP\\STOCK.TST\r\n 2  C:\\APP\\STOCK.TSD\r\n");
}

void TestProgram::failingBuildEndsWithStatusOne()
{
    const Installation inst;
    const QString package = inst.path("c/Out/missing-folder/support.zip");
    const Run run = inst.run({inst.path("c/App/"), package});
    QCOMPARE(run.status, 1);
    QVERIFY(!QFileInfo::exists(inst.path("c/Out/missing-folder")));
    QVERIFY(QDir(inst.path("c/Out")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    const QStringList trace = inst.trace();
    const qsizetype end = trace.indexOf(QStringLiteral("END: frmSatchel, Build_Package"));
    QVERIFY(end > 0);
    QVERIFY(trace.at(end + 1).startsWith(
        QLatin1String("ERROR: frmSatchel, Build_Package, Runtime error occurred: ")));
    QCOMPARE(trace.last(), QStringLiteral("END: frmSatchel, Form_Load"));
}

void TestProgram::startsThatNeedAPersonEndWithStatusTwo()
{
    const Installation inst;
    const Run interactive = inst.run({});
    QCOMPARE(interactive.status, 2);
    QVERIFY(interactive.err.contains(QLatin1String("no display to show the main window")));

    // A batch start without a package path needs the save dialog.
    const Run noPath = inst.run({inst.path("c/App/")});
    QCOMPARE(noPath.status, 2);
    QVERIFY(noPath.err.contains(QLatin1String("save dialog")));
    QVERIFY(QDir(inst.path("c/Out")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

    const Run notFound = inst.run({inst.path("c/App/NONE.TST6"), inst.path("c/Out/x.zip")});
    QCOMPARE(notFound.status, 2);
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
