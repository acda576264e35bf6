#include "base/Int16.h"
#include "components/SpdLogSink.h"
#include "diag/Debug.h"
#include "diag/ErrorTrap.h"
#include "support/FakeLogSink.h"
#include "support/TestEnvironment.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <sys/wait.h>
#include <unistd.h>

class TestDebug : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void errorText_data();
    void errorText();
    void traceIdForm();
    void sinksAreCreatedLazilyOncePerRun();
    void trapWritesEndThenErrorWithTheStartsId();
    void sinkFailureReachesTheCaller();
    void int16OverflowsPast32767();
    void traceFileLinesAndPlaceholders();
    void programsWritingAtOnceRotateTheTraceOnce();
};

void TestDebug::errorText_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected");
    QTest::newRow("number 0 leaves the number out") << "Boom" << 0 << ""
                                                    << "Runtime error occurred: Boom";
    QTest::newRow("negative number with its sign")
        << "Unspecified" << -2147467259 << "ZipWriter"
        << "Runtime error occurred: -2147467259 : Unspecified Source: ZipWriter";
    QTest::newRow("positive number, empty source") << "Overflow" << 6 << ""
                                                   << "Runtime error occurred: 6 : Overflow";
    QTest::newRow("source without description") << "" << 0 << "Src"
                                                << "Runtime error occurred:  Source: Src";
    QTest::newRow("everything empty") << "" << 0 << ""
                                      << "Runtime error occurred: ";
}

void TestDebug::errorText()
{
    QFETCH(QString, description);
    QFETCH(int, number);
    QFETCH(QString, source);
    QFETCH(QString, expected);
    QCOMPARE(Debug::ComposeErrorText(description, number, source), expected);

    FakeLogInstalled fake;
    Debug::LogError(QStringLiteral("M"), QStringLiteral("P"), description, number, source);
    QCOMPARE(fake.record->entries,
             QStringList{QStringLiteral("Legacy.TS6Satchel|ERROR: {ModuleName}, {ProcName}, {Message}|M|P|") +
                         expected});
}

void TestDebug::traceIdForm()
{
    const QRegularExpression form(QStringLiteral("^ID_(\\d+)\\.(\\d{3})_(\\d+)$"));
    for (int i = 0; i < 2000; ++i) {
        const QString id = Debug::NewTraceId();
        const QRegularExpressionMatch m = form.match(id);
        QVERIFY2(m.hasMatch(), qPrintable(id));
        QVERIFY(m.captured(1).toInt() < 86400 + 1);
        const int n = m.captured(3).toInt();
        QVERIFY2(n >= 1 && n <= 10000, qPrintable(id));
        QVERIFY(!m.captured(3).startsWith(QLatin1Char('0')));
    }
}

void TestDebug::sinksAreCreatedLazilyOncePerRun()
{
    FakeLogInstalled fake;
    QCOMPARE(fake.record->created, 0);
    const QString id = Debug::LogStart(QStringLiteral("frmSatchel"), QStringLiteral("Form_Load"));
    QCOMPARE(fake.record->created, 1); // the timing sink only
    Debug::LogEnd(QStringLiteral("frmSatchel"), QStringLiteral("Form_Load"), id);
    QCOMPARE(fake.record->created, 1);
    Debug::LogMessage(QStringLiteral("frmSatchel"), QStringLiteral("Resize_Form"), QString());
    Debug::LogMessage(QStringLiteral("frmSatchel"), QStringLiteral("Resize_Form"), QStringLiteral("Start"));
    Debug::LogError(QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), 1, QString());
    QCOMPARE(fake.record->created, 2);
    QCOMPARE(
        fake.record->entries.at(0),
        QStringLiteral(
            "Legacy.Timing.TS6Satchel|START: {ModuleName}, {ProcName} [{TimeStamp}]|frmSatchel|Form_Load|") +
            id);
    QCOMPARE(
        fake.record->entries.at(1),
        QStringLiteral(
            "Legacy.Timing.TS6Satchel|END: {ModuleName}, {ProcName} [{TimeStamp}]|frmSatchel|Form_Load|") +
            id);
    // An empty message is still handed to the sink.
    QCOMPARE(
        fake.record->entries.at(2),
        QStringLiteral("Legacy.TS6Satchel|LOG: {ModuleName}, {ProcName}, {message}|frmSatchel|Resize_Form|"));
}

void TestDebug::trapWritesEndThenErrorWithTheStartsId()
{
    FakeLogInstalled fake;
    bool after = false;
    const bool completed = RunTraced(QStringLiteral("frmSatchel"), QStringLiteral("Build_Package"), [&] {
        Debug::LogMessage(QStringLiteral("frmSatchel"), QStringLiteral("Build_Package"),
                          QStringLiteral("step"));
        Raise(76, QStringLiteral("Path not found"), QStringLiteral("ZipWriter"));
        after = true;
    });
    QVERIFY(!completed);
    QVERIFY(!after);
    const QStringList& e = fake.record->entries;
    QCOMPARE(e.size(), 4);
    const QString id = e.at(0).section(QLatin1Char('|'), 4);
    QVERIFY(e.at(0).contains(QLatin1String("|START: ")));
    QVERIFY(e.at(1).endsWith(QLatin1String("|step")));
    QVERIFY(e.at(2).contains(QLatin1String("|END: ")));
    QCOMPARE(e.at(2).section(QLatin1Char('|'), 4), id);
    QCOMPARE(e.at(3),
             QStringLiteral("Legacy.TS6Satchel|ERROR: {ModuleName}, {ProcName}, {Message}|frmSatchel|"
                            "Build_Package|Runtime error occurred: 76 : Path not found Source: ZipWriter"));

    // A non-program exception is recorded as an error too, never let through.
    fake.record->entries.clear();
    QVERIFY(!RunTraced(QStringLiteral("m"), QStringLiteral("p"), [] { throw std::runtime_error("disk"); }));
    QVERIFY(fake.record->entries.last().endsWith(
        QLatin1String("Runtime error occurred: 51 : disk Source: TS6Satchel")));
}

void TestDebug::sinkFailureReachesTheCaller()
{
    FakeLogInstalled fake;
    fake.record->failWrites = true;
    bool raised = false;
    try {
        Debug::LogMessage(QStringLiteral("m"), QStringLiteral("p"), QStringLiteral("x"));
    } catch (const RuntimeError& e) {
        raised = e.number() < 0 && e.source() == QLatin1String(ILogSink::ClassId);
    }
    QVERIFY(raised);
}

void TestDebug::int16OverflowsPast32767()
{
    Int16 counter = 32766;
    ++counter;
    QCOMPARE(int(counter), 32767);
    try {
        ++counter;
        QFAIL("no overflow");
    } catch (const RuntimeError& e) {
        QCOMPARE(e.number(), 6);
        QCOMPARE(e.description(), QStringLiteral("Overflow"));
    }
    QVERIFY_THROWS_EXCEPTION(RuntimeError, Int16::fromWide(-32769));
}

void TestDebug::traceFileLinesAndPlaceholders()
{
    QCOMPARE(SpdLogSink::FillTemplate(QStringLiteral("LOG: {ModuleName}, {ProcName}, {message}"),
                                      QStringLiteral("a{b}"), QStringLiteral("{c}"), QStringLiteral("d")),
             QStringLiteral("LOG: a{b}, {c}, d"));

    TestEnvironment env;
    const QString id = Debug::LogStart(QStringLiteral("frmSatchel"), QStringLiteral("LoadGrid"));
    Debug::LogMessage(QStringLiteral("frmSatchel"), QStringLiteral("LoadGrid"),
                      QStringLiteral("Log file found: C:\\X.LOG"));
    QFile file(env.logDir() + QStringLiteral("/TS6Satchel.log"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
    QVERIFY2(stamp.match(lines.at(0)).hasMatch(), qPrintable(lines.at(0)));
    QVERIFY(lines.at(0).endsWith(QStringLiteral(" Legacy.Timing.TS6Satchel START: frmSatchel, LoadGrid [") +
                                 id + QLatin1Char(']')));
    QVERIFY(lines.at(1).endsWith(
        QLatin1String(" Legacy.TS6Satchel LOG: frmSatchel, LoadGrid, Log file found: C:\\X.LOG")));
}

void TestDebug::programsWritingAtOnceRotateTheTraceOnce()
{
    TestEnvironment env;
    // The trace just short of its 5 MB, with its three older files.
    env.write(QStringLiteral("trace/TS6Satchel.log"),
              QByteArray(5 * 1024 * 1024 - 4000, 'x') + "\ncurrent\n");
    for (const char* older : {"1", "2", "3"})
        env.write(QStringLiteral("trace/TS6Satchel.%1.log").arg(QLatin1String(older)),
                  QByteArray("history ") + older + '\n');
    constexpr int kPrograms = 4;
    constexpr int kEntries = 768;
    int gate[2];
    QCOMPARE(pipe(gate), 0);
    std::vector<pid_t> programs;
    for (int p = 0; p < kPrograms; ++p) {
        const pid_t pid = fork();
        if (pid == 0) { // a program of its own: its own sink, its own file handles
            close(gate[1]);
            char none = 0;
            const bool started = read(gate[0], &none, 1) == 0; // all start when the gate closes
            for (int i = 0; started && i < kEntries; ++i)
                Debug::LogMessage(QStringLiteral("p"), QString::number(p), QString::number(i));
            _exit(started ? 0 : 1);
        }
        programs.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);
    for (const pid_t pid : programs) {
        int status = -1;
        QCOMPARE(waitpid(pid, &status, 0), pid);
        QCOMPARE(status, 0);
    }
    // Rotated once: the full file is the first older one, the older ones each moved up by one.
    QStringList lines;
    const auto read = [&](const char* name) {
        QFile file(env.logDir() + QLatin1Char('/') + QLatin1String(name));
        const QByteArray all = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        lines += QString::fromUtf8(all).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return all;
    };
    QVERIFY(read("TS6Satchel.1.log").startsWith(QByteArray(5 * 1024 * 1024 - 4000, 'x') + "\ncurrent\n"));
    QCOMPARE(read("TS6Satchel.2.log"), QByteArray("history 1\n"));
    QCOMPARE(read("TS6Satchel.3.log"), QByteArray("history 2\n"));
    read("TS6Satchel.log");
    // Every entry there, once.
    QSet<QString> entries;
    for (const QString& line : std::as_const(lines))
        if (const qsizetype at = line.indexOf(QLatin1String("LOG: p, ")); at >= 0)
            entries.insert(line.mid(at));
    QCOMPARE(entries.size(), kPrograms * kEntries);
    QCOMPARE(lines.size(), kPrograms * kEntries + 4);
}

QTEST_GUILESS_MAIN(TestDebug)
#include "tst_debug.moc"
