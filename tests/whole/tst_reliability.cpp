// The program where support tools fail: two runs at once, a signal in the middle of a build, a full
// disk, names and shapes that are not what a tool expects. Real processes, real files.
#include "support/ArchiveCheck.h"
#include "support/Installation.h"
#include "support/ProgramWorld.h"

#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <optional>
#include <random>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The world of these runs: their trace in "trace", no shared folder.
class World : public ProgramWorld
{
public:
    World() { environment = QStringList{QStringLiteral("TS6_LOG_DIR=") + path(QStringLiteral("trace"))}; }

    QString path(const QString& relative) const { return ProgramWorld::path(relative); }
    QString path(const char* relative) const { return path(QString::fromLatin1(relative)); }

    void templateIn(const QString& folder, const QString& title) const
    {
        TemplateSpec content;
        content.title = title;
        write(folder + QLatin1Char('/') + title + QStringLiteral(".TST6"), TemplateToml(content));
        write(folder + QLatin1Char('/') + title + QStringLiteral(".TSD6"), title.toUtf8());
    }

    int run(const QStringList& arguments) const { return ProgramWorld::run(arguments).status; }
    QStringList trace() const { return ProgramWorld::trace(QStringLiteral("trace")); }
    bool outIsEmpty() const { return isEmpty(QStringLiteral("c/Out")); }

    // Logs that take the program a while to pack.
    void bigLogs(int megabytes) const
    {
        std::mt19937 random(3);
        for (int f = 0; f < megabytes / 8; ++f) {
            QByteArray text;
            text.reserve(8 << 20);
            while (text.size() < (8 << 20))
                text += "2026-12-04 step=" + QByteArray::number(random()) +
                        " value=" + QByteArray::number(random() % 977) + "\n";
            write(QStringLiteral("c/ProgramData/Norvale/TS6/logs/big%1.log").arg(f), text);
        }
    }
};

QString entryText(const QString& archive, const char* name)
{
    return QString::fromUtf8(ReadEntry(archive, QString::fromLatin1(name)));
}

// Reads the run's standard error until it holds the text; false when the run ends first.
bool waitForError(QProcess& run, const QString& text, QString& err)
{
    while (!err.contains(text)) {
        if (!run.waitForReadyRead(300000))
            return false;
        err += QString::fromUtf8(run.readAllStandardError());
    }
    return true;
}

// An exclusive lock on a folder, as a run of the program takes it on its temporary folder.
class HeldLock
{
public:
    explicit HeldLock(const QString& folder)
        : m_fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_CLOEXEC))
    {
        ::flock(m_fd, LOCK_EX);
    }
    ~HeldLock() { ::close(m_fd); }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    int m_fd;
};

// Starts an X server of the test's own, so that the program shows its save dialog and waits
// there; the display's name, or nothing when no server can be started.
QString startDisplay(QProcess& server)
{
    server.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                          QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QByteArray number;
    while (!number.endsWith('\n') && server.waitForReadyRead(60000))
        number += server.readAllStandardOutput();
    return number.trimmed().isEmpty() ? QString() : QLatin1Char(':') + QString::fromLatin1(number.trimmed());
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

class TestReliability : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void runsThatMeet_data();
    void runsThatMeet();
    void signalEndsTheRun_data();
    void signalEndsTheRun();
    void realFullDisk();
    void hostileNamesAndShapes();
    void logFolderThatIsALinkLoop();
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
    const bool asNobody = secondRun == QLatin1String("nobody");
    if (asNobody && ::geteuid() != 0)
        QSKIP("a second user needs root to be simulated");
    const World w;
    w.templateIn(QStringLiteral("c/First"), QStringLiteral("FIRST"));
    w.templateIn(QStringLiteral("c/Second"), QStringLiteral("SECOND"));
    w.write(QStringLiteral("victim/keep.txt"), "keep");
    const QString temp = w.path(sharedTemp ? "shared" : "tmp");
    QDir().mkpath(temp);
    if (sharedTemp)
        SetMode(temp, 01777);
    if (asNobody) {
        SetMode(w.path(QString()), 0755);
        SetMode(w.path("c/Out"), 0777);
    }
    if (!planted.isEmpty()) {
        const QString name = QString(planted).replace(QLatin1String("%U"), QString::number(::geteuid()));
        QVERIFY(
            QFile::link(w.path(name.startsWith(QLatin1String("TSVERSION")) ? "victim/keep.txt" : "victim"),
                        temp + QLatin1Char('/') + name));
    }
    const QStringList tmpdir{QStringLiteral("TMPDIR=") + temp};
    const QString ownTemp = sharedTemp ? temp + QStringLiteral("/ts6satchel-%1").arg(::geteuid()) : temp;

    std::unique_ptr<HeldLock> held;
    if (secondRun == QLatin1String("same user"))
        held = std::make_unique<HeldLock>(ownTemp); // both runs write their manifest, then wait to pack it
    const std::unique_ptr<QProcess> first = w.start({w.path("c/First/"), w.path("c/Out/first.zip")}, tmpdir);
    std::unique_ptr<QProcess> second;
    if (!secondRun.isEmpty())
        second = w.start({w.path("c/Second/"), w.path("c/Out/second.zip")}, tmpdir, {}, asNobody);
    if (held) {
        QString errFirst;
        QString errSecond;
        QVERIFY(waitForError(*first, QStringLiteral("\\TSVERSION.TXT\n"), errFirst));
        QVERIFY(waitForError(*second, QStringLiteral("\\TSVERSION.TXT\n"), errSecond));
        held.reset();
    }
    QVERIFY(first->waitForFinished(300000));
    const QString err = QString::fromUtf8(first->readAllStandardError());
    QCOMPARE(first->exitCode(), status);
    if (second) {
        QVERIFY(second->waitForFinished(300000));
        QVERIFY2(second->exitCode() == 0, second->readAllStandardError().constData());
        const QString manifest = entryText(w.path("c/Out/second.zip"), "TSVERSION.TXT");
        QVERIFY2(manifest.contains(QLatin1String(" 1  C:\\SECOND\\SECOND.TST6\r\n")) &&
                     !manifest.contains(QLatin1String("FIRST")),
                 qPrintable(manifest));
    }
    if (status == 0) {
        const QString manifest = entryText(w.path("c/Out/first.zip"), "TSVERSION.TXT");
        QVERIFY2(manifest.contains(QLatin1String(" 1  C:\\FIRST\\FIRST.TST6\r\n")) &&
                     !manifest.contains(QLatin1String("SECOND")),
                 qPrintable(manifest));
        QVERIFY(CheckArchive(w.path("c/Out/first.zip")).valid());
        // Nothing is left behind but the last manifest, a file of its own.
        QCOMPARE(entriesOf(ownTemp), QStringList{QStringLiteral("TSVERSION.TXT")});
    } else {
        QVERIFY2(
            err.endsWith(QStringLiteral("ts6satchel: no package was written: Cannot use the temporary folder "
                                        "%1: something other than a folder (a link?) stands at its name\n")
                             .arg(ownTemp)),
            qPrintable(err));
        QVERIFY(w.outIsEmpty());
    }
    QCOMPARE(entriesOf(w.path("victim")), QStringList{QStringLiteral("keep.txt")});
    QFile victim(w.path("victim/keep.txt"));
    QVERIFY(victim.open(QIODevice::ReadOnly));
    QCOMPARE(victim.readAll(), QByteArray("keep"));
}

void TestReliability::signalEndsTheRun_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("then");           // a second signal while the run cleans up, or 0
    QTest::addColumn<QString>("waitingFor"); // "large add", "another run", "save dialog"
    QTest::newRow("SIGTERM during a large add") << int(SIGTERM) << 0 << "large add";
    QTest::newRow("SIGINT during a large add, SIGHUP while cleaning up")
        << int(SIGINT) << int(SIGHUP) << "large add";
    QTest::newRow("SIGTERM while another run packs its manifest") << int(SIGTERM) << 0 << "another run";
    QTest::newRow("SIGTERM while the save dialog is open") << int(SIGTERM) << 0 << "save dialog";
}

void TestReliability::signalEndsTheRun()
{
    QFETCH(int, signal);
    QFETCH(int, then);
    QFETCH(QString, waitingFor);
    const World w;
    w.templateIn(QStringLiteral("c/App"), QStringLiteral("APP"));
    const QString package = w.path("c/Out/p.zip");
    QStringList arguments{w.path("c/App/"), package};
    QStringList environment;
    std::unique_ptr<HeldLock> held;
    QProcess xServer;
    const auto stopServer = qScopeGuard([&] {
        xServer.terminate();
        xServer.waitForFinished();
    });
    QString sign = QStringLiteral("Adding logs\n");
    if (waitingFor == QLatin1String("large add")) {
        w.bigLogs(240);
    } else if (waitingFor == QLatin1String("another run")) {
        held = std::make_unique<HeldLock>(w.path("tmp"));
        sign = QStringLiteral("\\TSVERSION.TXT\n");
    } else {
        const QString display = startDisplay(xServer);
        if (display.isEmpty())
            QSKIP("no X server (Xvfb) can be started here");
        environment << QStringLiteral("DISPLAY=") + display;
        arguments.removeLast(); // the save dialog asks where the package goes
    }
    const std::unique_ptr<QProcess> p = w.start(arguments, environment);
    QString err;
    if (xServer.state() == QProcess::Running) {
        // The manifest is written just before the dialog opens. Meanwhile another run of the same
        // user packs its own manifest without waiting for the dialog.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(w.path("tmp/TSVERSION.TXT")), 300000);
        QCOMPARE(w.run({w.path("c/App/"), w.path("other.zip")}), 0);
        QVERIFY(p->state() == QProcess::Running);
    } else {
        QVERIFY2(waitForError(*p, sign, err), qPrintable(err));
    }
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    ::kill(static_cast<pid_t>(p->processId()), signal);
    if (then != 0)
        ::kill(static_cast<pid_t>(p->processId()), then);
    QVERIFY(p->waitForFinished(120000));
    const qint64 ms = sinceSignal.elapsed();
    err += QString::fromUtf8(p->readAllStandardError());
    QCOMPARE(p->exitStatus(), QProcess::NormalExit);
    QCOMPARE(p->exitCode(), 1);
    QVERIFY2(err.section(QLatin1Char('\n'), -2)
                 .startsWith(QLatin1String("ts6satchel: no package was written: Interrupted by signal ")),
             qPrintable(err));
    QVERIFY(w.outIsEmpty());
    QCOMPARE(entriesOf(w.path("tmp")), QStringList{QStringLiteral("TSVERSION.TXT")});
    // Waiting for another run or for a person ends at once.
    if (waitingFor != QLatin1String("large add"))
        QVERIFY2(ms < 1000, qPrintable(QStringLiteral("ended %1 ms after the signal").arg(ms)));
}

void TestReliability::realFullDisk()
{
    const World w;
    w.templateIn(QStringLiteral("c/App"), QStringLiteral("APP"));
    std::mt19937 random(9);
    QByteArray noise(6 << 20, Qt::Uninitialized);
    for (char& c : noise)
        c = static_cast<char>(random());
    w.write(QStringLiteral("c/ProgramData/Norvale/TS6/logs/noise.bin"), noise);
    const QByteArray small = QFile::encodeName(w.path("c/Out"));
    if (::mount("tmpfs", small.constData(), "tmpfs", 0, "size=2m") != 0)
        QSKIP("no small tmpfs can be mounted here (needs root and mount rights)");
    const int status = w.run({w.path("c/App/"), w.path("c/Out/p.zip")});
    const bool empty = w.outIsEmpty();
    ::umount(small.constData());
    QCOMPARE(status, 1);
    QVERIFY(empty);
    const QStringList trace = w.trace();
    QCOMPARE(trace.at(trace.size() - 3), QStringLiteral("END: frmSatchel, Build_Package"));
    QVERIFY2(trace.at(trace.size() - 2).contains(QLatin1String("No space left on device")),
             qPrintable(trace.at(trace.size() - 2)));
}

void TestReliability::hostileNamesAndShapes()
{
    const World w;
    w.templateIn(QStringLiteral("c/App"), QStringLiteral("APP"));
    const QString logs = w.path("c/ProgramData/Norvale/TS6/logs");
    // A name in Latin-1, not UTF-8: "café.log".
    const QByteArray latin1 = QFile::encodeName(logs) + "/caf\xe9.log";
    {
        FILE* f = std::fopen(latin1.constData(), "w");
        QVERIFY(f);
        std::fputs("latin-1 named\n", f);
        std::fclose(f);
    }
    w.write(QStringLiteral("c/ProgramData/Norvale/TS6/logs/cafe.log"), "plain named\n");
    // A path well over 260 characters.
    QString deep = QStringLiteral("c/ProgramData/Norvale/TS6/logs");
    for (int i = 0; i < 12; ++i)
        deep += QStringLiteral("/a-rather-long-folder-name-%1").arg(i);
    w.write(deep + QStringLiteral("/deep.log"), "deep\n");
    QVERIFY(w.path(deep).size() > 300);
    // 1,000 nested folders.
    QString nested = QStringLiteral("c/ProgramData/Norvale/TS6/logs/n");
    for (int i = 0; i < 999; ++i)
        nested += QStringLiteral("/n");
    w.write(nested + QStringLiteral("/bottom.log"), "bottom\n");
    // A link loop and a dangling link among the logs.
    QFile::link(logs + QStringLiteral("/loop-b"), logs + QStringLiteral("/loop-a"));
    QFile::link(logs + QStringLiteral("/loop-a"), logs + QStringLiteral("/loop-b"));
    QFile::link(logs, logs + QStringLiteral("/back-to-top"));

    const QString package = w.path("c/Out/p.zip");
    QCOMPARE(w.run({w.path("c/App/"), package}), 0);
    const ArchiveReport report = CheckArchive(package);
    QVERIFY2(report.valid(), qPrintable(report.details));
    QProcess bsdtar;
    bsdtar.start(QStringLiteral("bsdtar"), {QStringLiteral("-tf"), package});
    QVERIFY(bsdtar.waitForFinished(120000));
    QCOMPARE(bsdtar.exitCode(), 0);
    QVERIFY(report.names.contains(QStringLiteral("C/ProgramData/Norvale/TS6/logs/cafe.log")));
    QVERIFY(std::any_of(report.names.cbegin(), report.names.cend(), [](const QString& n) {
        return n.endsWith(QLatin1String("/deep.log")) && n.size() > 300;
    }));
    QVERIFY(std::any_of(report.names.cbegin(), report.names.cend(),
                        [](const QString& n) { return n.endsWith(QLatin1String("/n/n/bottom.log")); }));
    // The Latin-1 name keeps its bytes and its own content.
    QProcess python;
    python.start(
        QStringLiteral("python3"),
        {QStringLiteral("-c"),
         QStringLiteral(
             "import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1])\n"
             "i=[i for i in z.infolist() if i.filename.encode('cp437').endswith(b'/caf\\xe9.log')][0]\n"
             "print(z.read(i).decode(), end='')"),
         package});
    QVERIFY(python.waitForFinished(60000));
    QCOMPARE(QString::fromUtf8(python.readAllStandardOutput()), QStringLiteral("latin-1 named\n"));
    // The loop is skipped and named, the link back up is not followed.
    QVERIFY(report.comment.contains(QLatin1String("loop-a: Too many levels of symbolic links")));
    QVERIFY(!std::any_of(report.names.cbegin(), report.names.cend(),
                         [](const QString& n) { return n.contains(QLatin1String("back-to-top")); }));
}

void TestReliability::logFolderThatIsALinkLoop()
{
    const World w;
    w.templateIn(QStringLiteral("c/App"), QStringLiteral("APP"));
    const QString logs = w.path("c/ProgramData/Norvale/TS6/logs");
    QDir(logs).removeRecursively();
    QFile::link(logs, logs); // the folder is a link to itself
    QCOMPARE(w.run({w.path("c/App/"), w.path("c/Out/p.zip")}), 0);
    QVERIFY(w.trace().contains(QStringLiteral(
        "LOG: frmSatchel, BuildPackage, C:\\ProgramData\\Norvale\\TS6\\logs folder not found.")));
    QVERIFY(CheckArchive(w.path("c/Out/p.zip")).valid());
}

void TestReliability::hundredThousandLogFiles()
{
    const World w;
    w.templateIn(QStringLiteral("c/App"), QStringLiteral("APP"));
    const QByteArray logs = QFile::encodeName(w.path("c/ProgramData/Norvale/TS6/logs"));
    for (int i = 0; i < 100000; ++i) {
        FILE* f = std::fopen((logs + "/l" + QByteArray::number(i) + ".log").constData(), "w");
        std::fprintf(f, "line %d\n", i);
        std::fclose(f);
    }
    QCOMPARE(w.run({w.path("c/App/"), w.path("c/Out/p.zip")}), 0);
    const ArchiveReport report = CheckArchive(w.path("c/Out/p.zip"));
    QVERIFY2(report.valid(), qPrintable(report.details.left(2000)));
    QCOMPARE(report.names.size(), 100000 + 3);
}

QTEST_GUILESS_MAIN(TestReliability)
#include "tst_reliability.moc"
