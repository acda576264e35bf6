// The package writer against trees that are not what a tool expects, through the built program:
// pipes where files should be, the package among the files it packs, folders that cannot be
// listed, dates outside the DOS range, names that are not ASCII, and a stop signal in a large add.
#include "support/ArchiveCheck.h"
#include "support/Installation.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

namespace {

const QString kLogs = QStringLiteral("c/ProgramData/Norvale/TS6/logs");

class Tree
{
public:
    Tree()
    {
        TemplateSpec app;
        app.title = QStringLiteral("APP");
        app.fields = {
            {QStringLiteral("IN"), QStringLiteral("I"), {}, QStringLiteral("C:\\App\\IN.TXT"), {}, {}}};
        write(QStringLiteral("c/App/APP.TST6"), TemplateToml(app));
        write(QStringLiteral("c/App/APP.TSD6"), "data");
        write(QStringLiteral("c/App/IN.TXT"), "input");
        write(kLogs + QStringLiteral("/tess.log"), "log");
        QDir().mkpath(path(QStringLiteral("c/Out")));
        QDir().mkpath(path(QStringLiteral("tmp")));
    }
    ~Tree()
    {
        QProcess::execute(QStringLiteral("chmod"),
                          {QStringLiteral("-R"), QStringLiteral("u+rwx"), m_dir.path()});
    }

    QString path(const QString& relative) const { return m_dir.path() + QLatin1Char('/') + relative; }

    void write(const QString& relative, const QByteArray& content) const
    {
        QDir().mkpath(QFileInfo(path(relative)).absolutePath());
        QFile f(path(relative));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }

    // Starts a batch start that writes the package at `package`. Root runs without the rights that
    // let it read any folder, so that a folder's mode counts as it does for a user.
    std::unique_ptr<QProcess> start(const QString& package) const
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "TS6_SHARED_PATH"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("TS6_DRIVES"), QStringLiteral("C=") + path(QStringLiteral("c")));
        env.insert(QStringLiteral("TS6_PROGRAMDATA"), path(QStringLiteral("c/ProgramData")));
        env.insert(QStringLiteral("TS6_LOG_DIR"), path(QStringLiteral("trace")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        env.insert(QStringLiteral("TMPDIR"), path(QStringLiteral("tmp")));
        env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
        p->setProcessEnvironment(env);
        QStringList command = {QStringLiteral(TS6_PROGRAM), path(QStringLiteral("c/App/")), path(package)};
        if (::geteuid() == 0)
            command = QStringList{QStringLiteral("setpriv"),
                                  QStringLiteral("--bounding-set=-dac_override,-dac_read_search")} +
                      command;
        p->start(command.takeFirst(), command);
        p->waitForStarted();
        return p;
    }

    QStringList outFolder() const
    {
        return QDir(path(QStringLiteral("c/Out")))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

private:
    QTemporaryDir m_dir;
};

void setTime(const QString& path, qint64 seconds)
{
    const utimbuf times{seconds, seconds};
    QCOMPARE(::utime(QFile::encodeName(path).constData(), &times), 0);
}

QString run(const QString& program, const QStringList& arguments)
{
    QProcess p;
    p.start(program, arguments);
    p.waitForFinished(120000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TestHostileTree : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qputenv("TZ", "UTC"); }
    void packsWhatItCan_data();
    void packsWhatItCan();
    void stopSignalInALargeAdd();
};

void TestHostileTree::packsWhatItCan_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("package");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("comment");
    QTest::addColumn<QStringList>("names");
    const QString out = QStringLiteral("c/Out/p.zip");
    const QString logs = QStringLiteral("C/ProgramData/Norvale/TS6/logs/");
    const QString logsHanded = QStringLiteral("C:\\ProgramData\\Norvale\\TS6\\logs\\");
    QTest::newRow("pipes as data file, input file and log")
        << QStringLiteral("pipes") << out << 0
        << QStringList{QStringLiteral("C:\\APP\\APP.TSD6: not a regular file"),
                       QStringLiteral("C:\\APP\\IN.TXT: not a regular file"),
                       logsHanded + "pipe.log: not a regular file"}
        << QStringList{QStringLiteral("TSVERSION.TXT"), QStringLiteral("C/App/APP.TST6"), logs + "tess.log"};
    QTest::newRow("package in the log folder, built twice")
        << QStringLiteral("twice") << kLogs + "/pkg.zip" << 0 << QStringList()
        << QStringList{QStringLiteral("TSVERSION.TXT"), QStringLiteral("C/App/APP.TST6"),
                       QStringLiteral("C/App/APP.TSD6"), QStringLiteral("C/App/IN.TXT"), logs + "tess.log"};
    QTest::newRow("package path names an input")
        << QString() << QStringLiteral("c/App/APP.TSD6") << 1 << QStringList() << QStringList();
    QTest::newRow("log subfolder that cannot be listed")
        << QStringLiteral("locked") << out << 0 << QStringList{logsHanded + "locked: Permission denied"}
        << QStringList{logs + "tess.log", logs + "open/a.log"};
    QTest::newRow("dates of 1970 and 2108, a UTF-8 name and a mode")
        << QStringLiteral("dates") << out << 0 << QStringList()
        << QStringList{logs + "old.log", logs + "future.log", logs + "Überwachung.log"};
    QTest::newRow("package name matched case-blind")
        << QStringLiteral("case") << QStringLiteral("c/Out/PACKAGE.ZIP") << 0 << QStringList()
        << QStringList{logs + "tess.log"};
}

void TestHostileTree::packsWhatItCan()
{
    QFETCH(QString, setup);
    QFETCH(QString, package);
    QFETCH(int, status);
    QFETCH(QStringList, comment);
    QFETCH(QStringList, names);
    const Tree tree;
    const auto fifo = [&](const QString& relative) {
        QFile::remove(tree.path(relative));
        QCOMPARE(::mkfifo(QFile::encodeName(tree.path(relative)).constData(), 0600), 0);
    };
    if (setup == QLatin1String("pipes")) {
        for (const QString& f :
             {QStringLiteral("c/App/APP.TSD6"), QStringLiteral("c/App/IN.TXT"), kLogs + "/pipe.log"})
            fifo(f);
    } else if (setup == QLatin1String("locked")) {
        tree.write(kLogs + QStringLiteral("/open/a.log"), "a");
        tree.write(kLogs + QStringLiteral("/locked/secret.log"), "s");
        QCOMPARE(::chmod(QFile::encodeName(tree.path(kLogs + QStringLiteral("/locked"))).constData(), 0), 0);
    } else if (setup == QLatin1String("dates")) {
        tree.write(kLogs + QStringLiteral("/old.log"), "1970");
        tree.write(kLogs + QStringLiteral("/future.log"), "2108");
        tree.write(kLogs + QStringLiteral("/Überwachung.log"), "watch");
        setTime(tree.path(kLogs + QStringLiteral("/old.log")), 0);
        setTime(tree.path(kLogs + QStringLiteral("/future.log")),
                QDateTime(QDate(2108, 6, 1), QTime(12, 0), Qt::UTC).toSecsSinceEpoch());
        QCOMPARE(::chmod(QFile::encodeName(tree.path(kLogs + QStringLiteral("/Überwachung.log"))).constData(),
                         0640),
                 0);
    } else if (setup == QLatin1String("case")) {
        tree.write(QStringLiteral("c/Out/package.zip"), "the previous package");
    }
    for (int build = setup == QLatin1String("twice") ? 2 : 1; build > 0; --build) {
        const std::unique_ptr<QProcess> p = tree.start(package);
        QVERIFY(p->waitForFinished(120000));
        QCOMPARE(p->exitCode(), status);
        if (status != 0) {
            QFile trace(tree.path(QStringLiteral("trace/TS6Satchel.log")));
            QVERIFY(trace.open(QIODevice::ReadOnly));
            QVERIFY(trace.readAll().contains(
                "The package path names a file that goes into the package: C:\\APP\\APP.TSD6"));
            QFile input(tree.path(package));
            QVERIFY(input.open(QIODevice::ReadOnly));
            QCOMPARE(input.readAll(), QByteArray("data"));
            QCOMPARE(tree.outFolder(), QStringList());
            return;
        }
    }
    const QString archive =
        tree.path(setup == QLatin1String("case") ? QStringLiteral("c/Out/package.zip") : package);
    const ArchiveReport report = CheckArchive(archive);
    QVERIFY2(report.valid(), qPrintable(report.details));
    for (const QString& name : names)
        QVERIFY2(report.names.contains(name),
                 qPrintable(name + QStringLiteral(" not in ") + report.names.join(' ')));
    QCOMPARE(report.names.filter(QStringLiteral("pkg.zip")), QStringList());
    QCOMPARE(report.names.filter(QStringLiteral("secret")), QStringList());
    QCOMPARE(report.comment.split(QLatin1Char('\n'), Qt::SkipEmptyParts), comment);
    if (setup == QLatin1String("case"))
        QCOMPARE(tree.outFolder(), QStringList{QStringLiteral("package.zip")});
    if (setup != QLatin1String("dates"))
        return;
    // The DOS time clamped, the exact time in the extra fields (as 7-Zip shows it), the name and
    // the mode as Debian's unzip extracts them.
    for (const ArchiveEntry& e : report.entries) {
        if (e.name.endsWith(QLatin1String("old.log")))
            QCOMPARE(e.modified, QStringLiteral("1980-01-01 00:00:00"));
        if (e.name.endsWith(QLatin1String("future.log")))
            QCOMPARE(e.modified, QStringLiteral("2107-12-31 23:59:58"));
    }
    const QString listing =
        run(QStringLiteral("7zz"), {QStringLiteral("l"), QStringLiteral("-slt"), archive});
    QVERIFY2(listing.contains(QLatin1String("Modified = 1970-01-01 00:00:00")), qPrintable(listing));
    QVERIFY(listing.contains(QLatin1String("Modified = 2108-06-01 12:00:00")));
    const QString extracted = tree.path(QStringLiteral("extracted"));
    const QString logs = extracted + QStringLiteral("/C/ProgramData/Norvale/TS6/logs/");
    run(QStringLiteral("unzip"), {QStringLiteral("-q"), archive, QStringLiteral("-d"), extracted});
    const QString watched = logs + QStringLiteral("Überwachung.log");
    QVERIFY2(QFileInfo::exists(watched), qPrintable(QDir(logs).entryList().join(' ')));
    struct stat st
    {};
    QCOMPARE(::stat(QFile::encodeName(watched).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, 0640u);
    QCOMPARE(QFileInfo(logs + QStringLiteral("old.log")).lastModified().toSecsSinceEpoch(), 0);
}

// SIGTERM while a 5 GiB file is being packed ends the build within a second, leaving nothing.
void TestHostileTree::stopSignalInALargeAdd()
{
    const Tree tree;
    tree.write(kLogs + QStringLiteral("/huge.log"), "start\n");
    QCOMPARE(
        ::truncate(QFile::encodeName(tree.path(kLogs + QStringLiteral("/huge.log"))).constData(), 5LL << 30),
        0);
    const std::unique_ptr<QProcess> p = tree.start(QStringLiteral("c/Out/p.zip"));
    p->setReadChannel(QProcess::StandardError);
    QByteArray err;
    while (!err.contains("Adding logs") && p->waitForReadyRead(120000))
        err += p->readAllStandardError();
    QVERIFY2(err.contains("Adding logs"), err.constData());
    const auto pid = static_cast<pid_t>(p->processId());
    QVERIFY(pid > 0);
    QElapsedTimer stopping;
    stopping.start();
    ::kill(pid, SIGTERM);
    QVERIFY(p->waitForFinished(60000));
    const qint64 took = stopping.elapsed();
    QCOMPARE(p->exitCode(), 1);
    QVERIFY2(took < 1000, qPrintable(QStringLiteral("ended %1 ms after SIGTERM").arg(took)));
    QVERIFY(QString::fromUtf8(err + p->readAllStandardError())
                .contains(QLatin1String("no package was written: Interrupted by signal 15")));
    QCOMPARE(tree.outFolder(), QStringList());
}

QTEST_GUILESS_MAIN(TestHostileTree)
#include "tst_hostiletree.moc"
