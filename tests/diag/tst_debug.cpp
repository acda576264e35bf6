#include "base/Int16.h"
#include "components/SpdLogSink.h"
#include "diag/Debug.h"
#include "diag/ErrorTrap.h"
#include "support/FakeLogSink.h"
#include "support/TestEnvironment.h"

#include <QRegularExpression>
#include <QTest>

#include <functional>

#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::function<void()>)

class TestDebug : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sinksAreMadeLazilyOnceAndTheirFailureRaised();
    void trapWritesEndThenError_data();
    void trapWritesEndThenError();
    void programsWritingAtOnceRotateTheTraceOnce();
};

// Each entry goes to its sink with its template as it stands; each sink is made at its first entry.
void TestDebug::sinksAreMadeLazilyOnceAndTheirFailureRaised()
{
    FakeLogInstalled fake;
    QCOMPARE(fake.record->created, 0);
    const QString id = Debug::LogStart(u"frmSatchel"_s, u"Form_Load"_s);
    // Seconds of the day, milliseconds, and a number from 1 to 10000 without leading zeros.
    const QRegularExpression form(u"^ID_(\\d+)\\.\\d{3}_([1-9]\\d{0,3}|10000)$"_s);
    for (int i = 0; i < 2000; ++i) {
        const QString sample = i == 0 ? id : Debug::NewTraceId();
        const QRegularExpressionMatch m = form.match(sample);
        QVERIFY2(m.hasMatch() && m.captured(1).toInt() <= 86400, qPrintable(sample));
    }
    QCOMPARE(fake.record->created, 1); // the timing sink only
    Debug::LogEnd(u"frmSatchel"_s, u"Form_Load"_s, id);
    QCOMPARE(fake.record->created, 1);
    Debug::LogMessage(u"frmSatchel"_s, u"Resize_Form"_s, QString()); // an empty message is handed on too
    Debug::LogError(u"a"_s, u"b"_s, u"c"_s, -1, u"d"_s);
    QCOMPARE(fake.record->created, 2);
    const QString timing = u"Legacy.Timing.TS6Satchel|"_s;
    QCOMPARE(
        fake.record->entries,
        (QStringList{timing + "START: {ModuleName}, {ProcName} [{TimeStamp}]|frmSatchel|Form_Load|" + id,
                     timing + "END: {ModuleName}, {ProcName} [{TimeStamp}]|frmSatchel|Form_Load|" + id,
                     "Legacy.TS6Satchel|LOG: {ModuleName}, {ProcName}, {message}|frmSatchel|Resize_Form|",
                     "Legacy.TS6Satchel|ERROR: {ModuleName}, {ProcName}, {Message}|a|b|Runtime error "
                     "occurred: -1 : c Source: d"}));

    // A sink's failure is the caller's run-time error.
    fake.record->failWrites = true;
    try {
        Debug::LogMessage(u"m"_s, u"p"_s, u"x"_s);
        QFAIL("no error");
    } catch (const RuntimeError& e) {
        QVERIFY(e.number() < 0);
        QCOMPARE(e.source(), QLatin1String(ILogSink::ClassId));
    }
}

void TestDebug::trapWritesEndThenError_data()
{
    QTest::addColumn<std::function<void()>>("body");
    QTest::addColumn<QString>("error");
    const auto raise = [](const char* name, int number, const char* description, const char* source,
                          const char* text) {
        QTest::newRow(name) << std::function<void()>([=] {
            raiseError(number, QString::fromUtf8(description), QString::fromUtf8(source));
        }) << QString::fromUtf8(text);
    };
    raise("number and source", 76, "Path not found", "ZipWriter", "76 : Path not found Source: ZipWriter");
    raise("number 0 leaves the number out", 0, "Boom", "", "Boom");
    raise("negative number with its sign", -2147467259, "Unspecified", "ZipWriter",
          "-2147467259 : Unspecified Source: ZipWriter");
    raise("source without description", 0, "", "Src", " Source: Src");
    raise("everything empty", 0, "", "", "");
    // Any other exception is recorded as an error too, never let through.
    QTest::newRow("other exception") << std::function<void()>([] { throw std::runtime_error("disk"); })
                                     << u"51 : disk Source: TS6Satchel"_s;
    QTest::newRow("16-bit counter past 32767") << std::function<void()>([] {
        Int16 counter = 32766;
        QCOMPARE(int(++counter), 32767);
        ++counter;
    }) << u"6 : Overflow"_s;
    QTest::newRow("16-bit number below -32768")
        << std::function<void()>([] { Int16::fromWide(-32769); }) << u"6 : Overflow"_s;
}

// The trap ends the procedure: its END entry, with the START's id, and then its ERROR entry.
void TestDebug::trapWritesEndThenError()
{
    QFETCH(std::function<void()>, body);
    QFETCH(QString, error);
    FakeLogInstalled fake;
    bool after = false;
    QVERIFY(!runTraced(u"frmSatchel"_s, u"Build_Package"_s, [&] {
        Debug::LogMessage(u"frmSatchel"_s, u"Build_Package"_s, u"step"_s);
        body();
        after = true;
    }));
    QVERIFY(!after);
    QCOMPARE(fake.record->lines(),
             (QStringList{"START: frmSatchel, Build_Package", "LOG: frmSatchel, Build_Package, step",
                          "END: frmSatchel, Build_Package",
                          "ERROR: frmSatchel, Build_Package, Runtime error occurred: " + error}));
    QCOMPARE(fake.record->entries.at(2).section(u'|', 4), fake.record->entries.at(0).section(u'|', 4));
}

// The trace file: each line stamped with its time and logger, and rotated once when many programs
// write at once.
void TestDebug::programsWritingAtOnceRotateTheTraceOnce()
{
    TestEnvironment env;
    // The trace just short of its 5 MB, with its three older files.
    const QByteArray full = QByteArray(5 * 1024 * 1024 - 4000, 'x') + "\ncurrent\n";
    env.write(u"trace/TS6Satchel.log"_s, full);
    for (const char* older : {"1", "2", "3"})
        env.write(u"trace/TS6Satchel.%1.log"_s.arg(QLatin1String(older)),
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
                Debug::LogMessage(u"p"_s, QString::number(p), QString::number(i));
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
    const QString id = Debug::LogStart(u"frmSatchel"_s, u"LoadGrid"_s); // this program's own, the last
    // Rotated once: the full file is the first older one, the older ones each moved up by one; every
    // entry is there once.
    QByteArray all;
    for (const char* name : {"TS6Satchel.3.log", "TS6Satchel.2.log", "TS6Satchel.1.log", "TS6Satchel.log"}) {
        QFile file(env.logDir() + u'/' + QLatin1String(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        all += file.readAll();
    }
    const QByteArray older = "history 2\nhistory 1\n" + full;
    QVERIFY(all.startsWith(older));
    QStringList entries = QString::fromUtf8(all.mid(older.size())).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(entries.size(), kPrograms * kEntries + 1);
    QVERIFY(
        entries.last().endsWith(u" Legacy.Timing.TS6Satchel START: frmSatchel, LoadGrid ["_s + id + u']'));
    const QRegularExpression stamp(u"^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "_s);
    for (QString& entry : entries) {
        QVERIFY2(stamp.match(entry).hasMatch(), qPrintable(entry));
        entry = entry.section(u' ', 2); // without the time
    }
    entries.removeDuplicates();
    QCOMPARE(entries.size(), kPrograms * kEntries + 1);
    QVERIFY(entries.contains(u"Legacy.TS6Satchel LOG: p, 3, 767"_s));
    // A value is written as it is, even where it looks like a placeholder.
    QCOMPARE(
        SpdLogSink::fillTemplate(u"LOG: {ModuleName}, {ProcName}, {message}"_s, u"a{b}"_s, u"{c}"_s, u"d"_s),
        u"LOG: a{b}, {c}, d"_s);
}

QTEST_GUILESS_MAIN(TestDebug)
#include "tst_debug.moc"
