// The program where support tools fail: two runs at once, a signal or a failed write in the middle
// of a build, trees that are not what a tool expects (pipes where files should be, the package
// among the files it packs, folders that cannot be listed or that loop, dates outside the DOS
// range, names not in UTF-8, paths longer and deeper than Windows allows), a hundred thousand log
// files. Real processes, real files.
#include "base/CHandle.h"
#include "support/ArchiveCheck.h"
#include "support/HeldAccess.h"
#include "support/ProgramWorld.h"
#include "support/TestTools.h"

#include <QDir>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kLogs = QStringLiteral("c/ProgramData/Norvale/TS6/logs/");

// Reads the run's standard error until it holds the text; false when the run ends first.
bool waitForError(QProcess& run, const QString& text, QString& err)
{
    while (!err.contains(text) && run.waitForReadyRead(300000))
        err += QString::fromUtf8(run.readAllStandardError());
    return err.contains(text);
}

// An exclusive lock on a folder, as a run of the program takes it on its temporary folder.
UniqueFd heldLock(const QString& folder)
{
    UniqueFd fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_CLOEXEC));
    ::flock(fd.get(), LOCK_EX);
    return fd;
}

// The package is whole, and its manifest holds the template's line and no other template's.
void checkPackage(const QString& package, const QString& line, const char* other)
{
    QVERIFY(checkArchive(package).valid());
    const QString manifest = QString::fromUtf8(readEntry(package, "TSVERSION.TXT"));
    QVERIFY2(manifest.contains(line) && !manifest.contains(other), qPrintable(manifest));
}

} // namespace

class TestReliability : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qputenv("TZ", "UTC"); }
    void runsThatMeet_data();
    void runsThatMeet();
    void failedBuildLeavesNothing_data();
    void failedBuildLeavesNothing();
    void packsWhatItCan_data();
    void packsWhatItCan();
    void hundredThousandLogFiles();
};

void TestReliability::runsThatMeet_data()
{
    QTest::addColumn<bool>("sharedTemp");   // TMPDIR is shared like /tmp (else only the test's own)
    QTest::addColumn<QString>("planted");   // a link planted in TMPDIR at this name ("%U" the uid)
    QTest::addColumn<QString>("secondRun"); // "": none; "same user": meets the first at the manifest
    QTest::addColumn<int>("status");
    QTest::newRow("two runs of one user, at the manifest") << false << QString() << "same user" << 0;
    QTest::newRow("two users, one shared TMPDIR") << true << QString() << "nobody" << 0;
    QTest::newRow("a link planted at the manifest's name") << false << "TSVERSION.TXT" << QString() << 0;
    QTest::newRow("a link planted at the private folder's name") << true << "ts6satchel-%U" << QString() << 1;
}

void TestReliability::runsThatMeet()
{
    QFETCH(bool, sharedTemp);
    QFETCH(QString, planted);
    QFETCH(QString, secondRun);
    QFETCH(int, status);
    const bool asNobody = secondRun == "nobody";
    if (asNobody && ::geteuid() != 0)
        QSKIP("a second user needs root to be simulated");
    const ProgramWorld w;
    if (asNobody) {
        const auto probe = w.start({"--version"}, {}, {}, true);
        if (!probe->waitForFinished(300000) || probe->exitCode() != 0)
            QSKIP("the second user cannot run the program here: a folder on its way is closed to it");
    }
    w.writeTemplate("c/First/FIRST.TST6");
    w.writeTemplate("c/Second/SECOND.TST6");
    w.write("victim/keep.txt", "keep");
    const QString uid = QString::number(::geteuid());
    const QString temp = sharedTemp ? "shared" : "tmp";
    const QString ownTemp = sharedTemp ? temp + "/ts6satchel-" + uid : temp;
    QDir().mkpath(w.path(temp));
    setMode(w.path(temp), sharedTemp ? 01777 : 0700);
    setMode(w.path({}), 0755);      // where a second user finds the templates
    setMode(w.path("c/Out"), 0777); // and writes a package
    if (!planted.isEmpty())
        QVERIFY(QFile::link(w.path(planted.startsWith("TSVERSION") ? "victim/keep.txt" : "victim"),
                            w.path(temp + '/' + planted.replace("%U", uid))));
    const QStringList tmpdir{"TMPDIR=" + w.path(temp)};
    // Both runs write their manifest, then wait to pack it.
    UniqueFd held = secondRun == "same user" ? heldLock(w.path(ownTemp)) : UniqueFd();
    const auto first = w.start({w.path("c/First/"), w.path("c/Out/first.zip")}, tmpdir);
    const auto second = secondRun.isEmpty() ? nullptr
                                            : w.start({w.path("c/Second/"), w.path("c/Out/second.zip")},
                                                      tmpdir, {}, asNobody);
    QString err, errSecond;
    if (held) {
        QVERIFY(waitForError(*first, "\\TSVERSION.TXT\n", err));
        QVERIFY(waitForError(*second, "\\TSVERSION.TXT\n", errSecond));
        held.reset();
    }
    QVERIFY(first->waitForFinished(300000));
    err += QString::fromUtf8(first->readAllStandardError());
    QCOMPARE(first->exitCode(), status);
    if (second) {
        QVERIFY(second->waitForFinished(300000));
        QVERIFY2(second->exitCode() == 0, second->readAllStandardError().constData());
        checkPackage(w.path("c/Out/second.zip"), " 1  C:\\SECOND\\SECOND.TST6\r\n", "FIRST");
    }
    if (status == 0) {
        checkPackage(w.path("c/Out/first.zip"), " 1  C:\\FIRST\\FIRST.TST6\r\n", "SECOND");
        QCOMPARE(w.entries(ownTemp), QStringList{"TSVERSION.TXT"}); // the last manifest, a file of its own
    } else {
        QVERIFY2(
            err.endsWith(QString("ts6satchel: no package was written: Cannot use the temporary folder %1: "
                                 "something other than a folder (a link?) stands at its name\n")
                             .arg(w.path(ownTemp))),
            qPrintable(err));
        QCOMPARE(w.entries("c/Out"), QStringList());
    }
    QCOMPARE(w.entries("victim"), QStringList{"keep.txt"});
    QCOMPARE(readFile(w.path("victim/keep.txt")), QByteArray("keep"));
}

void TestReliability::failedBuildLeavesNothing_data()
{
    QTest::addColumn<QString>("cause");   // what the run meets: a signal comes then, or a write fails
    QTest::addColumn<QList<int>>("sent"); // sent in turn once the run has started
    QTest::addColumn<QString>("reason");
    const auto row = [](const char* name, const char* cause, const QList<int>& sent, const QString& reason) {
        QTest::newRow(name) << QString::fromLatin1(cause) << sent << reason;
    };
    const QString signalled = "Interrupted by signal ";
    row("SIGINT during a large add, SIGHUP while cleaning up", "large add", {SIGINT, SIGHUP}, signalled);
    row("SIGTERM while another run packs its manifest", "another run", {SIGTERM}, signalled + "15 ");
    row("SIGHUP while the save dialog is open", "save dialog", {SIGHUP}, signalled + "1 ");
    row("package path that names an input", "input", {},
        "The package path names a file that goes into the package: ");
    row("a named pipe at the package path", "pipe", {}, "The package path is not a regular file: ");
    row("SIGINT while a template is read from a slow disk", "slow template", {SIGINT}, signalled + "2 ");
    row("SIGTERM while the package is hashed", "hash", {SIGTERM}, signalled + "15 ");
    row("package path that names the trace", "trace", {}, "The package path names the program's trace: ");
    row("package path that names the settings file", "settings", {},
        "The package path names the program's settings file: ");
    row("package path that names the version manifest", "manifest", {},
        "The package path names the program's version manifest: ");
    row("a file size limit", "size limit", {}, "Cannot write the package: File too large\n");
}

// A build that ends early, by a signal or a failed write, says why on the last line of standard
// error and leaves no package, no temporary file, and nothing in the temporary folder but the
// manifest.
void TestReliability::failedBuildLeavesNothing()
{
    QFETCH(QString, cause);
    QFETCH(QList<int>, sent);
    QFETCH(QString, reason);
    ProgramWorld w;
    w.writeTemplate("c/App/APP.TST6");
    const QString package = cause == "input"      ? "c/App/APP.TSD6"
                            : cause == "pipe"     ? "pipe.zip"
                            : cause == "trace"    ? "trace/TS6Satchel.log"
                            : cause == "manifest" ? "tmp/TSVERSION.TXT"
                            : cause == "settings" ? "config/Norvale/TS6/ts6satchel.ini"
                                                  : "c/Out/p.zip";
    QStringList arguments{w.path("c/App/"), w.path(package)};
    QString sign = "Adding logs\n"; // the run has started, its signal handlers in place
    UniqueFd held;
    std::unique_ptr<HeldAccess> slow; // where the run is held until the signal comes
    QProcess xServer;
    const auto stopServer = qScopeGuard([&] {
        xServer.kill();
        xServer.waitForFinished();
    });
    const QByteArray out = QFile::encodeName(w.path("c/Out"));
    if (cause == "large add") {
        w.write(kLogs + "huge.log", "start\n");
        QCOMPARE(::truncate(QFile::encodeName(w.path(kLogs + "huge.log")).constData(), 5LL << 30), 0);
    } else if (cause == "another run") {
        held = heldLock(w.path("tmp"));
        sign = "\\TSVERSION.TXT\n";
    } else if (cause == "save dialog") {
        xServer.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp"}); // shows the dialog, which waits
        xServer.waitForReadyRead(60000);
        const QByteArray display = xServer.readAllStandardOutput().trimmed();
        if (display.isEmpty())
            QSKIP("no X server (Xvfb) can be started here");
        w.environment << "DISPLAY=:" + display;
        arguments.removeLast(); // the save dialog asks where the package goes
    } else if (cause == "settings") {
        w.write(package, "[Settings]\nLastFolder=C:\\\\App\\\\\n");
    } else if (cause == "slow template") {
        slow = HeldAccess::onOpen(w.path("c/App/APP.TST6"));
    } else if (cause == "hash") {
        arguments.prepend("--json"); // the package is hashed before it takes its name
        if (::mount("tmpfs", out.constData(), "tmpfs", 0, "size=64m") == 0)
            slow = HeldAccess::onRead(w.path("c/Out")); // the first read there is the hash's
    } else if (cause == "pipe") {
        QCOMPARE(::mkfifo(QFile::encodeName(w.path(package)).constData(), 0600), 0);
    } else if (cause == "size limit") {
        QFile random("/dev/urandom");
        QVERIFY(random.open(QIODevice::ReadOnly));
        w.write(kLogs + "noise.bin", random.read(6 << 20));
        w.inProgram = [] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{2 << 20, 2 << 20};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        };
    }
    const auto unmount = qScopeGuard([&] { ::umount(out.constData()); });
    if ((cause == "slow template" || cause == "hash") && !slow)
        QSKIP("no fanotify here to hold the run on a slow file (needs root)");
    const std::unique_ptr<QProcess> p = w.start(arguments);
    QString err;
    if (cause == "save dialog") {
        // The manifest is written just before the dialog opens. Meanwhile another run of the same
        // user packs its own manifest without waiting for the dialog.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(w.path("tmp/TSVERSION.TXT")), 300000);
        QCOMPARE(w.run({w.path("c/App/"), w.path("other.zip")}).status, 0);
    } else if (slow) {
        QVERIFY(slow->waitHeld([&] { return !p->waitForFinished(1); }));
    } else if (!sent.isEmpty()) {
        QVERIFY2(waitForError(*p, sign, err), qPrintable(err));
    }
    for (const int number : sent)
        ::kill(static_cast<pid_t>(p->processId()), number);
    if (slow)
        slow->release();
    QVERIFY(p->waitForFinished(300000)); // a signal ends any wait, for a lock or for a person
    err += QString::fromUtf8(p->readAllStandardError());
    QVERIFY2(p->exitStatus() == QProcess::NormalExit && p->exitCode() == 1, qPrintable(err));
    QVERIFY2(err.section('\n', -2).startsWith("ts6satchel: no package was written: " + reason),
             qPrintable(err));
    QCOMPARE(w.entries("c/Out"), QStringList());
    // A signal in the catalogue load ends the load itself; the build after it writes nothing.
    const bool inTheLoad = cause == "slow template";
    QCOMPARE(w.entries("tmp"), inTheLoad ? QStringList() : QStringList{"TSVERSION.TXT"});
    const QByteArray trace = readFile(w.logDir() + "/TS6Satchel.log");
    QVERIFY(trace.contains("START: frmSatchel, LoadGrid"));
    QCOMPARE(trace.contains("ERROR: frmSatchel, LoadGrid, Runtime error occurred: 18 : Interrupted"),
             inTheLoad);
    QCOMPARE(readFile(w.path("c/App/APP.TSD6")), QByteArray("APP")); // every input left as it was
    struct stat st
    {};
    QVERIFY(cause != "pipe" ||
            (::stat(QFile::encodeName(w.path(package)).constData(), &st) == 0 && S_ISFIFO(st.st_mode)));
}

void TestReliability::packsWhatItCan_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("package");
    QTest::addColumn<QStringList>("comment"); // the package's comment, line by line
    QTest::addColumn<QStringList>("names");   // entries the package holds, the log files among them made here
    QTest::addColumn<QString>("absent");      // a pattern that no entry name matches
    const QString out = "c/Out/p.zip";
    const QString logs = "C/ProgramData/Norvale/TS6/logs/";
    const QString handed = "C:\\ProgramData\\Norvale\\TS6\\logs\\";
    // A path well over 260 characters, and one a thousand folders deep.
    const QString deep = logs + QString("a-rather-long-folder-name/").repeated(12) + "deep.log";
    const QString nested = logs + QString("n/").repeated(1000) + "bottom.log";
    const auto row = [&](const char* name, const char* setup, const QStringList& comment,
                         const QStringList& names, const QString& absent = {}, const QString& package = {}) {
        QTest::newRow(name) << QString::fromLatin1(setup) << (package.isEmpty() ? out : package) << comment
                            << names << absent;
    };
    row("pipes as data file, input file and log", "pipes",
        {"C:\\APP\\APP.TSD6: not a regular file", "C:\\APP\\IN.TXT: not a regular file",
         handed + "pipe.log: not a regular file"},
        {"TSVERSION.TXT", "C/App/APP.TST6", logs + "tess.log"}, "pipe");
    row("package in the log folder, built twice", "twice", {},
        {"TSVERSION.TXT", "C/App/APP.TST6", "C/App/APP.TSD6", "C/App/IN.TXT", logs + "tess.log"}, "pkg.zip",
        kLogs + "pkg.zip");
    row("log subfolder that cannot be listed", "locked", {handed + "locked: Permission denied"},
        {logs + "tess.log", logs + "open/a.log"}, "secret");
    row("dates of 1970 and 2108, a UTF-8 name", "dates", {},
        {logs + "old.log", logs + "future.log", logs + "Überwachung.log"});
    row("package name matched case-blind", "case", {}, {logs + "tess.log"}, "Out/", "c/Out/PACKAGE.ZIP");
    row("a name not in UTF-8, long and deep paths, link loops", "shapes",
        {handed + "back-to-top: symbolic link, not followed", handed + "loop-a: symbolic link, not followed",
         handed + "loop-b: symbolic link, not followed"},
        {logs + "cafe.log", deep, nested}, "back-to-top");
    row("a folder copied from Windows: trailing blanks and dots, links, a NUL", "windows", {},
        {"C/App/orders.tsm6", "C/DATA/in.csv", "C/HELP/main.hlp", "C/App/passwd.tst6"}, "orders.ts[al]6|ETC");
    row("a log and a log folder swapped for links while a large log is opened", "swap",
        {handed + "a-small.log: symbolic link, not followed", handed + "sub: symbolic link, not followed"},
        {logs + "big.log", logs + "tess.log"}, "shadow|inner");
    row("a package name of 255 bytes, built twice", "twice", {}, {logs + "tess.log"}, {},
        "c/Out/" + QString(251, 'p') + ".zip");
    row("twelve descriptors (ulimit -n 12) for logs large, small and deep", "few descriptors", {},
        {logs + "a/b/c/d/e/f/deep.log", logs + "x.log", logs + "y.log", logs + "z.log"});
    row("standard error's reader gone, as with 2>&1 | head -1", "stderr gone", {}, {logs + "tess.log"});
    row("another program holds the settings folder's lock: saved without it", "settings lock", {},
        {logs + "tess.log"});
    row("log folder that is a link to itself", "self", {}, {"TSVERSION.TXT", "C/App/APP.TST6"},
        "ProgramData");
}

void TestReliability::packsWhatItCan()
{
    QFETCH(QString, setup);
    QFETCH(QString, package);
    QFETCH(QStringList, comment);
    QFETCH(QStringList, names);
    QFETCH(QString, absent);
    ProgramWorld w;
    w.writeTemplate("c/App/APP.TST6", {{"IN", "I", {}, "C:\\App\\IN.TXT", {}, {}}});
    w.write("c/App/IN.TXT", "input");
    w.write(kLogs + "tess.log", "log");
    std::unique_ptr<HeldAccess> slow; // the run held at a large log's opening, while the tree is swapped
    UniqueFd held;                    // a lock another program holds
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
        setMode(logs + "locked", 0);
    } else if (setup == "dates") {
        QCOMPARE(QProcess::execute("touch", {"-d", "@0", logs + "old.log"}), 0);
        QCOMPARE(QProcess::execute("touch", {"-d", "2108-06-01T12:00:00Z", logs + "future.log"}), 0);
    } else if (setup == "case") {
        w.write("c/Out/package.zip", "the previous package");
    } else if (setup == "shapes") {
        w.write(kLogs + "latin-1.log", "latin-1 named\n");
        QCOMPARE(::rename(QFile::encodeName(logs + "latin-1.log"), QFile::encodeName(logs) + "caf\xe9.log"),
                 0);
        QFile::link(logs + "loop-b", logs + "loop-a");
        QFile::link(logs + "loop-a", logs + "loop-b");
        QFile::link(logs, logs + "back-to-top");
    } else if (setup == "windows") {
        // Help and input files named with a trailing blank and dot; companions that are a link to a
        // file (packed), a folder and a dangling link (neither listed); a path holding NUL (listed,
        // packs nothing).
        w.write("c/App/orders.tst6", "[Template]\n[[Field]]\nInputFile = 'C:\\DATA\\IN.CSV.'\n"
                                     "HelpFile = 'C:\\HELP\\MAIN.HLP '\n");
        w.write("c/App/passwd.tst6",
                "[Template]\n[[Field]]\nInputFile = \"C:\\\\ETC\\\\PASSWD\\u0000.CSV\"\n");
        for (const char* file : {"c/App/orders.tsd6", "c/App/orders.tsa6/inside", "c/HELP/main.hlp",
                                 "c/DATA/in.csv", "c/ETC/PASSWD"})
            w.write(file, "x");
        QFile::link("nowhere", w.path("c/App/orders.tsl6"));
        QFile::link("orders.tsd6", w.path("c/App/orders.tsm6"));
    } else if (setup == "swap") {
        w.write(kLogs + "a-small.log", "small");
        w.write(kLogs + "big.log", QByteArray(300000, 'b')); // past a whole piece: opened while added
        w.write(kLogs + "sub/inner.log", "inner");
        w.write("c/Secret/shadow", "root:secret");
        slow = HeldAccess::onOpen(logs + "big.log");
        if (!slow)
            QSKIP("no fanotify here to hold the run on a slow file (needs root)");
    } else if (setup == "few descriptors") {
        w.write(kLogs + "large.log", QByteArray(3 << 20, 'l'));
        w.inProgram = [] {
            ::close_range(3, ~0U, 0); // none inherited from the test: twelve for the program itself
            const rlimit limit{12, 12};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        };
    } else if (setup == "stderr gone") {
        w.inProgram = [] {
            int ends[2];
            if (::pipe(ends) == 0 && ::close(ends[0]) == 0)
                ::dup2(ends[1], STDERR_FILENO);
        };
    } else if (setup == "settings lock") {
        QDir().mkpath(w.path("config/Norvale/TS6"));
        held = heldLock(w.path("config/Norvale/TS6"));
    } else if (setup == "self") {
        QDir(logs).removeRecursively();
        QFile::link(logs.chopped(1), logs.chopped(1));
    }
    const QString archive = w.path(setup == "case" ? "c/Out/package.zip" : package);
    for (int build = setup == "twice" ? 2 : 1; build > 0; --build) {
        const std::unique_ptr<QProcess> p = w.start({w.path("c/App/"), w.path(package)});
        if (slow) {
            QVERIFY(slow->waitHeld([&] { return !p->waitForFinished(1); }));
            QVERIFY(QDir(logs).rename("sub", "../moved-sub") && QFile::remove(logs + "a-small.log"));
            QVERIFY(QFile::link(w.path("c/Secret"), logs + "sub") &&
                    QFile::link(w.path("c/Secret/shadow"), logs + "a-small.log"));
            slow->release();
        }
        QVERIFY(p->waitForFinished(300000));
        const QString err = QString::fromUtf8(p->readAllStandardError());
        QVERIFY2(p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0, qPrintable(err));
        QVERIFY2(setup == "stderr gone" || err.section('\n', -2).startsWith("ts6satchel: wrote "),
                 qPrintable(err));
    }
    // A lock held elsewhere waits a while only; the run went to its end.
    QVERIFY(setup != "settings lock" ||
            readFile(w.path("config/Norvale/TS6/ts6satchel.ini")).contains("LastFolder"));
    QVERIFY(readFile(w.logDir() + "/TS6Satchel.log").contains("END: frmSatchel, Form_Load"));
    const ArchiveReport report = checkArchive(archive);
    QVERIFY2(report.valid(), qPrintable(report.details));
    TS6_REQUIRE_PROGRAMS({"bsdtar"});
    QCOMPARE(QProcess::execute("sh", {"-c", "bsdtar -tf \"$0\" >/dev/null", archive}), 0);
    for (const QString& name : names)
        QVERIFY2(report.names.contains(name), qPrintable(name + " not in " + report.names.join(' ')));
    if (!absent.isEmpty())
        QCOMPARE(report.names.filter(QRegularExpression(absent)), QStringList());
    QCOMPARE(report.comment.split('\n', Qt::SkipEmptyParts), comment);
    if (setup == "case")
        QCOMPARE(w.entries("c/Out"), QStringList{"package.zip"});
    if (setup == "shapes") // the name keeps its bytes (so read as code page 437) and its own content
        QCOMPARE(readEntry(archive, "C/ProgramData/Norvale/TS6/logs/cafΘ.log"),
                 QByteArray("latin-1 named\n"));
    if (setup == "windows") { // the manifest names each file as its template spells it
        const QByteArray manifest = readEntry(archive, "TSVERSION.TXT");
        QVERIFY2(manifest.contains("C:\\DATA\\IN.CSV.\r\n") && manifest.contains("C:\\HELP\\MAIN.HLP \r\n") &&
                     manifest.contains(QByteArray("C:\\ETC\\PASSWD\0.CSV\r\n", 20)) &&
                     !manifest.contains("TSL6") && !manifest.contains("TSA6"),
                 manifest.constData());
    }
    if (setup == "dates") { // the exact times, beyond the DOS range, in the extra fields
        const QByteArray listing = runTool("7zz", {"l", "-slt", archive}).out;
        QVERIFY2(listing.contains("Modified = 1970-01-01 00:00:00") &&
                     listing.contains("Modified = 2108-06-01 12:00:00"),
                 listing.constData());
    }
}

void TestReliability::hundredThousandLogFiles()
{
    if (qEnvironmentVariableIsEmpty("TS6_SLOW_TESTS"))
        QSKIP("slow: run as tst_reliability_slow");
    const ProgramWorld w;
    w.writeTemplate("c/App/APP.TST6");
    QCOMPARE(QProcess::execute("python3", {"-c",
                                           "import sys\nfor i in range(100000): "
                                           "open(f'{sys.argv[1]}/l{i}.log', 'w').write(f'line {i}\\n')",
                                           w.path(kLogs)}),
             0);
    QCOMPARE(w.run({w.path("c/App/"), w.path("c/Out/p.zip")}).status, 0);
    const ArchiveReport report = checkArchive(w.path("c/Out/p.zip"));
    QVERIFY2(report.valid(), qPrintable(report.details.left(2000)));
    QCOMPARE(report.names.size(), 100000 + 3);
}

QTEST_GUILESS_MAIN(TestReliability)
#include "tst_reliability.moc"
