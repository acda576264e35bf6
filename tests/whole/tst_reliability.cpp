// The program where support tools fail: two runs at once, a signal in the middle of a build, a full
// disk, names and shapes that are not what a tool expects. Real processes, real files.
#include "support/ArchiveCheck.h"
#include "support/Installation.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
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

void setMode(const QString& path, mode_t mode)
{
    ::chmod(QFile::encodeName(path).constData(), mode);
}

class World
{
public:
    World()
    {
        QDir().mkpath(path("c/Out"));
        QDir().mkpath(path("tmp"));
        QDir().mkpath(path("c/ProgramData/Norvale/TS6/logs"));
        QDir().mkpath(path("runtime"));
        setMode(path("runtime"), 0700);
    }

    QString path(const QString& relative) const { return m_dir.path() + QLatin1Char('/') + relative; }
    QString path(const char* relative) const { return path(QString::fromLatin1(relative)); }

    void write(const QString& relative, const QByteArray& content) const
    {
        QDir().mkpath(QFileInfo(path(relative)).absolutePath());
        QFile f(path(relative));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }

    void templateIn(const QString& folder, const QString& title) const
    {
        TemplateSpec content;
        content.title = title;
        write(folder + QLatin1Char('/') + title + QStringLiteral(".TST6"), TemplateToml(content));
        write(folder + QLatin1Char('/') + title + QStringLiteral(".TSD6"), title.toUtf8());
    }

    // Starts the program; more holds environment settings ("NAME=value"). As nobody, the run has
    // its own trace, settings and home.
    QProcess* start(const QStringList& arguments, const QStringList& more = QStringList(),
                    bool asNobody = false) const
    {
        auto* p = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "TS6_SHARED_PATH"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("TS6_DRIVES"), QStringLiteral("C=") + path("c"));
        env.insert(QStringLiteral("TS6_PROGRAMDATA"), path("c/ProgramData"));
        env.insert(QStringLiteral("TS6_LOG_DIR"), path("trace"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path("config"));
        env.insert(QStringLiteral("TMPDIR"), path("tmp"));
        // Qt's own runtime folder, which it would otherwise make in TMPDIR.
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path("runtime"));
        QStringList settings = more;
        if (asNobody) {
            for (const char* folder : {"nobody", "nobody/trace", "nobody/config", "nobody/home"}) {
                QDir().mkpath(path(folder));
                setMode(path(folder), 0777);
            }
            settings << QStringLiteral("TS6_LOG_DIR=") + path("nobody/trace")
                     << QStringLiteral("XDG_CONFIG_HOME=") + path("nobody/config")
                     << QStringLiteral("HOME=") + path("nobody/home") << QStringLiteral("XDG_RUNTIME_DIR=");
        }
        for (const QString& setting : std::as_const(settings))
            env.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
        p->setProcessEnvironment(env);
        p->setReadChannel(QProcess::StandardError);
        if (asNobody)
            p->start(QStringLiteral("setpriv"),
                     QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                 QStringLiteral("--clear-groups"), QStringLiteral(TS6_PROGRAM)} +
                         arguments);
        else
            p->start(QStringLiteral(TS6_PROGRAM), arguments);
        p->waitForStarted();
        return p;
    }

    int run(const QStringList& arguments, QString* err = nullptr) const
    {
        std::unique_ptr<QProcess> p(start(arguments));
        p->waitForFinished(600000);
        if (err)
            *err = QString::fromUtf8(p->readAllStandardError());
        return p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
    }

    QStringList trace() const
    {
        QFile f(path("trace") + QStringLiteral("/TS6Satchel.log"));
        f.open(QIODevice::ReadOnly);
        QStringList entries;
        for (const QString& line :
             QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            entries.append(line.section(QLatin1Char(' '), 3)
                               .remove(QRegularExpression(QStringLiteral(" \\[ID_[^\\]]*\\]$"))));
        return entries;
    }

    bool outIsEmpty() const
    {
        return QDir(path("c/Out"))
            .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

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

    ~World()
    {
        // Folders nested deeper than a path may be long are removed by rm, not by QTemporaryDir.
        QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), m_dir.path()});
    }

private:
    QTemporaryDir m_dir;
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

// An X server of the test's own, so that the program shows its save dialog and waits there.
class VirtualDisplay
{
public:
    VirtualDisplay()
    {
        m_server.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                                QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        QByteArray number;
        while (!number.endsWith('\n') && m_server.waitForReadyRead(60000))
            number += m_server.readAllStandardOutput();
        if (!number.trimmed().isEmpty())
            m_name = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    }
    ~VirtualDisplay()
    {
        m_server.terminate();
        m_server.waitForFinished();
    }
    QString name() const { return m_name; } // empty when no server could be started

private:
    QProcess m_server;
    QString m_name;
};

// What a temporary folder holds, each entry with "@" after a link.
QStringList entriesOf(const QString& folder)
{
    QStringList names;
    for (const QFileInfo& entry :
         QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        names.append(entry.fileName() + (entry.isSymLink() ? QStringLiteral("@") : QString()));
    return names;
}

void expectInterruptedBuild(const World& w, const QString& package)
{
    const QStringList trace = w.trace();
    const qsizetype end = trace.lastIndexOf(QStringLiteral("END: frmSatchel, Build_Package"));
    QVERIFY(end > 0);
    QVERIFY2(trace.at(end + 1).contains(QLatin1String("Interrupted by signal")),
             qPrintable(trace.at(end + 1)));
    QVERIFY(!QFileInfo::exists(package));
    QVERIFY(w.outIsEmpty());
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
        setMode(temp, 01777);
    if (asNobody) {
        setMode(w.path(QString()), 0755);
        setMode(w.path("c/Out"), 0777);
    }
    if (!planted.isEmpty()) {
        const QString name = QString(planted).replace(QLatin1String("%U"), QString::number(::geteuid()));
        QVERIFY(
            QFile::link(w.path(name.startsWith(QLatin1String("TSVERSION")) ? "victim/keep.txt" : "victim"),
                        temp + QLatin1Char('/') + name));
    }
    const QStringList tmpdir{QStringLiteral("TMPDIR=") + temp};
    const QString ownTemp = sharedTemp ? temp + QStringLiteral("/ts6satchel-%1").arg(::geteuid()) : temp;

    std::optional<HeldLock> held;
    if (secondRun == QLatin1String("same user"))
        held.emplace(ownTemp); // both runs write their manifest, then wait to pack it
    std::unique_ptr<QProcess> first(w.start({w.path("c/First/"), w.path("c/Out/first.zip")}, tmpdir));
    std::unique_ptr<QProcess> second;
    if (!secondRun.isEmpty())
        second.reset(w.start({w.path("c/Second/"), w.path("c/Out/second.zip")}, tmpdir, asNobody));
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
        if (asNobody)
            QCOMPARE(entriesOf(temp + QStringLiteral("/ts6satchel-65534")),
                     QStringList{QStringLiteral("TSVERSION.TXT")});
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
    std::optional<HeldLock> held;
    std::optional<VirtualDisplay> display;
    QString sign = QStringLiteral("Adding logs\n");
    if (waitingFor == QLatin1String("large add")) {
        w.bigLogs(240);
    } else if (waitingFor == QLatin1String("another run")) {
        held.emplace(w.path("tmp"));
        sign = QStringLiteral("\\TSVERSION.TXT\n");
    } else {
        display.emplace();
        if (display->name().isEmpty())
            QSKIP("no X server (Xvfb) can be started here");
        environment << QStringLiteral("DISPLAY=") + display->name();
        arguments.removeLast(); // the save dialog asks where the package goes
    }
    std::unique_ptr<QProcess> p(w.start(arguments, environment));
    QString err;
    if (display) {
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
    expectInterruptedBuild(w, package);
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
    QString err;
    const int status = w.run({w.path("c/App/"), w.path("c/Out/p.zip")}, &err);
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
    QString err;
    QCOMPARE(w.run({w.path("c/App/"), package}, &err), 0);
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
