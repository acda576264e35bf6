#include "components/zip/ZipWriter.h"
#include "support/ArchiveCheck.h"
#include "support/TestEnvironment.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <utime.h>

namespace {

// Each add as "<s><k> <source>": s to include subfolders, k to keep folder paths, "-" for neither.
bool addAll(ZipWriter& zip, const QStringList& adds)
{
    for (const QString& add : adds)
        if (!zip.Add(add.mid(3), add.at(0) == QLatin1Char('s'), add.at(1) == QLatin1Char('k'), QString()))
            return false;
    return true;
}

void touch(const QString& path, qint64 seconds)
{
    const utimbuf times{seconds, seconds};
    QCOMPARE(::utime(QFile::encodeName(path).constData(), &times), 0);
}

QStringList filesIn(const QString& folder)
{
    QStringList files = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    files.sort();
    return files;
}

} // namespace

class TestZipWriter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void whatAnAddPacks_data();
    void whatAnAddPacks();
    void contentModesAndTimes();
    void commentPastTheZipLimit();
    void packageIsCompleteOrNotThere();
};

void TestZipWriter::whatAnAddPacks_data()
{
    QTest::addColumn<QStringList>("adds");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("comment");
    const QString notThere = QStringLiteral("C:\\TESS\\LOGS\\dangling.log: No such file or directory");
    const QString pipe = QStringLiteral("C:\\TESS\\LOGS\\pipe.log: not a regular file");
    QTest::newRow("pattern with subfolders: hidden files, no links to folders, no pipes")
        << QStringList{QStringLiteral("sk C:\\TESS\\LOGS\\*.*")}
        << QStringList{QStringLiteral("C/Tess/Logs/.hidden.log"), QStringLiteral("C/Tess/Logs/a.log"),
                       QStringLiteral("C/Tess/Logs/z.txt"), QStringLiteral("C/Tess/Logs/Old/b.log"),
                       QStringLiteral("C/Tess/Logs/Old/Deeper/c.txt")}
        << notThere + QLatin1Char('\n') + pipe;
    QTest::newRow("pattern without folder paths")
        << QStringList{QStringLiteral("-- c:\\tess\\logs\\*.LOG")}
        << QStringList{QStringLiteral(".hidden.log"), QStringLiteral("a.log")}
        << QStringLiteral("c:\\tess\\logs\\dangling.log: No such file or directory\n"
                          "c:\\tess\\logs\\pipe.log: not a regular file");
    QTest::newRow("named files; a name already packed is passed over")
        << QStringList{QStringLiteral("-k C:\\APP\\ORDERS.TSD6"), QStringLiteral("-k c:\\app\\orders.tsd6"),
                       QStringLiteral("-k C:\\APP\\PIPE.TSD6"),
                       QStringLiteral("-- C:\\TESS\\LOGS\\OLD\\B.LOG"),
                       QStringLiteral("s- C:\\TESS\\LOGS\\B.*")}
        << QStringList{QStringLiteral("C/App/ORDERS.TSD6"), QStringLiteral("b.log")}
        << QStringLiteral("C:\\APP\\PIPE.TSD6: not a regular file");
    QTest::newRow("sources that add nothing") << QStringList{QStringLiteral("sk C:\\TESS\\MISSING.LOG"),
                                                             QStringLiteral("sk C:\\TESS"),
                                                             QStringLiteral("sk C:\\TESS\\"),
                                                             QStringLiteral("sk C:\\TESS\\*.CONFIG"),
                                                             QStringLiteral("sk C:\\NOWHERE\\*.*"),
                                                             QStringLiteral("sk Q:\\X.LOG"),
                                                             QStringLiteral("sk ")}
                                              << QStringList() << QString();
}

void TestZipWriter::whatAnAddPacks()
{
    QFETCH(QStringList, adds);
    QFETCH(QStringList, names);
    QFETCH(QString, comment);
    TestEnvironment env;
    for (const char* file :
         {"Tess/Logs/a.log", "Tess/Logs/.hidden.log", "Tess/Logs/z.txt", "Tess/Logs/Old/b.log",
          "Tess/Logs/Old/Deeper/c.txt", "Elsewhere/secret.log", "App/ORDERS.TSD6"})
        env.write(QStringLiteral("c/") + QLatin1String(file), file);
    const QString c = env.driveC();
    QVERIFY(QFile::link(c + QStringLiteral("/Elsewhere"), c + QStringLiteral("/Tess/Logs/Link")));
    QVERIFY(QFile::link(c + QStringLiteral("/Tess/Logs"), c + QStringLiteral("/Tess/Logs/Loop")));
    QVERIFY(QFile::link(c + QStringLiteral("/gone.log"), c + QStringLiteral("/Tess/Logs/dangling.log")));
    for (const char* fifo : {"/Tess/Logs/pipe.log", "/App/PIPE.TSD6"})
        QCOMPARE(::mkfifo(QFile::encodeName(c + QLatin1String(fifo)).constData(), 0600), 0);

    ZipWriter zip;
    QVERIFY(zip.SetArchivePath(QStringLiteral("C:\\OUT.ZIP")));
    QVERIFY2(addAll(zip, adds), qPrintable(zip.LastError()));
    QVERIFY(zip.Finish());
    const ArchiveReport report = CheckArchive(c + QStringLiteral("/OUT.ZIP"));
    QVERIFY2(report.valid(), qPrintable(report.details));
    QCOMPARE(report.names, names);
    QCOMPARE(report.comment, comment);
}

// Contents read back, large files in chunks, stored what does not compress, and each entry made by
// Unix with its mode, a UTF-8 name and its time, clamped to the DOS range.
void TestZipWriter::contentModesAndTimes()
{
    TestEnvironment env;
    QByteArray text;
    for (int i = 0; text.size() < (3 << 20) + 12345; ++i) // several chunks and a part
        text += "line " + QByteArray::number(i * 7919 % 100003) + "\n";
    QByteArray noise(3 << 20, Qt::Uninitialized);
    quint32 seed = 12345;
    for (char& ch : noise)
        ch = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    struct File
    {
        const char* name;
        QByteArray content;
        int mode;
        QDateTime time;
        int method;
        const char* shown;
    };
    const QDateTime stamp(QDate(2024, 2, 29), QTime(13, 37, 42));
    const File files[] = {
        {"big.txt", text, 0640, stamp, 8, "2024-02-29 13:37:42"},
        {"empty.txt", QByteArray(), 0644, stamp, 0, "2024-02-29 13:37:42"},
        {"noise.bin", noise, 0600, stamp, 8, "2024-02-29 13:37:42"}, // chunks, in stored blocks
        {"small-noise.bin", noise.left(70000), 0644, stamp, 0, "2024-02-29 13:37:42"},
        {"run.sh", "#!/bin/sh\n", 0755, stamp, 0, "2024-02-29 13:37:42"},
        {"Überwachung €.log", text.left(5000), 0644, QDateTime::fromSecsSinceEpoch(0), 8,
         "1980-01-01 00:00:00"},
        {"future.log", text.left(100), 0644, QDateTime(QDate(2108, 6, 1), QTime(12, 0)), 8,
         "2107-12-31 23:59:58"},
    };
    for (const File& f : files) {
        const QString path = env.write(QStringLiteral("c/Data/") + QString::fromUtf8(f.name), f.content);
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(f.mode)), 0);
        touch(path, f.time.toSecsSinceEpoch());
    }
    ZipWriter zip;
    QVERIFY(zip.SetArchivePath(QStringLiteral("C:\\OUT.ZIP")));
    QVERIFY(zip.Add(QStringLiteral("C:\\DATA\\*.*"), false, false, QString()));
    QVERIFY(zip.Finish());
    const ArchiveReport report = CheckArchive(env.driveC() + QStringLiteral("/OUT.ZIP"));
    QVERIFY2(report.valid(), qPrintable(report.details));
    QCOMPARE(report.entries.size(), static_cast<qsizetype>(std::size(files)));
    for (const ArchiveEntry& e : report.entries) {
        const File& f = *std::find_if(std::begin(files), std::end(files),
                                      [&](const File& x) { return QString::fromUtf8(x.name) == e.name; });
        QCOMPARE(e.sha256, QCryptographicHash::hash(f.content, QCryptographicHash::Sha256).toHex());
        QCOMPARE(e.mode, S_IFREG | f.mode);
        QCOMPARE(e.madeBy, 3);
        QVERIFY(e.utf8);
        QCOMPARE(e.method, f.method);
        QCOMPARE(e.modified, QLatin1String(f.shown));
    }
}

void TestZipWriter::commentPastTheZipLimit()
{
    TestEnvironment env;
    const QString logs = env.makeFolder(QStringLiteral("c/Logs"));
    const int pipes = 1200;
    for (int i = 0; i < pipes; ++i)
        QCOMPARE(
            ::mkfifo(QFile::encodeName(logs + QStringLiteral("/%1-a-pipe-with-a-rather-long-name-to-fill-the-"
                                                             "comment-sooner.log")
                                                  .arg(i, 4, 10, QLatin1Char('0')))
                         .constData(),
                     0600),
            0);
    ZipWriter zip;
    QVERIFY(zip.SetArchivePath(QStringLiteral("C:\\OUT.ZIP")));
    QVERIFY(zip.Add(QStringLiteral("C:\\LOGS\\*.LOG"), false, true, QString()));
    QVERIFY(zip.Finish());
    const ArchiveReport report = CheckArchive(env.driveC() + QStringLiteral("/OUT.ZIP"));
    QVERIFY2(report.valid(), qPrintable(report.details));
    const QStringList lines = report.comment.split(QLatin1Char('\n'));
    QVERIFY(report.comment.toUtf8().size() <= 65535);
    const qsizetype listed = lines.size() - 1;
    QVERIFY(listed > 100);
    QCOMPARE(lines.last(), QStringLiteral("... and %1 more not listed").arg(pipes - listed));
    QVERIFY(lines.at(listed - 1).endsWith(QLatin1String("-comment-sooner.log: not a regular file")));
}

void TestZipWriter::packageIsCompleteOrNotThere()
{
    TestEnvironment env;
    const QString c = env.driveC();
    env.write(QStringLiteral("c/a.txt"), "a");
    env.write(QStringLiteral("c/Logs/today.log"), "today");
    env.write(QStringLiteral("c/Out/package.zip"), "the previous package");
    const auto packs = [](const QString& path, const QStringList& adds, QString* error = nullptr) {
        ZipWriter zip;
        const bool ok = zip.SetArchivePath(path) && addAll(zip, adds) && zip.Finish();
        if (error)
            *error = zip.LastError();
        return ok;
    };
    {
        ZipWriter dropped; // before Finish, as a failing build drops it
        QVERIFY(dropped.SetArchivePath(QStringLiteral("C:\\OUT\\PACKAGE.ZIP")));
        QVERIFY(dropped.Add(QStringLiteral("C:\\A.TXT"), false, true, QString()));
    }
    QCOMPARE(filesIn(c + QStringLiteral("/Out")), QStringList{QStringLiteral("package.zip")});
    QFile previous(c + QStringLiteral("/Out/package.zip"));
    QVERIFY(previous.open(QIODevice::ReadOnly));
    QCOMPARE(previous.readAll(), QByteArray("the previous package"));

    QString error;
    QVERIFY(!packs(QStringLiteral("C:\\NO\\SUCH\\OUT.ZIP"), {QStringLiteral("-k C:\\A.TXT")}, &error));
    QVERIFY(error.contains(QLatin1String("C:\\NO\\SUCH\\OUT.ZIP")));
    QVERIFY(!QFileInfo::exists(c + QStringLiteral("/NO")));

    // The package path names a file that goes into the package: that file stays as it was.
    QVERIFY(!packs(QStringLiteral("C:\\A.TXT"), {QStringLiteral("-k C:\\A.TXT")}, &error));
    QCOMPARE(error, QStringLiteral("The package path names a file that goes into the package: C:\\A.TXT"));
    QVERIFY(!packs(QStringLiteral("C:\\LOGS\\TODAY.LOG"), {QStringLiteral("-k C:\\LOGS\\*.*")}, &error));
    QVERIFY(error.endsWith(QLatin1String("C:\\LOGS\\today.log")));
    QCOMPARE(filesIn(c),
             (QStringList{QStringLiteral("Logs"), QStringLiteral("Out"), QStringLiteral("a.txt")}));
    QCOMPARE(filesIn(c + QStringLiteral("/Logs")), QStringList{QStringLiteral("today.log")});

    // A package inside the folder it packs holds neither itself nor the package it replaces, and
    // its name is looked up case-blind.
    for (int run = 0; run < 2; ++run)
        QVERIFY(packs(QStringLiteral("C:\\LOGS\\PKG.ZIP"), {QStringLiteral("sk C:\\LOGS\\*.*")}));
    QCOMPARE(filesIn(c + QStringLiteral("/Logs")),
             (QStringList{QStringLiteral("PKG.ZIP"), QStringLiteral("today.log")}));
    QCOMPARE(CheckArchive(c + QStringLiteral("/Logs/PKG.ZIP")).names,
             QStringList{QStringLiteral("C/Logs/today.log")});
    QVERIFY(packs(QStringLiteral("C:\\OUT\\PACKAGE.ZIP"), {QStringLiteral("-- C:\\A.TXT")}));
    QCOMPARE(filesIn(c + QStringLiteral("/Out")), QStringList{QStringLiteral("package.zip")});
    QCOMPARE(CheckArchive(c + QStringLiteral("/Out/package.zip")).names,
             QStringList{QStringLiteral("a.txt")});

    // A disk that takes no more (here the file-size limit): the build fails and leaves nothing.
    QByteArray noise(1 << 20, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    env.write(QStringLiteral("c/Logs/today.log"), noise);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const rlimit small{64 * 1024, old.rlim_max};
    std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    const bool written =
        packs(QStringLiteral("C:\\OUT\\FULL.ZIP"), {QStringLiteral("sk C:\\LOGS\\*.*")}, &error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    QVERIFY(!written);
    QCOMPARE(error, QStringLiteral("Cannot write the package: File too large"));
    QCOMPARE(filesIn(c + QStringLiteral("/Out")), QStringList{QStringLiteral("package.zip")});
}

QTEST_GUILESS_MAIN(TestZipWriter)
#include "tst_zipwriter.moc"
