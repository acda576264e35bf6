#include "components/zip/MinizipWriter.h"
#include "support/ArchiveCheck.h"
#include "support/TestEnvironment.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <unistd.h>
#include <utime.h>

class TestZipWriter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void entryNamesAndPatterns();
    void sourcesThatAddNothing();
    void unreadableFilesAreSkippedAndNamed();
    void contentTimesAndUtf8Names();
    void packageIsCompleteOrNotThere();
};

void TestZipWriter::entryNamesAndPatterns()
{
    TestEnvironment env;
    env.write(QStringLiteral("c/Tess/Logs/a.log"), "a");
    env.write(QStringLiteral("c/Tess/Logs/.hidden.log"), "h");
    env.write(QStringLiteral("c/Tess/Logs/Old/b.log"), "b");
    env.write(QStringLiteral("c/Tess/Logs/Old/Deeper/c.txt"), "c");
    env.write(QStringLiteral("c/Tess/Logs/z.txt"), "z");
    env.write(QStringLiteral("c/Elsewhere/secret.log"), "s");
    QVERIFY(QFile::link(env.driveC() + QStringLiteral("/Elsewhere"),
                        env.driveC() + QStringLiteral("/Tess/Logs/Link")));
    QVERIFY(QFile::link(env.driveC() + QStringLiteral("/Tess/Logs"),
                        env.driveC() + QStringLiteral("/Tess/Logs/Loop")));
    env.write(QStringLiteral("c/App/ORDERS.TSD6"), "data");
    env.write(QStringLiteral("tmp/TSVERSION.TXT"), "manifest");

    MinizipWriter zip;
    QVERIFY(zip.SetArchivePath(QStringLiteral("C:\\OUT.ZIP")));
    QVERIFY(zip.Add(QStringLiteral("Z:") + QString(env.tempDir() + QStringLiteral("/TSVERSION.TXT"))
                                               .replace(QLatin1Char('/'), QLatin1Char('\\')),
                    false, false, QString()));
    QVERIFY(zip.Add(QStringLiteral("C:\\APP\\ORDERS.TSD6"), false, true, QString()));
    QVERIFY(zip.Add(QStringLiteral("c:\\app\\orders.tsd6"), false, true, QString())); // the same name again
    QVERIFY(zip.Add(QStringLiteral("C:\\TESS\\LOGS\\*.*"), true, true, QString()));
    QVERIFY(zip.Add(QStringLiteral("C:\\TESS\\LOGS\\*.LOG"), false, false, QString()));
    QVERIFY(zip.Finish());

    const ArchiveReport report = CheckArchive(env.driveC() + QStringLiteral("/OUT.ZIP"));
    QVERIFY2(report.valid(), qPrintable(report.details));
    QCOMPARE(report.names,
             (QStringList{QStringLiteral("TSVERSION.TXT"), QStringLiteral("C/App/ORDERS.TSD6"),
                          QStringLiteral("C/Tess/Logs/.hidden.log"), QStringLiteral("C/Tess/Logs/a.log"),
                          QStringLiteral("C/Tess/Logs/z.txt"), QStringLiteral("C/Tess/Logs/Old/b.log"),
                          QStringLiteral("C/Tess/Logs/Old/Deeper/c.txt"), QStringLiteral(".hidden.log"),
                          QStringLiteral("a.log")}));
    QVERIFY(report.comment.isEmpty());
}

void TestZipWriter::sourcesThatAddNothing()
{
    TestEnvironment env;
    env.write(QStringLiteral("c/Tess/a.log"));
    MinizipWriter zip;
    QVERIFY(zip.SetArchivePath(QStringLiteral("C:\\EMPTY.ZIP")));
    for (const char* source : {"C:\\TESS\\MISSING.LOG", "C:\\TESS", "C:\\TESS\\", "C:\\TESS\\*.CONFIG",
                               "C:\\NOWHERE\\*.*", "Q:\\X.LOG", ""})
        QVERIFY2(zip.Add(QString::fromLatin1(source), true, true, QString()), source);
    QVERIFY(zip.Finish());
    const ArchiveReport report = CheckArchive(env.driveC() + QStringLiteral("/EMPTY.ZIP"));
    QVERIFY(report.pythonOk);
    QVERIFY(report.names.isEmpty());
}

void TestZipWriter::unreadableFilesAreSkippedAndNamed()
{
    TestEnvironment env;
    env.write(QStringLiteral("c/Tess/Logs/good.log"), "good");
    QVERIFY(QFile::link(env.driveC() + QStringLiteral("/Tess/gone.log"),
                        env.driveC() + QStringLiteral("/Tess/Logs/dangling.log")));
    MinizipWriter zip;
    QVERIFY(zip.SetArchivePath(QStringLiteral("C:\\OUT.ZIP")));
    QVERIFY(zip.Add(QStringLiteral("C:\\TESS\\LOGS\\*.LOG"), false, true, QString()));
    QVERIFY(zip.Finish());
    const ArchiveReport report = CheckArchive(env.driveC() + QStringLiteral("/OUT.ZIP"));
    QVERIFY2(report.valid(), qPrintable(report.details));
    QCOMPARE(report.names, QStringList{QStringLiteral("C/Tess/Logs/good.log")});
    QCOMPARE(report.comment, QStringLiteral("C:\\TESS\\LOGS\\dangling.log: No such file or directory"));
}

void TestZipWriter::contentTimesAndUtf8Names()
{
    TestEnvironment env;
    QByteArray big;
    for (int i = 0; i < 200000; ++i)
        big += "line " + QByteArray::number(i * 7919 % 100003) + "\n";
    const QString bigPath = env.write(QStringLiteral("c/Data/big.txt"), big);
    env.write(QStringLiteral("c/Data/Ünïcödé €.txt"), "unicode");
    env.write(QStringLiteral("c/Data/empty.txt"), QByteArray());
    QByteArray noise(700 * 1024, Qt::Uninitialized); // stored, not deflated: it does not compress
    quint32 seed = 12345;
    for (char& c : noise)
        c = char((seed = seed * 1103515245u + 12345u) >> 24);
    env.write(QStringLiteral("c/Data/noise.bin"), noise);
    env.write(QStringLiteral("c/Data/small-noise.bin"), noise.left(1000));
    const QDateTime stamp(QDate(2024, 2, 29), QTime(13, 37, 42));
    utimbuf times{stamp.toSecsSinceEpoch(), stamp.toSecsSinceEpoch()};
    QCOMPARE(::utime(QFile::encodeName(bigPath).constData(), &times), 0);

    MinizipWriter zip;
    QVERIFY(zip.SetArchivePath(QStringLiteral("C:\\OUT.ZIP")));
    QVERIFY(zip.Add(QStringLiteral("C:\\DATA\\*.*"), false, true, QString()));
    QVERIFY(zip.Finish());
    const QString archive = env.driveC() + QStringLiteral("/OUT.ZIP");
    const ArchiveReport report = CheckArchive(archive);
    QVERIFY2(report.valid(), qPrintable(report.details));
    QVERIFY(report.allNamesUtf8);
    QVERIFY(report.names.contains(QStringLiteral("C/Data/Ünïcödé €.txt")));
    QCOMPARE(ReadEntry(archive, QStringLiteral("C/Data/big.txt")), big);
    QCOMPARE(ReadEntry(archive, QStringLiteral("C/Data/empty.txt")), QByteArray());
    QCOMPARE(ReadEntry(archive, QStringLiteral("C/Data/noise.bin")), noise);
    QCOMPARE(ReadEntry(archive, QStringLiteral("C/Data/small-noise.bin")), noise.left(1000));
    QVERIFY(QFileInfo(archive).size() < big.size() / 2 + noise.size() + 1000 + 4096);

    QProcess listing;
    listing.start(QStringLiteral("unzip"), {QStringLiteral("-l"), archive});
    listing.waitForFinished();
    QVERIFY(QString::fromUtf8(listing.readAll()).contains(QLatin1String("2024-02-29 13:37")));
}

void TestZipWriter::packageIsCompleteOrNotThere()
{
    TestEnvironment env;
    env.write(QStringLiteral("c/a.txt"), "a");
    const QString archive = env.driveC() + QStringLiteral("/OUT.ZIP");
    env.write(QStringLiteral("c/OUT.ZIP"), "the previous package");
    {
        MinizipWriter zip;
        QVERIFY(zip.SetArchivePath(QStringLiteral("C:\\OUT.ZIP")));
        QVERIFY(zip.Add(QStringLiteral("C:\\A.TXT"), false, true, QString()));
        // Dropped before Finish, as a failing build drops it.
    }
    QStringList files = QDir(env.driveC()).entryList(QDir::Files | QDir::Hidden);
    files.sort();
    QCOMPARE(files, (QStringList{QStringLiteral("OUT.ZIP"), QStringLiteral("a.txt")}));
    QFile previous(archive);
    QVERIFY(previous.open(QIODevice::ReadOnly));
    QCOMPARE(previous.readAll(), QByteArray("the previous package"));

    MinizipWriter missingFolder;
    QVERIFY(!missingFolder.SetArchivePath(QStringLiteral("C:\\NO\\SUCH\\FOLDER\\OUT.ZIP")));
    QVERIFY(!missingFolder.LastError().isEmpty());
    QVERIFY(!missingFolder.Add(QStringLiteral("C:\\A.TXT"), false, true, QString()));
    QVERIFY(!QFileInfo::exists(env.driveC() + QStringLiteral("/NO")));

    MinizipWriter zip;
    QVERIFY(zip.SetArchivePath(QStringLiteral("C:\\OUT.ZIP")));
    QVERIFY(zip.Add(QStringLiteral("C:\\A.TXT"), false, false, QString()));
    QVERIFY(zip.Finish());
    QCOMPARE(CheckArchive(archive).names, QStringList{QStringLiteral("a.txt")});
    QCOMPARE(QDir(env.driveC()).entryList(QDir::Files | QDir::Hidden).size(), 2); // no temporary file left
}

QTEST_GUILESS_MAIN(TestZipWriter)
#include "tst_zipwriter.moc"
