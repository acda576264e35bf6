// The program where support tools fail: two runs at once, a signal in the middle of a build, a full
// disk, names and shapes that are not what a tool expects. Real processes, real files.
#include "support/ArchiveCheck.h"
#include "support/Installation.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <random>
#include <sys/mount.h>
#include <unistd.h>

namespace {

class World
{
public:
    World()
    {
        QDir().mkpath(path("c/Out"));
        QDir().mkpath(path("tmp"));
        QDir().mkpath(path("c/ProgramData/Norvale/TS6/logs"));
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

    QProcess* start(const QStringList& arguments, const QString& logDir = QString()) const
    {
        auto* p = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "TS6_SHARED_PATH"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("TS6_DRIVES"), QStringLiteral("C=") + path("c"));
        env.insert(QStringLiteral("TS6_PROGRAMDATA"), path("c/ProgramData"));
        env.insert(QStringLiteral("TS6_LOG_DIR"), logDir.isEmpty() ? path("trace") : logDir);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path("config"));
        env.insert(QStringLiteral("TMPDIR"), path("tmp"));
        p->setProcessEnvironment(env);
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

    QStringList trace(const QString& logDir = QString()) const
    {
        QFile f((logDir.isEmpty() ? path("trace") : logDir) + QStringLiteral("/TS6Satchel.log"));
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
    void twoRunsAtOnceEachGetTheirOwnManifest();
    void signalInTheMiddleLeavesNothing_data();
    void signalInTheMiddleLeavesNothing();
    void realFullDisk();
    void hostileNamesAndShapes();
    void logFolderThatIsALinkLoop();
    void hundredThousandLogFiles();
};

void TestReliability::twoRunsAtOnceEachGetTheirOwnManifest()
{
    const World w;
    w.templateIn(QStringLiteral("c/First"), QStringLiteral("FIRST"));
    w.templateIn(QStringLiteral("c/Second"), QStringLiteral("SECOND"));
    w.bigLogs(48); // both runs are busy long enough to overlap
    for (int round = 0; round < 3; ++round) {
        std::unique_ptr<QProcess> a(w.start({w.path("c/First/"), w.path("c/Out/first.zip")}));
        std::unique_ptr<QProcess> b(w.start({w.path("c/Second/"), w.path("c/Out/second.zip")}));
        QVERIFY(a->waitForFinished(300000) && b->waitForFinished(300000));
        QCOMPARE(a->exitCode(), 0);
        QCOMPARE(b->exitCode(), 0);
        const QString first = entryText(w.path("c/Out/first.zip"), "TSVERSION.TXT");
        const QString second = entryText(w.path("c/Out/second.zip"), "TSVERSION.TXT");
        QVERIFY2(first.contains(QLatin1String(" 1  C:\\FIRST\\FIRST.TST6")) &&
                     !first.contains(QLatin1String("SECOND.TST6")),
                 qPrintable(first));
        QVERIFY2(!first.isEmpty(), "no manifest");
        QVERIFY2(second.contains(QLatin1String(" 1  C:\\SECOND\\SECOND.TST6")) &&
                     !second.contains(QLatin1String("FIRST.TST6")),
                 qPrintable(second + QStringLiteral("\n---first:\n") + first));
        QVERIFY(CheckArchive(w.path("c/Out/first.zip")).valid());
    }
}

void TestReliability::signalInTheMiddleLeavesNothing_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("twice");
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("SIGINT") << int(SIGINT) << false;
    QTest::newRow("SIGHUP, then SIGINT while cleaning up") << int(SIGHUP) << true;
}

void TestReliability::signalInTheMiddleLeavesNothing()
{
    QFETCH(int, signal);
    QFETCH(bool, twice);
    const World w;
    w.templateIn(QStringLiteral("c/App"), QStringLiteral("APP"));
    w.bigLogs(240);
    const QString package = w.path("c/Out/p.zip");
    std::unique_ptr<QProcess> p(w.start({w.path("c/App/"), package}));
    QThread::msleep(500);
    QVERIFY(p->state() == QProcess::Running);
    ::kill(static_cast<pid_t>(p->processId()), signal);
    if (twice) {
        QThread::msleep(20);
        ::kill(static_cast<pid_t>(p->processId()), SIGINT);
    }
    QVERIFY(p->waitForFinished(120000));
    QCOMPARE(p->exitStatus(), QProcess::NormalExit);
    QCOMPARE(p->exitCode(), 1);
    QVERIFY(QString::fromUtf8(p->readAllStandardError()).contains(QLatin1String("interrupted by signal")));
    expectInterruptedBuild(w, package);
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
