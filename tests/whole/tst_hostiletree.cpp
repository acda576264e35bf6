// The package writer against trees that are not what a tool expects, through the built program:
// pipes where files should be, the package among the files it packs, folders that cannot be
// listed or that loop, dates outside the DOS range, names that are not ASCII or not UTF-8, and
// paths longer and deeper than a Windows tool meets.
#include "support/ArchiveCheck.h"
#include "support/ProgramWorld.h"

#include <QDir>
#include <QTest>

#include <sys/stat.h>
#include <utime.h>

namespace {

const QString kLogs = QStringLiteral("c/ProgramData/Norvale/TS6/logs/");

// Runs a tool written elsewhere; its exit code, and what it printed in out.
int tool(const QString& program, const QStringList& arguments, QString* out = nullptr)
{
    QProcess p;
    p.start(program, arguments);
    p.waitForFinished(300000);
    if (out)
        *out = QString::fromUtf8(p.readAllStandardOutput());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

void setTime(const QString& path, qint64 seconds)
{
    const utimbuf times{seconds, seconds};
    QCOMPARE(::utime(QFile::encodeName(path).constData(), &times), 0);
}

} // namespace

class TestHostileTree : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qputenv("TZ", "UTC"); }
    void packsWhatItCan_data();
    void packsWhatItCan();
};

void TestHostileTree::packsWhatItCan_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("package");
    QTest::addColumn<QString>("said");        // what the last line of standard error holds
    QTest::addColumn<QStringList>("comment"); // the package's comment, line by line
    // Entries the package holds, the log files among them made by the test; none: no package.
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("absent"); // a text that no entry name holds
    const QString out = "c/Out/p.zip";
    const QString wrote = "ts6satchel: wrote ";
    const QString logs = "C/ProgramData/Norvale/TS6/logs/";
    const QString handed = "C:\\ProgramData\\Norvale\\TS6\\logs\\";
    QString deep = logs; // a path well over 260 characters
    for (int i = 0; i < 12; ++i)
        deep += QString("a-rather-long-folder-name-%1/").arg(i);
    QTest::newRow("pipes as data file, input file and log")
        << "pipes" << out << wrote
        << QStringList{"C:\\APP\\APP.TSD6: not a regular file", "C:\\APP\\IN.TXT: not a regular file",
                       handed + "pipe.log: not a regular file"}
        << QStringList{"TSVERSION.TXT", "C/App/APP.TST6", logs + "tess.log"} << "pipe";
    QTest::newRow("package in the log folder, built twice")
        << "twice" << kLogs + "pkg.zip" << wrote << QStringList()
        << QStringList{"TSVERSION.TXT", "C/App/APP.TST6", "C/App/APP.TSD6", "C/App/IN.TXT", logs + "tess.log"}
        << "pkg.zip";
    QTest::newRow("package path names an input")
        << ""
        << "c/App/APP.TSD6"
        << "no package was written: The package path names a file that goes into the package: "
        << QStringList() << QStringList() << "";
    QTest::newRow("log subfolder that cannot be listed")
        << "locked" << out << wrote << QStringList{handed + "locked: Permission denied"}
        << QStringList{logs + "tess.log", logs + "open/a.log"} << "secret";
    QTest::newRow("dates of 1970 and 2108, a UTF-8 name and a mode")
        << "dates" << out << wrote << QStringList()
        << QStringList{logs + "old.log", logs + "future.log", logs + "Überwachung.log"} << "";
    QTest::newRow("package name matched case-blind")
        << "case"
        << "c/Out/PACKAGE.ZIP" << wrote << QStringList() << QStringList{logs + "tess.log"} << "Out/";
    QTest::newRow("a name not in UTF-8, long and deep paths, link loops")
        << "shapes" << out << wrote
        << QStringList{handed + "loop-a: Too many levels of symbolic links",
                       handed + "loop-b: Too many levels of symbolic links"}
        << QStringList{logs + "cafe.log", deep + "deep.log",
                       logs + QString("n/").repeated(1000) + "bottom.log"}
        << "back-to-top";
    QTest::newRow("log folder that is a link to itself")
        << "self" << out << wrote << QStringList() << QStringList{"TSVERSION.TXT", "C/App/APP.TST6"}
        << "ProgramData";
}

void TestHostileTree::packsWhatItCan()
{
    QFETCH(QString, setup);
    QFETCH(QString, package);
    QFETCH(QString, said);
    QFETCH(QStringList, comment);
    QFETCH(QStringList, names);
    QFETCH(QString, absent);
    ProgramWorld w;
    w.environment = QStringList{"TS6_LOG_DIR=" + w.path("trace")};
    w.writeTemplate("c/App/APP.TST6", {{"IN", "I", {}, "C:\\App\\IN.TXT", {}, {}}});
    w.write("c/App/IN.TXT", "input");
    w.write(kLogs + "tess.log", "log");
    for (const QString& name : names)
        if (name.startsWith("C/ProgramData/"))
            w.write('c' + name.mid(1), name.toUtf8());
    const QString logs = w.path(kLogs);
    if (setup == "pipes") {
        for (const char* f : {"c/App/APP.TSD6", "c/App/IN.TXT", "c/ProgramData/Norvale/TS6/logs/pipe.log"}) {
            QFile::remove(w.path(f));
            QCOMPARE(::mkfifo(QFile::encodeName(w.path(f)).constData(), 0600), 0);
        }
    } else if (setup == "locked") {
        w.write(kLogs + "locked/secret.log", "s");
        SetMode(logs + "locked", 0);
    } else if (setup == "dates") {
        setTime(logs + "old.log", 0);
        setTime(logs + "future.log", QDateTime(QDate(2108, 6, 1), QTime(12, 0), Qt::UTC).toSecsSinceEpoch());
        SetMode(logs + "Überwachung.log", 0640);
    } else if (setup == "case") {
        w.write("c/Out/package.zip", "the previous package");
    } else if (setup == "shapes") {
        w.write(kLogs + "cafe.log", "plain named\n");
        FILE* f = std::fopen((QFile::encodeName(logs) + "caf\xe9.log").constData(), "w"); // Latin-1
        QVERIFY(f);
        std::fputs("latin-1 named\n", f);
        std::fclose(f);
        QFile::link(logs + "loop-b", logs + "loop-a");
        QFile::link(logs + "loop-a", logs + "loop-b");
        QFile::link(logs, logs + "back-to-top");
    } else if (setup == "self") {
        QDir(logs).removeRecursively();
        QFile::link(logs.chopped(1), logs.chopped(1));
    }
    for (int build = setup == "twice" ? 2 : 1; build > 0; --build) {
        const ProgramRun run = w.run({w.path("c/App/"), w.path(package)});
        QVERIFY2(run.status == (names.isEmpty() ? 1 : 0) && run.err.section('\n', -2).contains(said),
                 qPrintable(run.err));
    }
    if (names.isEmpty()) { // the input is left as it was
        QFile input(w.path(package));
        QVERIFY(input.open(QIODevice::ReadOnly));
        QCOMPARE(input.readAll(), QByteArray("APP"));
        QCOMPARE(w.entries("c/Out"), QStringList());
        return;
    }
    const QString archive = w.path(setup == "case" ? "c/Out/package.zip" : package);
    const ArchiveReport report = CheckArchive(archive);
    QVERIFY2(report.valid() && tool("bsdtar", {"-tf", archive}) == 0, qPrintable(report.details));
    for (const QString& name : names)
        QVERIFY2(report.names.contains(name), qPrintable(name + " not in " + report.names.join(' ')));
    if (!absent.isEmpty())
        QCOMPARE(report.names.filter(absent), QStringList());
    QCOMPARE(report.comment.split('\n', Qt::SkipEmptyParts), comment);
    if (setup == "case")
        QCOMPARE(w.entries("c/Out"), QStringList{"package.zip"});
    if (setup == "shapes") // the name keeps its bytes (so read as code page 437) and its own content
        QCOMPARE(ReadEntry(archive, "C/ProgramData/Norvale/TS6/logs/cafΘ.log"),
                 QByteArray("latin-1 named\n"));
    if (setup != "dates")
        return;
    // The DOS time clamped, the exact time in the extra fields (as 7-Zip shows it), the name and
    // the mode as Debian's unzip extracts them.
    const auto modified = [&](const char* name) {
        return report.entries.at(report.names.indexOf("C/ProgramData/Norvale/TS6/logs/" + QString(name)))
            .modified;
    };
    QCOMPARE(modified("old.log"), "1980-01-01 00:00:00");
    QCOMPARE(modified("future.log"), "2107-12-31 23:59:58");
    QString listing;
    QCOMPARE(tool("7zz", {"l", "-slt", archive}, &listing), 0);
    QVERIFY2(listing.contains("Modified = 1970-01-01 00:00:00") &&
                 listing.contains("Modified = 2108-06-01 12:00:00"),
             qPrintable(listing));
    QCOMPARE(tool("unzip", {"-q", archive, "-d", w.path("x")}), 0);
    struct stat st
    {};
    QCOMPARE(::stat(QFile::encodeName(w.path("x/C/ProgramData/Norvale/TS6/logs/Überwachung.log")).constData(),
                    &st),
             0);
    QCOMPARE(st.st_mode & 07777, 0640u);
    QCOMPARE(QFileInfo(w.path("x/C/ProgramData/Norvale/TS6/logs/old.log")).lastModified().toSecsSinceEpoch(),
             0);
}

QTEST_GUILESS_MAIN(TestHostileTree)
#include "tst_hostiletree.moc"
