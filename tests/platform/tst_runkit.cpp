#include "base/ByteSize.h"
#include "case/CaseFolder.h"
#include "case/CollectRun.h"
#include "delivery/TusClient.h"
#include "delivery/UploadRun.h"
#include "outside/Interruption.h"
#include "platform/StopToken.h"
#include "platform/TerminalLine.h"
#include "support/HandMadeZip.h"
#include "support/TestEnvironment.h"
#include "viewer/PackageFindings.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <thread>

using namespace Qt::StringLiterals;

// What long jobs share: the sizes they show and read, their progress line on a terminal, and the
// token that stops them.
class TestRunKit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sizesShown_data();
    void sizesShown();
    void sizesRead_data();
    void sizesRead();
    void progressLine_data();
    void progressLine();
    void jobsStop_data();
    void jobsStop();
    void sharedToken();
    // Last: the signal it raises stays noted for the rest of the process.
    void signalWatched();
};

void TestRunKit::sizesShown_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<bool>("negative");
    QTest::addColumn<QString>("binary");
    QTest::addColumn<QString>("decimal");
    const auto row = [](const char* name, quint64 bytes, const QString& binary, const QString& decimal) {
        QTest::newRow(name) << bytes << false << binary << decimal;
    };
    row("none", 0, u"0 bytes"_s, u"0 bytes"_s);
    row("one", 1, u"1 byte"_s, u"1 byte"_s);
    row("the last in bytes", 1023, u"1023 bytes"_s, u"1023 bytes"_s);
    row("the first in KiB", 1024, u"1.00 KiB"_s, u"1024 bytes"_s);
    row("show's own example", 43018, u"42.01 KiB"_s, u"43018 bytes"_s);
    row("a byte short of 1 MiB reads as it", (1 << 20) - 1, u"1.00 MiB"_s, u"1048575 bytes"_s);
    row("whole thousands", 1'500'000, u"1.43 MiB"_s, u"1500 KB"_s);
    row("whole millions", 200'000'000, u"190.73 MiB"_s, u"200 MB"_s);
    row("whole billions", 2'000'000'000, u"1.86 GiB"_s, u"2 GB"_s);
    row("the largest signed", quint64(std::numeric_limits<qint64>::max()), u"8.00 EiB"_s,
        u"9223372036854775807 bytes"_s);
    QTest::newRow("the largest unsigned")
        << std::numeric_limits<quint64>::max() << false << u"16.00 EiB"_s << QString();
    QTest::newRow("a rate going back") << quint64(1536) << true << u"-1.50 KiB"_s << QString();
}

void TestRunKit::sizesShown()
{
    QFETCH(quint64, bytes);
    QFETCH(bool, negative);
    QFETCH(QString, binary);
    QFETCH(QString, decimal);
    if (negative)
        QCOMPARE(byteSizeText(-qint64(bytes)), binary);
    else
        QCOMPARE(byteSizeText(bytes), binary);
    if (!decimal.isEmpty())
        QCOMPARE(decimalSizeText(qint64(bytes)), decimal);
}

void TestRunKit::sizesRead_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("units");
    QTest::addColumn<qint64>("bytes"); // -1: refused
    const auto binary = [](const char* text, qint64 bytes) {
        QTest::newRow(qPrintable(u"binary '%1'"_s.arg(QLatin1String(text))))
            << QString::fromUtf8(text) << int(ByteUnits::Binary) << bytes;
    };
    const auto decimal = [](const char* text, qint64 bytes) {
        QTest::newRow(qPrintable(u"decimal '%1'"_s.arg(QLatin1String(text))))
            << QString::fromUtf8(text) << int(ByteUnits::Decimal) << bytes;
    };
    // The chunk size's limits (64K, 1G) and its refusal of "8MB" are the upload's command-line rows.
    binary("0", 0);
    binary("1", 1);
    binary("8m", 8 << 20);
    binary(" 1G ", 1 << 30);
    binary("8 K", 8 << 10);
    binary("+8", 8);
    binary("4611686018427387904", qint64(1) << 62);
    binary("4611686018427387905", -1);
    binary("4503599627370496K", qint64(1) << 62);
    binary("4503599627370497K", -1);
    binary("4294967296G", qint64(1) << 62);
    binary("4294967297G", -1);
    binary("1.5M", -1);
    binary("-8", -1);
    binary("", -1);
    binary("K", -1);
    binary("0x10", -1);
    binary("\xef\xbc\x98", -1); // a full-width 8
    decimal("0", 0);
    decimal("1500", 1500);
    decimal("200M", 200'000'000);
    decimal("200MB", 200'000'000);
    decimal("200 M", 200'000'000);
    decimal("1.5 GB", 1'500'000'000);
    decimal("2g", 2'000'000'000);
    decimal("7b", 7);
    decimal("0.5", 1);
    decimal("0.4", 0);
    decimal("1.0005K", 1001);
    decimal("1.000001K", 1000);
    decimal("999999999999", 999'999'999'999);
    decimal("1000000000000", -1);
    decimal("1.123456", 1);
    decimal("1.1234567", -1);
    decimal("1000000000G", 1'000'000'000'000'000'000);
    decimal("1000000000.000001G", -1);
    decimal("999999999999.999999M", 999'999'999'999'999'999);
    decimal("999999999999G", -1);
    decimal(" 200M", -1);
    decimal("200M ", -1);
    decimal("", -1);
    decimal("1.M", -1);
    decimal(".5", -1);
    decimal("+1", -1);
    decimal("2T", -1);
    decimal("2KiB", -1);
    decimal("\xd9\xa5", -1); // an Arabic-Indic 5
}

void TestRunKit::sizesRead()
{
    QFETCH(QString, text);
    QFETCH(int, units);
    QString why;
    const std::optional<qint64> read = parseByteSize(text, ByteUnits(units), &why);
    QTEST(read.value_or(-1), "bytes");
    QCOMPARE(why.isEmpty(), read.has_value());
    if (!read)
        QVERIFY2(why.contains(u"'%1'"_s.arg(text)), qPrintable(why));
}

void TestRunKit::progressLine_data()
{
    // Each step: "show NAME|REST", "block LINE|LINE", "clear" or "finish".
    QTest::addColumn<int>("columns");
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QByteArray>("written");
    const QString figures = u"  1.00 MiB of 3.00 MiB"_s; // 22 columns
    const QString name58 = QString(58, u'n');
    QTest::newRow("fits") << 80 << true << QStringList{u"show report.zip|"_s + figures}
                          << QByteArray("\r\x1b[Jreport.zip  1.00 MiB of 3.00 MiB");
    QTest::newRow("exactly one column short of the width")
        << 81 << true << QStringList{u"show "_s + name58 + u'|' + figures}
        << "\r\x1b[J" + name58.toLatin1() + figures.toLatin1();
    QTest::newRow("one column past it: the name gives way in its middle")
        << 80 << true << QStringList{u"show "_s + name58.left(28) + u'x' + name58.left(29) + u'|' + figures}
        << "\r\x1b[J" + QByteArray(27, 'n') + "..." + QByteArray(27, 'n') + figures.toLatin1();
    QTest::newRow("width unknown: 80") << 0 << true << QStringList{u"show "_s + QString(100, u'a')}
                                       << "\r\x1b[J" + QByteArray(38, 'a') + "..." + QByteArray(38, 'a');
    QTest::newRow("narrow: the name keeps 16 columns, the figures are cut")
        << 30 << true << QStringList{u"show "_s + QString(40, u'a') + u'|' + figures}
        << "\r\x1b[J" + QByteArray(7, 'a') + "..." + QByteArray(6, 'a') + "  1.00 MiB...";
    QTest::newRow("control and bidirectional characters shown harmless")
        << 80 << true << QStringList{u"show evil\x1b[2J\u202e.zip|"_s}
        << u"\r\x1b[Jevil\u241b[2J\ufffd.zip"_s.toUtf8();
    QTest::newRow("wide characters take two columns")
        << 12 << true << QStringList{u"show "_s + QString(8, QChar(0x6587))}
        << "\r\x1b[J" + QString(2, QChar(0x6587)).toUtf8() + "..." + QString(2, QChar(0x6587)).toUtf8();
    QTest::newRow("drawn over, the same not again, cleared")
        << 80 << true << QStringList{u"show a|1"_s, u"show a|1"_s, u"show a|2"_s, u"clear"_s, u"clear"_s}
        << QByteArray("\r\x1b[Ja1\r\x1b[Ja2\r\x1b[J");
    QTest::newRow("finished: the next line starts below")
        << 80 << true << QStringList{u"show a|1"_s, u"finish"_s, u"finish"_s, u"show a|1"_s}
        << QByteArray("\r\x1b[Ja1\n\r\x1b[Ja1");
    QTest::newRow("a block drawn over a block, then a line over it")
        << 8 << true << QStringList{u"block one|two|three"_s, u"block uno|dos|tres three"_s, u"show x"_s}
        << QByteArray("\r\x1b[Jone\ntwo\nthree\n\r\x1b[3A\x1b[Juno\ndos\ntres...\n\r\x1b[3A\x1b[Jx");
    QTest::newRow("a line under a block erased alone")
        << 80 << true << QStringList{u"show a|1"_s, u"block x|y"_s, u"clear"_s}
        << QByteArray("\r\x1b[Ja1\r\x1b[Jx\ny\n\r\x1b[2A\x1b[J");
    QTest::newRow("not a terminal: nothing")
        << 80 << false << QStringList{u"show a|1"_s, u"block x|y"_s, u"clear"_s} << QByteArray();
}

void TestRunKit::progressLine()
{
    QFETCH(int, columns);
    QFETCH(bool, terminal);
    QFETCH(QStringList, steps);
    QFETCH(QByteArray, written);
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* stream = ::open_memstream(&buffer, &size);
    QVERIFY(stream);
    {
        TerminalLine line(stream, terminal, columns);
        for (const QString& step : steps) {
            const QString verb = step.section(u' ', 0, 0);
            const QStringList parts = step.section(u' ', 1).split(u'|');
            if (verb == u"show")
                line.show(parts.value(0), parts.value(1));
            else if (verb == u"block")
                line.showBlock(parts);
            else if (verb == u"clear")
                line.clear();
            else
                line.finish();
        }
    }
    std::fclose(stream);
    const QByteArray got(buffer, qsizetype(size));
    std::free(buffer);
    QCOMPARE(got, written);
}

namespace {

// Reads a small package; what the read ends with.
QString readJob(const std::shared_ptr<StopToken>& stop, const QString& folder)
{
    const QString path = folder + u"/package.zip"_s;
    if (!writeFile(path, handMade({{"a.txt", "alpha"}, {"b.txt", "beta"}})))
        return u"no package written"_s;
    const PackageFindings report = readPackage(path, {.stop = stop});
    return report.damage.isEmpty() ? u"read whole"_s : report.damage.constFirst();
}

// Collects from two hosts, the first of them a listener that accepts and never answers: a request
// after start comes from another thread once ssh has reached it. Each host's end, as the index
// written in the case folder has it.
QString collectJob(StopToken& stop, const QString& folder, bool midway)
{
    QTcpServer silent;
    if (!silent.listen(QHostAddress(u"127.0.0.1"_s)))
        return u"no listener"_s;
    const QString sshConfig = folder + u"/ssh_config"_s;
    if (!writeFile(sshConfig,
                   u"Host quiet\n  HostName 127.0.0.1\n  Port %1\n"_s.arg(silent.serverPort()).toUtf8()))
        return u"no ssh config"_s;
    CollectOptions options;
    options.hosts = {{u"quiet"_s, {}}, {u"later"_s, {}}};
    options.target = u"/srv/app"_s;
    options.out = folder + u"/case"_s;
    options.jobs = 1;
    options.sshConfig = sshConfig;
    CaseIndex index;
    index.target = options.target;
    for (const HostEntry& entry : options.hosts)
        index.hosts.push_back(HostRecord{entry.host, entry.folder});
    QString why;
    std::optional<CaseFolder> caseFolder = CaseFolder::create(options.out, &why);
    if (!caseFolder)
        return why;
    std::thread requester;
    if (midway)
        QObject::connect(&silent, &QTcpServer::newConnection, &silent,
                         [&] { requester = std::thread([&stop] { stop.request(); }); });
    CollectRun run(options, index, std::move(*caseFolder), {stderr, false}, stop);
    bool done = false;
    QObject::connect(&run, &CollectRun::done, &run, [&done] { done = true; });
    if (!run.start(&why))
        return why;
    const bool ended = QTest::qWaitFor([&done] { return done; }, 60000);
    if (requester.joinable())
        requester.join();
    if (!ended)
        return u"still running"_s;
    QStringList ends;
    for (const HostRecord& host : run.index().hosts)
        ends << u"%1: %2"_s.arg(stateName(host.state), host.reason);
    return ends.join(u" | "_s);
}

// Sends a small package to a port where nothing listens; the outcome of its one file.
QString uploadJob(StopToken& stop, const QString& folder)
{
    const QString path = folder + u"/package.zip"_s;
    if (!writeFile(path, handMade({{"a.txt", "alpha"}})))
        return u"no package written"_s;
    QString why;
    std::vector<UploadSource> sources = uploadSources(path, &why);
    TusClient client({QUrl(u"http://127.0.0.1:9/files/"_s), {}}, stop);
    UploadSession session(client, path, std::move(sources), 1 << 20);
    const std::vector<UploadOutcome> outcomes = session.run();
    if (outcomes.size() != 1)
        return u"%1 outcomes"_s.arg(outcomes.size());
    const UploadOutcome& outcome = outcomes.front();
    return outcome.end == UploadOutcome::End::Interrupted
               ? u"interrupted, %1 bytes sent, state %2"_s.arg(outcome.sentBytes)
                     .arg(outcome.stateKept ? u"kept"_s : u"none"_s)
               : outcome.reason;
}

} // namespace

// Every long job ends the same way when its token is requested: a Cancel button before it began, or
// another thread while it waits. Nothing is left half-done: the index says each host's end, the
// upload keeps no state for bytes never sent.
void TestRunKit::jobsStop_data()
{
    QTest::addColumn<QString>("job");
    QTest::addColumn<bool>("midway");
    QTest::addColumn<QString>("ended");
    QTest::newRow("read, cancelled first") << u"read"_s << false << u"cancelled"_s;
    QTest::newRow("collect, cancelled first")
        << u"collect"_s << false
        << u"interrupted: the run was interrupted before this host's turn | "
           "interrupted: the run was interrupted before this host's turn"_s;
    QTest::newRow("collect, cancelled from another thread while ssh waits")
        << u"collect"_s << true
        << u"interrupted: the run was interrupted | "
           "interrupted: the run was interrupted before this host's turn"_s;
    QTest::newRow("upload, cancelled first")
        << u"upload"_s << false << u"interrupted, 0 bytes sent, state none"_s;
}

void TestRunKit::jobsStop()
{
    QFETCH(QString, job);
    QFETCH(bool, midway);
    QFETCH(QString, ended);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const auto stop = std::make_shared<StopToken>();
    if (!midway)
        stop->request();
    QString got;
    if (job == u"read")
        got = readJob(stop, folder.path());
    else if (job == u"collect")
        got = collectJob(*stop, folder.path(), midway);
    else
        got = uploadJob(*stop, folder.path());
    QCOMPARE(got, ended);
    QCOMPARE(stop->reason(), u"cancelled"_s);
}

// Two jobs on one token: each is woken while it waits, and the end of one leaves the other's wake.
void TestRunKit::sharedToken()
{
    StopToken stop;
    int first = 0;
    int second = 0;
    {
        const StopToken::Wake ended(stop, [&first] { ++first; });
        const StopToken::Wake waiting(stop, [&second] { ++second; });
        stop.request();
        QCOMPARE(first, 1);
        QCOMPARE(second, 1);
    }
    const StopToken::Wake waiting(stop, [&second] { ++second; });
    {
        const StopToken::Wake ended(stop, [&first] { ++first; });
    }
    stop.request();
    QCOMPARE(first, 1);
    QCOMPARE(second, 2);
}

// A signal wakes the watch once: the descriptor is drained, so the event loop does not wake again
// and again for the same signal; the next signal wakes it again.
void TestRunKit::signalWatched()
{
    Interruption::install();
    int calls = 0;
    const Interruption::Watch watch([&calls] { ++calls; });
    for (int signal = 1; signal <= 2; ++signal) {
        QVERIFY(std::raise(SIGINT) == 0);
        QTRY_COMPARE(calls, signal);
        for (int turn = 0; turn < 5; ++turn)
            QCoreApplication::processEvents();
        QCOMPARE(calls, signal);
        QCOMPARE(Interruption::requested(), SIGINT);
    }
}

QTEST_GUILESS_MAIN(TestRunKit)
#include "tst_runkit.moc"
