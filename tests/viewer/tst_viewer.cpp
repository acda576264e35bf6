// The reading side: the zip reader against hand-made and hostile archives, the reports and the
// line diff without a display, and show and diff as the built program runs them on real packages.
#include "components/zip/ArchiveFile.h"
#include "components/zip/ZipWriter.h"
#include "support/HandMadeZip.h"
#include "support/ProgramWorld.h"
#include "support/TestTools.h"
#include "viewer/EntryTree.h"
#include "viewer/PackageDiff.h"
#include "viewer/PackageFindings.h"

#include <QDir>
#include <QTest>
#include <QTimeZone>

#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QByteArray kBombData(4 << 20, 'z');

QString problemsOf(const PackageFindings& report)
{
    return report.damage.join(QLatin1Char('|'));
}

// A changed entry as the diff shows it: its lines, "-N:text +N:text", or its note when it has none.
QString changeText(const EntryChange& change)
{
    QStringList lines;
    for (const LineChange& line : change.lines)
        lines.append(QStringLiteral("%1%2:%3").arg(QLatin1Char(line.kind)).arg(line.line).arg(line.text));
    return lines.isEmpty() ? change.note : lines.join(QLatin1Char(' '));
}

} // namespace

class TestViewer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void hostileArchives_data();
    void hostileArchives();
    void bombLimits_data();
    void bombLimits();
    void archiveBudget_data();
    void archiveBudget();
    void readBudget_data();
    void readBudget();
    void streamedEntries();
    void logSpans_data();
    void logSpans();
    void lineDiff_data();
    void lineDiff();
    void diffBudget_data();
    void diffBudget();
    void reportsOfTheWriter();
    void reads_data();
    void reads();
    void entryTreeKeepsNamesOnce_data();
    void entryTreeKeepsNamesOnce();

private:
    QString archiveAt(const QString& name, const QByteArray& archive, bool cut = false) const;
    void plantHostileReads();
    static QStringList hostileNames();

    QTemporaryDir m_dir;
    std::unique_ptr<ProgramWorld> m_world; // packages built by the program, for the verbs
};

// The archive written into the test's folder, cut before its central directory when asked.
QString TestViewer::archiveAt(const QString& name, const QByteArray& archive, bool cut) const
{
    const QString path = m_dir.filePath(name);
    writeFile(path, cut ? archive.left(archive.indexOf("PK\x01\x02")) : archive);
    return path;
}

// Packages as support gets them: plain; masked with logs left out; with a checksum file that lies;
// cut short; a week later with a log grown; and a case folder with a package missing.
void TestViewer::initTestCase()
{
    m_world = std::make_unique<ProgramWorld>();
    ProgramWorld& world = *m_world;
    world.writeTemplate("c/App/ORDERS.TST6");
    const QString logs = QStringLiteral("c/ProgramData/Norvale/TS6/logs/");
    world.write(logs + "TS6-2026-12-04.log",
                "2026-12-04 08:00:00 INFO open\n2026-12-04 09:00:00 INFO close\n");
    world.write("c/ProgramData/Norvale/TS6/TS6.CONFIG", "Password=Secret7\nServer=db01\n");
    world.write(logs + "big.log", QByteArray(4000, 'x'));
    const QString app = world.path("c/App");
    QCOMPARE(world.run({app, "plain.zip"}).status, 0);
    QCOMPARE(world.run({"--redact", "--max-log-size", "1K", app, "masked.zip"}).status, 0);
    QCOMPARE(world.run({"--checksum", app, "lied.zip"}).status, 0);
    world.write("lied.zip.sha256", QByteArray(64, '0') + "  lied.zip\n");
    world.write(
        logs + "TS6-2026-12-04.log",
        "2026-12-04 08:00:00 INFO open\n2026-12-04 09:00:00 INFO close\n2026-12-04 18:00:00 INFO again\n");
    QCOMPARE(world.run({app, "later.zip"}).status, 0);
    world.write("cut.zip", readFile(world.path("plain.zip")).chopped(200));
    plantHostileReads();
    if (QTest::currentTestFailed())
        return;
    world.write("case/index.json",
                R"({"case": {"target": "/srv/a", "options": [], "started": "2026-12-01T10:00:00Z"},
        "hosts": [{"host": "web1", "state": "collected", "package": "hosts/web1/package.zip"},
                  {"host": "web2", "state": "unreachable", "reason": "no route"}]})");
}

void TestViewer::hostileArchives_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<int>("entries");
    QTest::addColumn<QString>("damage");    // a part of the damage named; empty: intact
    QTest::addColumn<QByteArray>("hidden"); // a name that bsdtar, reading from a pipe, finds in it
    const auto row = [](const char* name, const QByteArray& archive, int entries, const QString& damage,
                        const QByteArray& hidden = {}) {
        QTest::newRow(name) << archive << entries << damage << hidden;
    };
    const RawEntry text{"C/App/A.TXT", "line one\nline two\n"};
    const QByteArray whole = handMade({text, {"C/App/B.BIN", QByteArray(5000, 'b')}});
    row("intact", whole, 2, {});
    row("CRC that lies", handMade({{"C/A.TXT", "text", true, 0x0800, 0x12345678u}}), 1,
        "C/A.TXT: CRC mismatch");
    // Past 8 MiB an entry is streamed rather than read whole: the same checks hold.
    row("streamed, CRC that lies", handMade({{"C/BIG.LOG", QByteArray(9 << 20, 'a'), true, 0x0800, 7u}}), 1,
        "C/BIG.LOG: CRC mismatch");
    row("size that lies, short", handMade({{"C/A.TXT", "text", true, 0x0800, {}, 3}}), 1,
        "C/A.TXT: it holds more bytes than its headers say");
    row("size that lies, long", handMade({{"C/A.TXT", "text", false, 0x0800, {}, 5}}), 1,
        "C/A.TXT: it holds 4 bytes where its headers say 5");
    row("dot-dot", handMade({{"C/../../etc/cron.d/x", "x"}}), 1, "\"..\" in its path");
    row("dot-dot, backslash", handMade({{"C\\..\\x", "x"}}), 1, "\"..\" in its path");
    row("absolute", handMade({{"/etc/passwd", "x"}}), 1, "absolute path");
    row("drive", handMade({{"C:/x", "x"}}), 1, "absolute path");
    row("same name twice", handMade({text, text}), 2, "a second entry of this name");
    // Names a reader extracting them writes to one file: the last one extracted wins.
    const QString sameFile = u"a reader extracting it writes the same file as C/App/A.TXT"_s;
    for (const QByteArray& respelled : {QByteArray("C/App/A.TXT\0.bak", 16), QByteArray("C//App/A.TXT"),
                                        QByteArray("C/App/./A.TXT"), QByteArray("C\\App\\A.TXT")})
        row(qPrintable(u"one file, as "_s + QString::fromLatin1(respelled.toPercentEncoding())),
            handMade({text, {respelled, "other"}}), 2, sameFile);
    row("a folder of two slashes beside a file of its name", handMade({text, {"C/App/A.TXT//", ""}}), 2,
        sameFile);
    row("a file where a folder is needed", handMade({text, {"C/App/A.TXT/B.TXT", "b"}}), 2,
        "it needs C/App/A.TXT as a folder");
    // Some extractors take a name from the Unicode path field written for the header's name.
    const auto unicodePath = [](const QByteArray& header, const QByteArray& field) {
        QByteArray extra("\x75\x70", 2);
        const auto size = static_cast<quint16>(5 + field.size());
        extra += char(size & 0xff);
        extra += char(size >> 8);
        extra += '\x01';
        const auto crc = static_cast<quint32>(
            crc32_z(0, reinterpret_cast<const Bytef*>(header.constData()), size_t(header.size())));
        for (int shift = 0; shift < 32; shift += 8)
            extra += char((crc >> shift) & 0xff);
        return extra + field;
    };
    row("a Unicode path field naming another file",
        handMade({{.name = "C/B.TXT", .data = "b", .centralExtra = unicodePath("C/B.TXT", "../../x.sh")}}), 1,
        "its Unicode path field names it \"../../x.sh\"");
    row("a Unicode path field of the name in a code page",
        handMade({{.name = "C/f\x81.TXT",
                   .data = "b",
                   .flags = 0,
                   .centralExtra = unicodePath("C/f\x81.TXT", "C/f\xc3\xbc.TXT")}}),
        1, {});
    for (const quint8 system : {2, 3, 5, 16, 19, 30})
        row(qPrintable(u"a symbolic link made on system %1"_s.arg(system)),
            handMade({{.name = "C/L", .data = "/etc", .deflate = false, .mode = 0120777, .system = system}}),
            1, "C/L: it is a symbolic link");
    row("a device", handMade({{.name = "C/D", .data = "", .deflate = false, .mode = 020644}}), 1,
        "C/D: it is a device");
    row("encrypted", handMade({{"C/A.TXT", "x", false, 0x0801}}), 1, "encrypted");
    row("two entries, one data", handMade({text, {"C/App/C.TXT", text.data, true, 0x0800, {}, {}, 0}}), 2,
        "it shares its data with another entry");
    // Cut inside the second entry's data: the first is read from its local header, the cut named.
    row("cut short", whole.left(whole.indexOf("C/App/B.BIN") + 14), 2, "cut short");
    row("cut before the directory", whole.left(whole.lastIndexOf("PK\x01\x02", whole.indexOf("PK\x05\x06"))),
        2, "no central directory");
    // A stream that zip wrote gives the sizes after the data; cut before its directory, the entry
    // is found by inflating it through, and checked against the sizes that follow.
    TS6_REQUIRE_PROGRAMS({QStringLiteral("zip")});
    const QByteArray streamed =
        runTool(u"zip"_s, {u"-q"_s, u"-"_s, u"-"_s}, QByteArray("a line of a log\n").repeated(5000)).out;
    row("sizes after the data", streamed, 1, {});
    row("sizes after the data, cut", streamed.left(streamed.lastIndexOf("PK\x01\x02")), 1,
        "1 entry read from");
    row("bytes after the end", whole + "junk", 2, "4 bytes follow the end of the archive");
    row("no zip", "just some text, no zip at all", 0, "not a zip archive");
    row("empty", {}, 0, "the file is empty");
    QByteArray directoryOutside = whole;
    directoryOutside[directoryOutside.size() - 3] = '\x7f'; // the directory's offset, far past the end
    row("directory outside the file", directoryOutside, 2, "outside the file");
    // What a streaming extractor finds that a listing by the directory would not show: each is
    // damage, and bsdtar reading the archive from a pipe finds the entry, so the damage is real.
    const RawEntry hidden{
        .name = "C/HIDDEN.TXT", .data = "hidden payload\n", .deflate = false, .listed = false};
    const RawEntry last{.name = "C/B.TXT", .data = "b bytes\n"};
    row("left out of the directory, after a deflated folder",
        handMade({{.name = "C/", .data = ""}, hidden, last}), 2, "belong to no entry", hidden.name);
    row("left out of the directory, after a data descriptor",
        handMade({{.name = "C/A.TXT", .data = "a text\n", .descriptor = true}, hidden, last}), 2,
        "belong to no entry", hidden.name);
    row("inside the compressed size another entry claims",
        handMade({{.name = "C/A.TXT", .data = QByteArray("a text\n").repeated(10), .claimsNext = true},
                  hidden,
                  last}),
        2, "bytes 49 to 105 of the archive are hidden inside it", hidden.name);
    row("inside the compressed size a streamed entry claims",
        handMade({{.name = "C/BIG.LOG", .data = QByteArray(9 << 20, 'a'), .claimsNext = true}, hidden, last}),
        2, "C/BIG.LOG: its compressed data ends after", hidden.name);
    // A stored entry whose sizes follow its data ends, for a streaming reader, at the first data
    // descriptor whose CRC is that of the bytes before it; whole, and read in pieces with the
    // signature across two of them.
    const auto descriptorInside = [&](const QByteArray& before) {
        const QByteArray entry = handMade({{.name = hidden.name, .data = hidden.data, .deflate = false}});
        QByteArray fake("PK\x07\x08", 4);
        for (const quint32 value :
             {static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef*>(before.constData()),
                                         static_cast<uInt>(before.size()))),
              static_cast<quint32>(before.size()), static_cast<quint32>(before.size())})
            fake += QByteArray(reinterpret_cast<const char*>(&value), 4); // little-endian, as zip writes
        return handMade({{.name = "C/A.BIN",
                          .data = before + fake + entry.left(entry.indexOf("PK\x01\x02")) + "tail\n",
                          .deflate = false,
                          .descriptor = true},
                         last});
    };
    row("stored, a data descriptor inside its data", descriptorInside("first part\n"), 2,
        "ends it there for a streaming reader", hidden.name);
    row("stored and streamed, a data descriptor inside its data",
        descriptorInside(QByteArray((9 << 20) - 2, 'a')), 2, "ends it there for a streaming reader",
        hidden.name);
    row("local header names another file",
        handMade({{.name = "C/README.TXT",
                   .data = "#!/bin/sh\necho owned\n",
                   .deflate = false,
                   .localName = "../../../tmp/evil.sh"}}),
        1, "it names \"../../../tmp/evil.sh\" (a name that leads out", "../../../tmp/evil.sh");
    // The local header held to the directory record, field by field.
    row("local header, another CRC", handMade({{.name = "C/A.TXT", .data = "text", .localCrc = 1}}), 1,
        "its CRC is 00000001 where the directory says");
    row("local header, another size", handMade({{.name = "C/A.TXT", .data = "text", .localSize = 5}}), 1,
        "its size is 5 where the directory says 4");
    row("local header, other flags", handMade({{.name = "C/A.TXT", .data = "text", .localFlags = 0}}), 1,
        "its flags are 0000 where the directory says 0800");
    row("local header, another method",
        handMade({{.name = "C/A.TXT", .data = "text", .localDeflate = false}}), 1,
        "its compression method is 0 where the directory says 8");
    row("data descriptor that lies",
        handMade({{.name = "C/A.TXT", .data = "text", .descriptor = true, .descriptorCrc = 7}}), 1,
        "the data descriptor after its data is missing or does not match");
    row("data descriptor, intact", handMade({{.name = "C/A.TXT", .data = "text", .descriptor = true}, last}),
        2, {});
    // Sizes are bounded by the file's own size before any limit: a compressed size of 2^64-1
    // wraps no sum, and a small file declares no more than it may inflate to.
    row("compressed size 2^64-1", handMade({{.name = "C/A.TXT", .data = "text", .packed = ~quint64(0)}}), 1,
        "its compressed size, 18446744073709551615 bytes, runs past the end of the archive");
    const RawEntry claimsMuch{.name = "C/Z1.TXT", .data = QByteArray(1000, 'z'), .size = quint64(100) << 20};
    RawEntry second = claimsMuch;
    second.name = "C/Z2.TXT";
    RawEntry third = claimsMuch;
    third.name = "C/Z3.TXT";
    row("declares more than a small file may inflate", handMade({claimsMuch, second, third}), 3,
        "C/Z3.TXT: with the entries before it, it would inflate past 256.00 MiB, the limit for an archive "
        "of");
}

void TestViewer::hostileArchives()
{
    QFETCH(QByteArray, archive);
    QFETCH(int, entries);
    QFETCH(QString, damage);
    QFETCH(QByteArray, hidden);
    const PackageFindings report = readPackage(archiveAt(u"hostile.zip"_s, archive));
    QVERIFY2(report.readable(), qPrintable(report.openError));
    QCOMPARE(static_cast<int>(report.entries.size()), entries);
    if (damage.isEmpty())
        QVERIFY2(report.intact(), qPrintable(problemsOf(report)));
    else
        QVERIFY2(problemsOf(report).contains(damage), qPrintable(problemsOf(report)));
    // Nothing was written beside it: reading never writes.
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("hostile.zip")});
    if (hidden.isEmpty())
        return;
    // A streaming extractor finds the entry: bsdtar, from a pipe, in a folder of its own.
    TS6_REQUIRE_PROGRAMS({QStringLiteral("bsdtar")});
    const QTemporaryDir into;
    const ToolRun bsdtar = runTool(u"bsdtar"_s, {u"-xvf"_s, u"-"_s}, archive, into.path());
    QVERIFY2((bsdtar.out + bsdtar.err).contains("x " + hidden), bsdtar.err.constData());
}

void TestViewer::bombLimits_data()
{
    QTest::addColumn<quint64>("declared");
    QTest::addColumn<bool>("refused");
    // 4 MiB of one byte deflates a thousandfold; the headers are made to say other sizes, and the
    // limits are 500 to 1 past 1 MiB.
    const quint64 packed = static_cast<quint64>(rawDeflate(kBombData).size());
    QTest::newRow("true size, past the ratio") << quint64(kBombData.size()) << true;
    QTest::newRow("at the ratio") << packed * 500 << false;
    QTest::newRow("past the ratio") << packed * 501 << true;
    QTest::newRow("at the floor") << (quint64(1) << 20) << false;
    QTest::newRow("small, any ratio") << quint64(1) << false;
}

void TestViewer::bombLimits()
{
    QFETCH(quint64, declared);
    const QString path =
        archiveAt(u"bomb.zip"_s, handMade({{"C/BOMB.TXT", kBombData, true, 0x0800, {}, declared}}));
    QString error;
    const ZipLimits limits{
        .maxRatio = 500, .ratioFloor = 1 << 20, .maxEntrySize = 8 << 20, .maxTotalSize = 8 << 20};
    QTEST(!ZipReader::open(path, limits, nullptr, &error)->entries().front().refused.isEmpty(), "refused");
    // Under the program's own limits a file of one byte is no bomb; whatever its headers say, no
    // more bytes come out than they promise.
    const std::shared_ptr<const ZipReader> zip = ZipReader::open(path, &error);
    QVERIFY(zip->entries().front().refused.isEmpty());
    quint64 out = 0;
    QString why;
    const bool intact = zip->read(
        zip->entries().front(),
        [&](const char*, size_t size) {
            out += size;
            return true;
        },
        &why);
    QVERIFY(out <= declared);
    QCOMPARE(intact, declared == quint64(kBombData.size()));
    QCOMPARE(why.isEmpty(), intact);
    // A size limit: an entry of exactly the limit is read, one byte more is refused.
    const ZipLimits sized{.maxEntrySize = declared, .maxTotalSize = declared};
    QVERIFY(ZipReader::open(path, sized, nullptr, &error)->entries().front().refused.isEmpty());
    const ZipLimits smaller{.maxEntrySize = declared - 1, .maxTotalSize = declared};
    QVERIFY(!ZipReader::open(path, smaller, nullptr, &error)->entries().front().refused.isEmpty());
}

void TestViewer::archiveBudget_data()
{
    QTest::addColumn<bool>("cut");         // before the directory: entries found by inflating them
    QTest::addColumn<quint64>("maxRatio"); // the archive's budget is also this many times its size
    QTest::addColumn<quint64>("maxTotal");
    QTest::addColumn<int>("intact"); // entries read whole; the rest refused
    // Three entries of 1 MiB each that deflate to 1 KiB, whose sizes follow their data.
    constexpr quint64 kMiB = 1 << 20;
    for (const bool cut : {false, true}) {
        const QByteArray mode = cut ? "cut short, " : "directory, ";
        QTest::newRow(mode + "at the budget") << cut << quint64(1'000'000) << 3 * kMiB << 3;
        QTest::newRow(mode + "a byte past it") << cut << quint64(1'000'000) << 3 * kMiB - 1 << 2;
        // 100 times a file of a few KiB is less than the floor of 1 MiB: one entry only.
        QTest::newRow(mode + "by the file's size") << cut << quint64(100) << 64 * kMiB << 1;
    }
}

void TestViewer::archiveBudget()
{
    QFETCH(bool, cut);
    QFETCH(quint64, maxRatio);
    QFETCH(quint64, maxTotal);
    QFETCH(int, intact);
    QList<RawEntry> entries;
    for (const char* name : {"C/Z1.BIN", "C/Z2.BIN", "C/Z3.BIN"})
        entries.append({.name = name, .data = QByteArray(1 << 20, 'z'), .descriptor = true});
    const QString path = archiveAt(u"budget.zip"_s, handMade(entries), cut);
    const ZipLimits limits{
        .maxRatio = maxRatio, .ratioFloor = 1 << 20, .maxEntrySize = 8 << 20, .maxTotalSize = maxTotal};
    QString error;
    const std::shared_ptr<const ZipReader> zip = ZipReader::open(path, limits, nullptr, &error);
    QCOMPARE(zip->fromLocalHeaders(), cut);
    int read = 0;
    for (const ZipEntry& entry : zip->entries())
        read += zip->read(
                    entry, [](const char*, size_t) { return true; }, &error)
                    ? 1
                    : 0;
    QCOMPARE(read, intact);
    if (intact < 3)
        QVERIFY2(zip->entries().size() < 3 ||
                     zip->entries().back().refused.contains(QLatin1String("the limit for")),
                 qPrintable(zip->entries().back().refused));
}

void TestViewer::readBudget_data()
{
    QTest::addColumn<quint64>("entryLimit");
    QTest::addColumn<quint64>("characterLimit");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<bool>("shared"); // another reader of the run holds the same archive open
    QTest::addColumn<int>("entries"); // read; fewer than 3: the rest named as damage
    // Three entries of names of 7 characters.
    for (const bool cut : {false, true}) {
        const QByteArray mode = cut ? "cut short, " : "directory, ";
        QTest::newRow(mode + "at the budget") << quint64(3) << quint64(21) << cut << false << 3;
        QTest::newRow(mode + "an entry past it") << quint64(2) << quint64(21) << cut << false << 2;
        QTest::newRow(mode + "a character past it") << quint64(3) << quint64(20) << cut << false << 2;
    }
    QTest::newRow("shared by two readers") << quint64(5) << quint64(100) << false << true << 2;
}

void TestViewer::readBudget()
{
    QFETCH(quint64, entryLimit);
    QFETCH(quint64, characterLimit);
    QFETCH(bool, cut);
    QFETCH(bool, shared);
    QFETCH(int, entries);
    const QString path =
        archiveAt(u"names.zip"_s, handMade({{"C/A.TXT", "a"}, {"C/B.TXT", "b"}, {"C/C.TXT", "c"}}), cut);
    const auto budget = std::make_shared<ReadBudget>(entryLimit, characterLimit);
    QString error;
    std::shared_ptr<const ZipReader> first = shared ? ZipReader::open(path, {}, budget, &error) : nullptr;
    const std::shared_ptr<const ZipReader> zip = ZipReader::open(path, {}, budget, &error);
    QCOMPARE(static_cast<int>(zip->entries().size()), entries);
    const QString damage = zip->damage().join(QLatin1Char('|'));
    QCOMPARE(damage.contains(QLatin1String("goes past what one run reads")), entries < 3);
    // A reader closed gives its share back to the run.
    if (shared) {
        first.reset();
        QCOMPARE(ZipReader::open(path, {}, budget, &error)->entries().size(), size_t(3));
    }
}

void TestViewer::streamedEntries()
{
    // A large entry read a page at a time, forwards and back, gives the bytes at each offset.
    QByteArray data;
    for (int i = 0; i < 200000; ++i)
        data += QByteArray::number(i) + '\n';
    QString error;
    const std::shared_ptr<const ZipReader> zip =
        ZipReader::open(archiveAt(u"large.zip"_s, handMade({{"C/LARGE.LOG", data}})), &error);
    EntryStream stream(zip, zip->entries().front());
    for (const quint64 offset :
         {quint64(700000), quint64(65536), quint64(0), static_cast<quint64>(data.size() - 10)}) {
        QVERIFY(stream.seek(offset));
        QByteArray page(64, '\0');
        const qint64 n = stream.read(page.data(), page.size());
        QCOMPARE(page.left(n), data.mid(static_cast<qsizetype>(offset), 64));
    }
    char rest[16];
    QCOMPARE(stream.read(rest, sizeof rest), 0);
    QVERIFY(stream.atEnd());
    QVERIFY(stream.error().isEmpty());
}

void TestViewer::logSpans_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QString>("span"); // first..last, or "date" for the entry's date
    const auto row = [](const char* name, const QByteArray& log, const char* span) {
        QTest::newRow(name) << log << QString::fromLatin1(span);
    };
    row("plain", "2026-12-04 08:00:00 INFO a\nwrapped\n2026-12-04 17:30:59 end\n",
        "2026-12-04T08:00:00Z..2026-12-04T17:30:59Z");
    row("ISO and brackets", "[2026-11-30T23:59:59.120] a\r\n[2026-12-01T00:00:01] b",
        "2026-11-30T23:59:59Z..2026-12-01T00:00:01Z");
    row("stamps inside lines only", "at 2026-12-04 08:00:00 a\n", "date");
    row("not a day", "2026-13-04 08:00:00 a\n2026-02-30 08:00:00 b\n", "date");
    row("cut time", "2026-12-04 08:00", "date");
    row("no newline at the end", "x\n2026-01-02 03:04:05", "2026-01-02T03:04:05Z..2026-01-02T03:04:05Z");
    row("empty", {}, "date");
}

void TestViewer::logSpans()
{
    QFETCH(QByteArray, log);
    QFETCH(QString, span);
    const QDateTime date(QDate(2025, 1, 1), QTime(0, 0), QTimeZone::utc());
    // Whole, and a byte at a time: a line cut between pieces is read as one line.
    for (const qsizetype piece : {log.size() + 1, qsizetype(1)}) {
        LogSpanReader reader;
        for (qsizetype at = 0; at < log.size(); at += piece)
            reader.add(log.constData() + at, static_cast<size_t>(std::min(piece, log.size() - at)));
        const LogSpan got = reader.span(date);
        const QString shown =
            got.fromStamps
                ? got.first.toUTC().toString(Qt::ISODate) + ".." + got.last.toUTC().toString(Qt::ISODate)
                : (got.first == date ? QStringLiteral("date") : QStringLiteral("?"));
        QCOMPARE(shown, span);
    }
}

void TestViewer::lineDiff_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QString>("changes"); // "-line:text +line:text", or what is noted
    const auto row = [](const char* name, const QByteArray& before, const QByteArray& after,
                        const QString& changes) { QTest::newRow(name) << before << after << changes; };
    const QString equal = QStringLiteral("only masked values differ");
    row("one line changed", "a\nb\nc\n", "a\nB\nc\n", "-2:b +2:B");
    row("inserted, CRLF", "a\r\nc\r\n", "a\r\nb\r\nc\r\n", "+2:b");
    row("removed at the end", "a\nb\n", "a\n", "-2:b");
    row("masked value is equal", "Password=Secret1\nx\n", "Password=********\nx\n", equal);
    row("two masks in a line", "Pwd=********;Server=db;Token=********\n", "Pwd=a;b;Server=db;Token=xyz\n",
        equal);
    row("mask, but the key changed", "Password=********\n", "Passwort=abc\n",
        "-1:Password=******** +1:Passwort=abc");
    row("mask, and the rest changed", "Password=******** ; port=1\n", "Password=x ; port=2\n",
        "-1:Password=******** ; port=1 +1:Password=x ; port=2");
    row("UTF-16 against UTF-8", QByteArray("\xff\xfe\x61\0\n\0", 6), "a\n", equal);
    row("binary", QByteArray("\x01\x02\x03\x04\0\x05", 6), QByteArray("\x01\x02\x03\x04\0\x06", 6), "binary");
    // 200 changed lines an entry: a hundred lines replaced are all shown, one more is not.
    for (const int lines : {100, 101}) {
        QByteArray many;
        QByteArray other;
        for (int i = 0; i < lines; ++i) {
            many += "line " + QByteArray::number(i) + '\n';
            other += "LINE " + QByteArray::number(i) + '\n';
        }
        QTest::addRow("%d lines replaced", lines)
            << many << other << QStringLiteral("200 shown, %1 left out").arg(2 * lines - 200);
    }
}

void TestViewer::lineDiff()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    const QString older = archiveAt(u"old.zip"_s, handMade({{"C/A.INI", before}, {"C/SAME.INI", "same"}}));
    const QString newer = archiveAt(u"new.zip"_s, handMade({{"C/SAME.INI", "same"}, {"C/A.INI", after}}));
    const PackageDiff diff = diffPackages(readPackage(older), readPackage(newer), false);
    QString got = QStringLiteral("only masked values differ");
    if (!diff.entries.empty()) {
        QCOMPARE(diff.entries.size(), size_t(1));
        const EntryChange& change = diff.entries.front();
        got = change.lines.size() > 10
                  ? QStringLiteral("%1 shown, %2 left out").arg(change.lines.size()).arg(change.linesLeftOut)
                  : changeText(change);
    }
    QTEST(got, "changes");
}

void TestViewer::diffBudget_data()
{
    QTest::addColumn<quint64>("text");  // the run's budget of text compared line by line
    QTest::addColumn<quint64>("steps"); // of the search for changed lines
    // For each changed text, "|" between them: its lines, or its note's start.
    QTest::addColumn<QString>("shown");
    const quint64 pair = 18; // each text is 9 bytes, old and new
    const QString lines = QStringLiteral("-1:line 1 +1:LINE 1|-1:line 2 +1:LINE 2");
    const QString pastText = QStringLiteral("not compared line by line: this run has compared the ");
    const QString pastSteps = QStringLiteral("not compared line by line: this run has taken the steps");
    QTest::newRow("both within the budget") << 2 * pair << quint64(1000) << lines;
    QTest::newRow("the first exactly, the second past it")
        << pair << quint64(1000) << lines.section(QLatin1Char('|'), 0, 0) + QLatin1Char('|') + pastText;
    QTest::newRow("one byte short of the first")
        << pair - 1 << quint64(1000) << pastText + QLatin1Char('|') + pastText;
    QTest::newRow("no steps left") << 2 * pair << quint64(1) << pastSteps + QLatin1Char('|') + pastSteps;
}

// A run compares texts line by line until its budget of text or of search steps is spent; the
// changed texts past it are still changes, compared by CRC and size, and counted.
void TestViewer::diffBudget()
{
    QFETCH(quint64, text);
    QFETCH(quint64, steps);
    QFETCH(QString, shown);
    const QString older =
        archiveAt(u"budget-old.zip"_s, handMade({{"C/1.INI", "line 1\nx\n"}, {"C/2.INI", "line 2\nx\n"}}));
    const QString newer =
        archiveAt(u"budget-new.zip"_s, handMade({{"C/1.INI", "LINE 1\nx\n"}, {"C/2.INI", "LINE 2\nx\n"}}));
    const PackageDiff diff = diffPackages(readPackage(older), readPackage(newer), false,
                                          {.textInAll = text, .searchSteps = steps});
    const QStringList expected = shown.split(QLatin1Char('|'));
    QCOMPARE(diff.entries.size(), size_t(2));
    int past = 0;
    for (size_t i = 0; i < diff.entries.size(); ++i) {
        const EntryChange& change = diff.entries[i];
        const QString got = changeText(change);
        QVERIFY2(got.startsWith(expected.at(qsizetype(i))), qPrintable(got));
        past += change.note.startsWith(QLatin1String("not compared")) ? 1 : 0;
    }
    QCOMPARE(diff.counts.textsPastBudget, past);
    QCOMPARE(diff.counts.changed, 2);
}

void TestViewer::reportsOfTheWriter()
{
    // What the writer puts in REDACTED.TXT and the comment reads back as it was meant.
    const QByteArray redacted = ZipWriter::redactedText(
        5,
        {{{}, "C/ProgramData/Norvale/TS6/TS6.CONFIG", 2, 3, {}}, {{}, "C/Logs/a u16.log", 1, 0, "UTF-16 LE"}},
        {QStringLiteral("C/Logs/core.dmp")}, true);
    const MaskingReport masking = parseMaskingReport(redacted);
    QCOMPARE(masking.filesChecked, 5);
    QVERIFY(masking.namesReplaced);
    QCOMPARE(masking.files.size(), size_t(2));
    QCOMPARE(masking.files[0].entry, QStringLiteral("C/ProgramData/Norvale/TS6/TS6.CONFIG"));
    QCOMPARE(masking.files[0].values, 2);
    QCOMPARE(masking.files[0].names, 3);
    QCOMPARE(masking.files[1].entry, QStringLiteral("C/Logs/a u16.log"));
    QCOMPARE(masking.files[1].encoding, QStringLiteral("UTF-16 LE"));
    QCOMPARE(masking.notChecked, QStringList{QStringLiteral("C/Logs/core.dmp")});

    QStringList skipped;
    for (int i = 0; i < 3000; ++i)
        skipped.append(QStringLiteral("C:\\TESS\\DATA\\F%1.CSV: Permission denied").arg(i));
    const std::vector<LeftOut> leftOut = parseLeftOut(ArchiveFile::comment(skipped));
    QCOMPARE(leftOut.front().path, QStringLiteral("C:\\TESS\\DATA\\F0.CSV"));
    QCOMPARE(leftOut.front().reason, QStringLiteral("Permission denied"));
    QVERIFY(leftOut.back().path.startsWith(QStringLiteral("... and ")));
}

// What an attacker plants for the readers: packages whose names carry control and bidirectional
// characters, a package damaged where only its data shows it, and case folders whose index names
// one package many times, names packages outside the case or reaches them through links.
void TestViewer::plantHostileReads()
{
    ProgramWorld& world = *m_world;
    QList<RawEntry> named;
    for (const QString& name : hostileNames())
        named.append({name.toUtf8(), "before\n", false});
    world.write("names.zip", handMade(named));
    for (RawEntry& entry : named)
        entry.data = "after\n";
    named.append({"C/added\u202e.txt", "new", false});
    world.write("names-later.zip", handMade(named));
    // The same headers, a byte of the stored data changed: only reading the data tells them apart.
    const QByteArray good = handMade({{"C/A.TXT", "intact text", false}, {"C/B.TXT", "more", false}});
    world.write("data-good.zip", good);
    QByteArray flipped = good;
    flipped[flipped.indexOf("intact text")] = 'I';
    world.write("data-flipped.zip", flipped);

    const QByteArray package = readFile(world.path("plain.zip"));
    const auto index = [](const QList<std::pair<QString, QString>>& hosts) {
        QByteArrayList records;
        for (const auto& [host, path] : hosts)
            records.append(R"({"host": ")" + host.toUtf8() + R"(", "state": "collected", "package": ")" +
                           path.toUtf8() + "\"}");
        return R"({"case": {"target": "/srv/a", "options": [], "started": "2026-12-01T10:00:00Z"}, "hosts": [)" +
               records.join(',') + "]}";
    };
    QList<std::pair<QString, QString>> twenty;
    for (int i = 0; i < 20; ++i)
        twenty.append({u"h%1"_s.arg(i, 2, 10, QLatin1Char('0')), u"hosts/h00/package.zip"_s});
    world.write("twenty/index.json", index(twenty));
    world.write("twenty/hosts/h00/package.zip", package);
    world.write("spelled/index.json", index({{u"a"_s, u"hosts/a/package.zip"_s},
                                             {u"b"_s, u"hosts//a/package.zip"_s},
                                             {u"c"_s, u"hosts/c/package.zip"_s},
                                             {u"d"_s, u"hosts/a/./package.zip"_s}}));
    world.write("spelled/hosts/a/package.zip", package);
    QVERIFY(QDir().mkpath(world.path("spelled/hosts/c")));
    QVERIFY(::link(QFile::encodeName(world.path("spelled/hosts/a/package.zip")).constData(),
                   QFile::encodeName(world.path("spelled/hosts/c/package.zip")).constData()) == 0);
    world.write("outside/index.json", index({{u"up"_s, u"../plain.zip"_s}, {u"root"_s, u"/etc/passwd"_s}}));
    world.write("elsewhere/package.zip", package);
    world.write("linked/index.json", index({{u"folder"_s, u"hosts/folder/package.zip"_s},
                                            {u"file"_s, u"hosts/file/package.zip"_s},
                                            {u"fifo"_s, u"hosts/fifo/package.zip"_s},
                                            {u"own"_s, u"hosts/own/package.zip"_s}}));
    QVERIFY(QDir().mkpath(world.path("linked/hosts/file")));
    QVERIFY(QDir().mkpath(world.path("linked/hosts/fifo")));
    QVERIFY(QFile::link(world.path("elsewhere"), world.path("linked/hosts/folder")));
    world.write("linked/hosts/own/package.zip", package);
    QVERIFY(QFile::link(u"../own/package.zip"_s, world.path("linked/hosts/file/package.zip")));
    QVERIFY(::mkfifo(QFile::encodeName(world.path("linked/hosts/fifo/package.zip")).constData(), 0600) == 0);
    QVERIFY(QDir().mkpath(world.path("index-link")));
    QVERIFY(QFile::link(world.path("twenty/index.json"), world.path("index-link/index.json")));
    world.write("case-names/index.json", index({{u"web1"_s, u"hosts/web1/package.zip"_s}}));
    world.write("case-names/hosts/web1/package.zip", handMade(named));
}

// Names a terminal or an editor could be steered by: escape sequences, C1 controls, the marks and
// embeddings that reorder text, separators, DEL and an invisible tag.
QStringList TestViewer::hostileNames()
{
    return {u"C/evil\x1b[31mRED\x1b[0m.txt"_s,
            u"C/\u202egnp.exe"_s,
            u"C/\u2066isolated\u2069.txt"_s,
            u"C/marks\u200e\u200f\u061c.txt"_s,
            u"C/c1\u0085\u009b.txt"_s,
            u"C/line\u2028sep.txt"_s,
            u"C/del\x7f.txt"_s,
            u"C/tag\U000e0001.txt"_s};
}

void TestViewer::reads_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    // On standard output, or error when the status is 2; with --json, in python3's reading of it.
    QTest::addColumn<QStringList>("says");
    QTest::addColumn<QStringList>("absent"); // nowhere in standard output or error
    const auto row = [](const char* name, const QStringList& arguments, int status, const QStringList& says,
                        const QStringList& absent = {}) {
        QTest::newRow(name) << arguments << status << says << absent;
    };
    // A damaged package, a changed entry in JSON and an added one are the hostile rows' below.
    row("show plain", {"show", "plain.zip"}, 0, {"Masking: none"});
    row("show masked, left out", {"show", "masked.zip"}, 0, {"log budget of 1 KB reached"});
    row("show JSON", {"show", "--json", "masked.zip"}, 0, {"'files_checked'"});
    row("show, checksum that lies", {"show", "lied.zip"}, 1, {"lied.zip.sha256 says"});
    row("show missing", {"show", "none.zip"}, 2, {"cannot open none.zip"});
    row("show case", {"show", "case"}, 1, {"web1: its package hosts/web1/package.zip is missing"});
    row("diff equal", {"diff", "plain.zip", "plain.zip"}, 0, {"the same manifest"});
    row("diff logs", {"diff", "--logs", "plain.zip", "later.zip"}, 1, {"+3: 2026-12-04 18:00:00"});
    row("diff folder", {"diff", "plain.zip", "case"}, 2, {"diff compares two packages"});
    // The hostile characters, raw: none may reach the output as they are.
    QStringList raw;
    for (const char32_t code : {0x1bu, 0x7fu, 0x85u, 0x9bu, 0x200eu, 0x200fu, 0x202eu, 0x2066u, 0x2069u,
                                0x061cu, 0x2028u, 0xe0001u})
        raw.append(QString::fromUcs4(&code, 1));
    row("diff --json: names escaped", {"diff", "--json", "names.zip", "names-later.zip"}, 1,
        {"'C/evil\\x1b[31mRED\\x1b[0m.txt'", "'C/\\u202egnp.exe'", "'C/marks\\u200e\\u200f\\u061c.txt'",
         "'C/c1\\x85\\x9b.txt'", "'C/tag\\U000e0001.txt'", "'C/added\\u202e.txt'"},
        raw);
    row("show --json: names escaped", {"show", "--json", "names.zip"}, 0,
        {"'C/\\u2066isolated\\u2069.txt'", "'C/line\\u2028sep.txt'", "'C/del\\x7f.txt'"}, raw);
    row("show --json of a case: names escaped", {"show", "--json", "case-names"}, 0,
        {"'web1'", "'C/\\u202egnp.exe'"}, raw);
    row("diff: names shown harmless", {"diff", "names.zip", "names-later.zip"}, 1,
        {u"~ C/evil\u241b[31mRED\u241b[0m.txt"_s, u"+ C/added\ufffd.txt"_s}, raw);
    row("show: names shown harmless", {"show", "names.zip"}, 0, {u"C/\ufffdgnp.exe"_s, u"C/del\u2421.txt"_s},
        raw);
    row("diff: cut short is never equal", {"diff", "plain.zip", "cut.zip"}, 1,
        {"damaged: cut.zip: ", "a damaged package is never called equal"}, {"The packages hold the same"});
    row("diff: cut short, against itself", {"diff", "--json", "cut.zip", "cut.zip"}, 1, {"'equal': False"});
    row("diff: damaged data, the same headers", {"diff", "data-good.zip", "data-flipped.zip"}, 1,
        {"damaged: data-flipped.zip: C/A.TXT: CRC mismatch"});
    row("case: one package named by twenty hosts, read once", {"show", "twenty"}, 1,
        {"== h00: hosts/h00/package.zip",
         "h19: its package hosts/h00/package.zip is the one the index names for h00; read once"},
        {"== h01:", "== h19:"});
    row("case: one package by another spelling and a hard link, read once", {"show", "spelled"}, 1,
        {"b: its package hosts//a/package.zip is the one the index names for a",
         "c: its package hosts/c/package.zip is the one the index names for a",
         "d: its package hosts/a/./package.zip is the one the index names for a"},
        {"== b:", "== c:", "== d:"});
    row("case: packages outside the case folder", {"show", "outside"}, 1,
        {"up: the index names its package as ../plain.zip, outside the case folder",
         "root: the index names its package as /etc/passwd, outside the case folder",
         "  root                      package not read"},
        {"== up:", "== root:"});
    row("case: links and a pipe are not followed", {"show", "linked"}, 1,
        {"folder: its package hosts/folder/package.zip is reached through a link",
         "file: its package hosts/file/package.zip is reached through a link",
         "fifo: its package hosts/fifo/package.zip is not a plain file", "== own:"},
        {"== folder:", "== file:"});
    row("case: index.json through a link", {"show", "index-link"}, 2,
        {"index.json is reached through a link"}, {"h00"});
}

void TestViewer::reads()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QStringList, says);
    QFETCH(QStringList, absent);
    const ProgramRun run = m_world->run(arguments);
    QVERIFY2(run.status == status, qPrintable(run.out + run.err));
    QString seen = status >= 2 ? run.err : run.out;
    if (arguments.contains(u"--json"_s)) {
        // Valid JSON to a parser no one here wrote, its strings as they were in the package.
        TS6_REQUIRE_PROGRAMS({QStringLiteral("python3")});
        const ToolRun python =
            runTool(u"python3"_s, {u"-c"_s, u"import json, sys; print(ascii(json.load(sys.stdin)))"_s},
                    run.out.toUtf8());
        QVERIFY2(python.status == 0, python.err.constData());
        seen = QString::fromUtf8(python.out);
    }
    for (const QString& text : says)
        QVERIFY2(seen.contains(text), qPrintable(text + u"\n---\n"_s + seen.left(4000)));
    for (const QString& text : absent)
        QVERIFY2(!(run.out + run.err).contains(text),
                 qPrintable(u"U+%1 in: "_s.arg(text.at(0).unicode(), 4, 16, QLatin1Char('0')) +
                            run.out.left(2000)));
}

void TestViewer::entryTreeKeepsNamesOnce_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("nodes");      // the root included
    QTest::addColumn<int>("characters"); // kept by all nodes together
    QTest::addColumn<int>("depth");      // of the last name's node
    QTest::addColumn<QString>("filter");
    QTest::addColumn<int>("shown"); // nodes the filter leaves in view, the root left out

    // Each folder node keeps its own part of a name, never its path; past 127 folders the rest of
    // a name stands whole, once.
    QTest::newRow("127 folders deep")
        << QStringList{u"a/"_s.repeated(127) + u"x"_s} << 129 << 128 << 128 << u"X"_s << 128;
    QTest::newRow("128 folders deep")
        << QStringList{u"a/"_s.repeated(128) + u"x"_s} << 129 << 130 << 128 << u"a/x"_s << 128;
    // One name of 64 KB, 32,000 folders deep.
    const QString deep = u"a/"_s.repeated(32000) + u"end.txt"_s;
    QTest::newRow("one deep name") << QStringList{deep} << 129 << 127 + 64007 - 254 << 128 << u"END"_s << 128;
    QTest::newRow("a deep folder entry")
        << QStringList{u"ab/"_s.repeated(30000)} << 129 << 254 + 90000 - 381 << 128 << u"zzz"_s << 0;
    // A second name under the same folders adds only its own node.
    QTest::newRow("two names, one path") << QStringList{deep, u"a/"_s.repeated(32000) + u"b"_s} << 130
                                         << 127 + 64007 - 254 + 64001 - 254 << 128 << u"b"_s << 128;
    QTest::newRow("a name that steps out stays whole")
        << QStringList{u"../"_s.repeated(1000) + u"x"_s} << 2 << 3001 << 1 << QString() << 1;
}

void TestViewer::entryTreeKeepsNamesOnce()
{
    QFETCH(QStringList, names);
    const EntryTree tree(int(names.size()), [&](int i) {
        const QString& name = names.at(i);
        return EntryTree::Source{name, name.endsWith(u'/'), name.startsWith(u"../"_s)};
    });
    QTEST(tree.nodeCount(), "nodes");
    QTEST(int(tree.nameCharacters()), "characters");
    int depth = 0;
    for (int node = tree.nodeOfSource(int(names.size()) - 1); node > 0; node = tree.node(node).parent)
        ++depth;
    QTEST(depth, "depth");
    QFETCH(QString, filter);
    const std::vector<bool> shown = tree.shownFor(filter);
    QTEST(int(std::count(shown.begin() + 1, shown.end(), true)), "shown");
}

QTEST_GUILESS_MAIN(TestViewer)
#include "tst_viewer.moc"
