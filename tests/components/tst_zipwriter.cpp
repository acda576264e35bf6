// The package writer and its parts, on real files, with the archives read back by unzip, 7-Zip and
// Python's zipfile.
#include "components/zip/Compressors.h"
#include "components/zip/FileChoice.h"
#include "components/zip/SourceCollector.h"
#include "components/zip/ZipWriter.h"
#include "support/ArchiveCheck.h"
#include "support/TestEnvironment.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTest>

#include <atomic>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <utime.h>

using namespace Qt::StringLiterals;

namespace {

// Packs the adds into C:\<name>; the package's host path, or why it was not written. Each add is
// "<s><k> <source>": s to include subfolders, k to keep folder paths, "-" for neither.
QString pack(const TestEnvironment& env, const QStringList& adds, int workers = WorkerPool::defaultSize(),
             const QString& name = u"OUT.ZIP"_s)
{
    ZipWriter zip(workers);
    bool ok = zip.setArchivePath(u"C:\\"_s + name);
    for (const QString& add : adds)
        ok = ok && zip.add(add.mid(3), add.at(0) == u's', add.at(1) == u'k', QString());
    return ok && zip.finish() ? env.driveC() + u'/' + name : u"not written: "_s + zip.lastError();
}

} // namespace

class TestZipWriter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void whatAnAddPacks_data();
    void whatAnAddPacks();
    void walkNeverFollowsWhatIsSwappedIn_data();
    void walkNeverFollowsWhatIsSwappedIn();
    void chunksGrowOnlyByStoredBlockHeaders();
    void contentModesTimesWhateverTheWorkers();
    void fileSwappedForAFolderWhileBeingPacked();
    void commentPastTheZipLimit();
    void droppedWriterKeepsThePreviousPackage();
    void choosesByAgeAndBudget_data();
    void choosesByAgeAndBudget();
};

void TestZipWriter::whatAnAddPacks_data()
{
    QTest::addColumn<QStringList>("adds");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("comment");
    const auto row = [](const char* name, const QStringList& adds, const QStringList& names,
                        const QStringList& comment) { QTest::newRow(name) << adds << names << comment; };
    // Every link in a walked folder is named and left alone; a name that a reader could split or
    // drop is one entry component, percent-encoded.
    row("pattern with subfolders: hidden files, no links, no pipes", {"sk C:\\TESS\\LOGS\\*.*"},
        {"C/Tess/Logs/..%255C..%255Cx%2525.log", "C/Tess/Logs/..%5C..%5Cx%25.log", "C/Tess/Logs/.hidden.log",
         "C/Tess/Logs/a.log", "C/Tess/Logs/dots%2E%20%2E", "C/Tess/Logs/z.txt", "C/Tess/Logs/Old/b.log",
         "C/Tess/Logs/Old/Deeper/c.txt"},
        {"C:\\TESS\\LOGS\\dangling.log: symbolic link, not followed",
         "C:\\TESS\\LOGS\\Link: symbolic link, not followed",
         "C:\\TESS\\LOGS\\Loop: symbolic link, not followed",
         "C:\\TESS\\LOGS\\nl%0Aname.log: symbolic link, not followed",
         "C:\\TESS\\LOGS\\pipe.log: not a regular file",
         "C:\\TESS\\LOGS\\secret.log: symbolic link, not followed"});
    row("pattern without folder paths", {"-- c:\\tess\\logs\\*.LOG"},
        {"..%255C..%255Cx%2525.log", "..%5C..%5Cx%25.log", ".hidden.log", "a.log"},
        {"c:\\tess\\logs\\dangling.log: symbolic link, not followed",
         "c:\\tess\\logs\\nl%0Aname.log: symbolic link, not followed",
         "c:\\tess\\logs\\pipe.log: not a regular file",
         "c:\\tess\\logs\\secret.log: symbolic link, not followed"});
    row("named files; a name already packed is passed over",
        {"-k C:\\APP\\ORDERS.TSD6", "-k c:\\app\\orders.tsd6", "-k C:\\APP\\PIPE.TSD6",
         "-- C:\\TESS\\LOGS\\OLD\\B.LOG", "s- C:\\TESS\\LOGS\\B.*"},
        {"C/App/ORDERS.TSD6", "b.log"}, {"C:\\APP\\PIPE.TSD6: not a regular file"});
    row("sources that add nothing",
        {"sk C:\\TESS\\MISSING.LOG", "sk C:\\TESS", "sk C:\\TESS\\", "sk C:\\TESS\\*.CONFIG",
         "sk C:\\NOWHERE\\*.*", "sk Q:\\X.LOG", "sk "},
        {}, {});
}

void TestZipWriter::whatAnAddPacks()
{
    QFETCH(QStringList, adds);
    QFETCH(QStringList, names);
    QFETCH(QStringList, comment);
    TestEnvironment env;
    for (const char* file :
         {"Tess/Logs/a.log", "Tess/Logs/.hidden.log", "Tess/Logs/z.txt", "Tess/Logs/Old/b.log",
          "Tess/Logs/Old/Deeper/c.txt", "Elsewhere/secret.log", "App/ORDERS.TSD6", "Tess/Logs/..\\..\\x%.log",
          "Tess/Logs/..%5C..%5Cx%25.log", "Tess/Logs/dots. ."})
        env.write(u"c/"_s + QLatin1String(file), file);
    const QString c = env.driveC();
    QVERIFY(QFile::link(c + u"/Elsewhere"_s, c + u"/Tess/Logs/Link"_s));
    QVERIFY(QFile::link(c + u"/Tess/Logs"_s, c + u"/Tess/Logs/Loop"_s));
    QVERIFY(QFile::link(c + u"/gone.log"_s, c + u"/Tess/Logs/dangling.log"_s));
    QVERIFY(QFile::link(c + u"/Elsewhere/secret.log"_s, c + u"/Tess/Logs/secret.log"_s));
    QVERIFY(QFile::link(c + u"/gone.log"_s, c + u"/Tess/Logs/nl\nname.log"_s));
    for (const char* fifo : {"/Tess/Logs/pipe.log", "/App/PIPE.TSD6"})
        QCOMPARE(::mkfifo(QFile::encodeName(c + QLatin1String(fifo)).constData(), 0600), 0);

    const ArchiveReport report = checkArchive(pack(env, adds));
    QVERIFY2(report.valid(), qPrintable(report.details));
    QCOMPARE(report.names, names);
    QCOMPARE(report.comment, comment.join(u'\n'));
}

void TestZipWriter::walkNeverFollowsWhatIsSwappedIn_data()
{
    QTest::addColumn<QString>("swap"); // what takes the subfolder's place once its folder is listed
    QTest::addColumn<QString>("reason");
    QTest::newRow("a link to a folder elsewhere") << u"link"_s << u"symbolic link, not followed"_s;
    QTest::newRow("another folder") << u"folder"_s << u"replaced while the package was built"_s;
}

// A subfolder swapped for something else between its folder's listing and its own opening is named
// with the reason, and nothing of what took its place is read.
void TestZipWriter::walkNeverFollowsWhatIsSwappedIn()
{
    QFETCH(QString, swap);
    QFETCH(QString, reason);
    TestEnvironment env;
    for (const char* file : {"Logs/a.log", "Logs/Sub/b.log", "Secret/shadow"})
        env.write(u"c/"_s + QLatin1String(file), file);
    const QString c = env.driveC();
    int ticks = 0;
    const auto tick = [&] {
        if (++ticks != 2)
            return; // the second tick comes just before the subfolder is opened
        QVERIFY(QDir(c).rename(u"Logs/Sub"_s, u"Moved"_s));
        QVERIFY(swap == u"link"_s ? QFile::link(c + u"/Secret"_s, c + u"/Logs/Sub"_s)
                                  : QDir(c).rename(u"Secret"_s, u"Logs/Sub"_s));
    };
    const OutputGuard guard({}, {});
    SourceCollector collector(guard, tick);
    QStringList found;
    collector.collect(u"C:\\LOGS\\*.*"_s, true, true, [&](std::vector<Source>&& files) {
        for (const Source& file : files)
            found.append(file.handedPath() + u": "_s + file.skipReason);
    });
    QCOMPARE(found, (QStringList{u"C:\\LOGS\\a.log: "_s, u"C:\\LOGS\\Sub: "_s + reason}));
}

// A chunk never grows by more than 5 bytes in 64 KiB: what deflate would not make smaller goes in
// stored blocks.
void TestZipWriter::chunksGrowOnlyByStoredBlockHeaders()
{
    for (const QByteArray& part : {noise(70000, 3), noise(300, 5), QByteArray("abcabcabc")}) {
        Bytes stream;
        Compressors::encodeChunk(reinterpret_cast<const unsigned char*>(part.constData()),
                                 static_cast<size_t>(part.size()), stream);
        QVERIFY(stream.size() <= static_cast<size_t>(part.size()) + 5 * (part.size() / 65535 + 1));
    }
}

// Contents read back, large files in chunks (deflated, stored, or both, joined into one stream),
// stored what does not compress, each entry with its mode and time; and the same archive, byte for
// byte, whatever the number of workers.
void TestZipWriter::contentModesTimesWhateverTheWorkers()
{
    TestEnvironment env;
    QByteArray text;
    for (int i = 0; text.size() < (3 << 20) + 12345; ++i) // several chunks and a part
        text += "line " + QByteArray::number(qint64(i) * 7919 % 100003) + "\n";
    // name, content, mode, deflated or stored, time (0: the stamp), the DOS time it is stored with
    using File = std::tuple<const char*, QByteArray, int, int, qint64, const char*>;
    const File files[] = {
        {"big.txt", text, 0640, 8, 0, nullptr}, // named: read by the adding thread
        {"empty.txt", QByteArray(), 0644, 0, 86400, "1980-01-01 00:00:00"},
        {"noise.bin", noise(3 << 20, 1), 0600, 8, 4400000000,
         "2107-12-31 23:59:58"}, // chunks in stored blocks
        {"mixed.bin", text.left(600000) + noise(600000, 4) + text.left(300000), 0644, 8, 0,
         nullptr}, // both, joined
        {"small-noise.bin", noise(70000, 2), 0644, 0, 0, nullptr},
        {"run.sh", "#!/bin/sh\n", 0755, 0, 0, nullptr},
        {"Überwachung €.log", text.left(5000), 0644, 8, 0, nullptr},
    };
    const QDateTime stamp(QDate(2024, 2, 29), QTime(13, 37, 42));
    for (const auto& [name, content, mode, method, time, dos] : files) {
        const QByteArray path = QFile::encodeName(env.write("c/Data/" + QString::fromUtf8(name), content));
        const qint64 at = time != 0 ? time : stamp.toSecsSinceEpoch();
        const utimbuf times{at, at};
        QVERIFY(::chmod(path.constData(), static_cast<mode_t>(mode)) == 0 &&
                ::utime(path.constData(), &times) == 0);
    }
    for (int i = 0; i < 300; ++i) // more than one job's worth of small files
        env.write(u"c/Data/Many/%1.config"_s.arg(i), text.mid(i * 97, 200 + i));
    QByteArrayList archives;
    for (const int workers : {1, 2, 5}) {
        QFile f(pack(env, {"-k C:\\DATA\\BIG.TXT", "sk C:\\DATA\\*.*"}, workers));
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(f.fileName()));
        archives.append(f.readAll());
    }
    QVERIFY(archives[0] == archives[1] && archives[0] == archives[2]);
    const ArchiveReport report = checkArchive(env.driveC() + u"/OUT.ZIP"_s);
    QVERIFY2(report.valid(), qPrintable(report.details));
    QCOMPARE(report.entries.size(), static_cast<qsizetype>(std::size(files)) + 300);
    for (const auto& [name, content, mode, method, time, dos] : files) {
        const ArchiveEntry& e = report.entries.at(report.names.indexOf("C/Data/" + QString::fromUtf8(name)));
        QCOMPARE(e.sha256, sha256Hex(content));
        QCOMPARE(e.mode, S_IFREG | mode);
        QCOMPARE(e.method, method);
        QCOMPARE(e.modified, dos ? QString::fromLatin1(dos) : stamp.toString(u"yyyy-MM-dd hh:mm:ss"_s));
    }
}

// A file that becomes a folder and back while packages are made of it: packed as read, or listed
// as left out; never a crash or a broken archive.
void TestZipWriter::fileSwappedForAFolderWhileBeingPacked()
{
    TestEnvironment env;
    const QByteArray file = QFile::encodeName(env.write(u"c/Logs/flip.log"_s, "a file\n"));
    std::atomic<bool> stop{false};
    std::thread flipper([&] {
        while (!stop) {
            ::unlink(file.constData());
            ::mkdir(file.constData(), 0755);
            ::rmdir(file.constData());
            QFile f(QFile::decodeName(file));
            f.open(QIODevice::WriteOnly) && f.write("a file\n");
        }
    });
    for (int round = 0; round < 40; ++round) {
        const QString archive =
            pack(env, {"-k C:\\LOGS\\*.LOG", "-- C:\\LOGS\\FLIP.LOG"}, 2, u"R%1.ZIP"_s.arg(round));
        QVERIFY2(QFile::exists(archive), qPrintable(archive));
    }
    stop = true;
    flipper.join();
    for (int round = 0; round < 40; round += 13) {
        const ArchiveReport report = checkArchive(env.driveC() + u"/R%1.ZIP"_s.arg(round));
        QVERIFY2(report.valid(), qPrintable(report.details));
        for (const ArchiveEntry& e : report.entries) // as it was read, or just made
            QVERIFY(e.size == 0 || e.size == 7);
    }
}

void TestZipWriter::commentPastTheZipLimit()
{
    TestEnvironment env;
    const QString logs = env.makeFolder(u"c/Logs"_s);
    const QString config = env.makeFolder(u"c/Config"_s);
    const int budgeted = 1200; // left out on purpose, listed before the pipes are found
    const int pipes = 200;     // left out for a fault
    const QString longName = u"/%1-a-file-with-a-long-name-that-fills-the-comment.log"_s;
    for (int i = 0; i < budgeted; ++i)
        env.write(u"c/Logs"_s + longName.arg(i, 4), "x");
    for (int i = 0; i < pipes; ++i)
        QCOMPARE(::mkfifo(QFile::encodeName(config + longName.arg(i, 4)).constData(), 0600), 0);
    ZipWriter zip;
    QVERIFY(zip.setArchivePath(u"C:\\OUT.ZIP"_s));
    zip.setAddRules({.budget = 0, .overBudget = u"log budget of 0 B reached"_s});
    QVERIFY(zip.add(u"C:\\LOGS\\*.LOG"_s, false, true, QString()));
    zip.setAddRules({});
    QVERIFY(zip.add(u"C:\\CONFIG\\*.LOG"_s, false, true, QString()));
    QVERIFY(zip.finish());
    const ArchiveReport report = checkArchive(env.driveC() + u"/OUT.ZIP"_s);
    QVERIFY2(report.valid(), qPrintable(report.details));
    const QStringList lines = report.comment.split(u'\n');
    QVERIFY(report.comment.toUtf8().size() <= 65535);
    const qsizetype listed = lines.size() - 1;
    QVERIFY(listed > pipes);
    // Every file that could not be packed is there, ahead of those left out on purpose.
    QVERIFY(lines.at(pipes - 1).endsWith(u"-the-comment.log: not a regular file"_s));
    QVERIFY(lines.at(pipes).endsWith(u"-the-comment.log: log budget of 0 B reached"_s));
    QCOMPARE(lines.last(), u"... and %1 more not listed"_s.arg(budgeted + pipes - listed));
}

// A writer dropped before finish, as a failing build drops it, leaves the package it would have
// replaced as it was.
void TestZipWriter::droppedWriterKeepsThePreviousPackage()
{
    TestEnvironment env;
    env.write(u"c/Logs/today.log"_s, noise(1 << 20, 7));
    QFile previous(env.write(u"c/Out/package.zip"_s, "the previous package"));
    {
        ZipWriter dropped;
        QVERIFY(dropped.setArchivePath(u"C:\\OUT\\PACKAGE.ZIP"_s));
        QVERIFY(dropped.add(u"C:\\LOGS\\*.*"_s, false, true, QString()));
    }
    QVERIFY(previous.open(QIODevice::ReadOnly));
    QCOMPARE(previous.readAll(), QByteArray("the previous package"));
}

void TestZipWriter::choosesByAgeAndBudget_data()
{
    QTest::addColumn<QList<int>>("sizes"); // of files a, b, c..., in listing order
    QTest::addColumn<QList<int>>("ages");  // seconds before the day --since names
    QTest::addColumn<int>("budget");       // bytes; 0: none
    QTest::addColumn<QString>("chosen");   // names in the order they go in, then those left out
    QTest::newRow("a file that exactly fills the budget goes in, one byte more stops")
        << QList<int>{100, 50, 51} << QList<int>{-3, -2, -1} << 150 << u"a b | c"_s;
    QTest::newRow("stamped at the start of the day goes in, a second before does not")
        << QList<int>{1, 1, 1} << QList<int>{0, 1, -1} << 0 << u"c a | b"_s;
    QTest::newRow("the budget stops the choice: an older small file is left out too")
        << QList<int>{10, 200, 5} << QList<int>{-1, -2, -3} << 100 << u"c | b a"_s;
}

// The log files go in newest first, those stamped before the day of --since left out, and the
// choice stops at the first file that would pass the budget.
void TestZipWriter::choosesByAgeAndBudget()
{
    QFETCH(QList<int>, sizes);
    QFETCH(QList<int>, ages);
    QFETCH(int, budget);
    constexpr qint64 kDay = 1'700'000'000;
    std::vector<Source> files;
    for (qsizetype i = 0; i < sizes.size(); ++i)
        files.push_back({.folder = std::make_shared<const SourceFolder>(),
                         .name = QString(QChar(static_cast<char16_t>(u'a' + i))),
                         .size = sizes.at(i),
                         .modified = kDay - ages.at(i)});
    AddRules rules{.notBefore = kDay, .tooOld = u"old"_s};
    if (budget > 0)
        rules = {.budget = budget, .overBudget = u"full"_s};
    QStringList in, out;
    for (const Source& file : chooseNewestFirst(std::move(files), rules))
        (file.skipReason.isEmpty() ? in : out).append(file.name);
    QTEST(in.join(u' ') + u" | "_s + out.join(u' '), "chosen");
}

QTEST_GUILESS_MAIN(TestZipWriter)
#include "tst_zipwriter.moc"
