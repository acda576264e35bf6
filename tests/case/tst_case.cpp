#include "base/ShownText.h"
#include "case/CaseFolder.h"
#include "case/CaseIndex.h"
#include "case/CollectOptions.h"
#include "case/ControlFolder.h"
#include "case/FetchSpace.h"
#include "case/HostRun.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <functional>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

class TestCase : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readings_data();
    void readings();
    void remoteWords();
    void indexRoundTrip();
    void indexWrites_data();
    void indexWrites();
    void fetchSpace_data();
    void fetchSpace();
    void staleControlFolders();
    void hostSteps_data();
    void hostSteps();
};

namespace {

// Each reading of what a user, ssh or a server gives, its result as text.
const std::map<QString, std::function<QString(const QByteArray&)>> kReaders = {
    {u"hosts file"_s,
     [](const QByteArray& text) {
         QString error;
         QStringList read;
         for (const HostEntry& h : parseHostsFile(text, &error))
             read << (h.folder.isEmpty() ? h.host : h.host + u'=' + h.folder);
         return error.isEmpty() ? read.join(u';') : u"error "_s + error;
     }},
    {u"duration"_s,
     [](const QByteArray& text) {
         return QString::number(parseDuration(QString::fromUtf8(text)).value_or(0));
     }},
    // What OpenSSH says, word for word.
    {u"connection failure"_s,
     [](const QByteArray& said) { return stateName(classifyConnectionFailure(QString::fromUtf8(said))); }},
    {u"tool version"_s,
     [](const QByteArray& line) {
         const auto v = toolVersion(QString::fromUtf8(line));
         return v ? u"%1.%2"_s.arg(v->first).arg(v->second) : QString();
     }},
    // The host key is ssh's own line only; what a server sends before its banner or in a debug
    // message is quoted after ssh's prefix, and never taken.
    {u"host key"_s, [](const QByteArray& line) { return hostKeyIn(line); }},
    // The exit status of a run whose hosts ended in these states.
    {u"exit status"_s,
     [](const QByteArray& states) {
         CaseIndex index;
         for (const QByteArray& s : states.split(' '))
             if (!s.isEmpty())
                 index.hosts.push_back(HostRecord{u"h"_s, {}, *stateFromName(QString::fromLatin1(s))});
         return QString::number(exitStatusOf(index));
     }},
};

void row(const char* reader, const char* name, const QByteArray& input, const QString& expected)
{
    QTest::addRow("%s: %s", reader, name) << QString::fromLatin1(reader) << input << expected;
}

} // namespace

void TestCase::readings_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected");
    const QString line = u"cannot read the line '%1': give HOST, or HOST folder=PATH."_s;
    const char* hosts = "hosts file";
    row(hosts, "comments, blanks, folders", "# fleet\n\n  a  \nb folder=/srv/x y\r\n#c\n", u"a;b=/srv/x y"_s);
    row(hosts, "a host with a blank in it, line 3", "a\n\nb c\n", u"error 3: "_s + line.arg(u"b c"_s));
    row(hosts, "a host starting with -", "-oX\n", u"error 1: "_s + line.arg(u"-oX"_s));
    row(hosts, "users, ports, addresses", "ann@web_1.prod-x:2222\n[::1]:22\nfe80::1%eth0\n",
        u"ann@web_1.prod-x:2222;[::1]:22;fe80::1%eth0"_s);
    row(hosts, "a shell's characters", "h$(id)\n", u"error 1: "_s + line.arg(u"h$(id)"_s));
    row(hosts, "a digit of another script", "127.0.0.\xd9\xa1\n",
        u"error 1: "_s + line.arg(u"127.0.0.\u0661"_s));
    row(hosts, "empty", {}, {});
    // 0: refused.
    for (const auto& [text, seconds] : std::initializer_list<std::pair<const char*, int>>{{"1", 1},
                                                                                          {"0", 0},
                                                                                          {"90s", 90},
                                                                                          {"10m", 600},
                                                                                          {"24h", 86400},
                                                                                          {"86400", 86400},
                                                                                          {"86401", 0},
                                                                                          {"1441m", 0},
                                                                                          {"1d", 0},
                                                                                          {"-5", 0},
                                                                                          {"1.5m", 0}})
        row("duration", text, text, QString::number(seconds));
    // A banner that never comes, and a released tool's version, are collect's runs against sshd.
    const char* failure = "connection failure";
    row(failure, "too many keys",
        "Received disconnect from 127.0.0.2 port 22:2: Too many authentication failures\n", u"auth"_s);
    row(failure, "closed at once", "kex_exchange_identification: Connection closed by remote host\n",
        u"refused"_s);
    row(failure, "dead host", "ssh: connect to host 10.0.0.1 port 22: Connection timed out\n",
        u"unreachable"_s);
    row(failure, "no route", "ssh: connect to host 10.0.0.1 port 22: No route to host\n", u"unreachable"_s);
    row(failure, "unknown name", "ssh: Could not resolve hostname nohost: Name or service not known\n",
        u"unreachable"_s);
    row(failure, "anything else", "something new\n", u"unreachable"_s);
    const char* version = "tool version";
    row(version, "two parts", "ts6satchel 10.20", u"10.20"_s);
    row(version, "another program", "satchel 6.1.2", {});
    row(version, "words after it", "ts6satchel 6.1.2 (debug)", {});
    row(version, "no number", "ts6satchel x.y", {});
    const char* key = "host key";
    row(key, "a certificate, MD5", "debug1: Server host key: ssh-ed25519-cert-v01@openssh.com MD5:0a:1b:2c",
        u"ssh-ed25519-cert-v01@openssh.com MD5:0a:1b:2c"_s);
    row(key, "a server's CR inside a quoted line",
        "debug1: Remote: x\rdebug1: Server host key: ssh-ed25519 SHA256:forged", {});
    row(key, "words after the key", "debug1: Server host key: ssh-ed25519 SHA256:abc and more", {});
    row(key, "another level", "debug2: Server host key: ssh-ed25519 SHA256:abc", {});
    row("exit status", "all", "collected collected", u"0"_s);
    row("exit status", "no host", {}, u"1"_s);
}

void TestCase::readings()
{
    QFETCH(QString, reader);
    QFETCH(QByteArray, input);
    QTEST(kReaders.at(reader)(input), "expected");
}

// What reaches ssh and the remote shell: the destination after "--", every word quoted.
void TestCase::remoteWords()
{
    QCOMPARE(sshDestination(u"[::1]:2222"_s), u"ssh://[::1]:2222"_s);
    QCOMPARE(sshDestination(u"fe80::1"_s), u"fe80::1"_s);
    QCOMPARE(sshDestination(u"db"_s), u"db"_s);
    QCOMPARE(shellQuoted(u"it's $(rm -rf /)"_s), u"'it'\\''s $(rm -rf /)'"_s);
    // What a server says reaches the terminal without its escape sequences.
    QCOMPARE(shownText(lastWords(u"debug1: x\n\x1b]0;owned\afailed \u00e9\n"_s)),
             u"\u241b]0;owned\u2407failed \u00e9"_s);
    HostJob job;
    job.entry = {u"db"_s, {}};
    job.target = u"C:\\Apps\\O'Neil\\"_s;
    job.options.buildOptions = {u"--since"_s, u"7d"_s};
    job.options.sudo = true;
    const QString build = remoteBuildCommand(job);
    QVERIFY2(
        build.endsWith(
            u"sudo -n env TMPDIR=\"$d\" ts6satchel --json '--since' '7d' -- 'C:\\Apps\\O'\\''Neil\\' \"$d/package.zip\" </dev/null 3<&-"_s),
        qPrintable(build));
    const QStringList args = commandArguments(job, u"true"_s);
    QCOMPARE(args.mid(args.size() - 3), (QStringList{u"--"_s, u"db"_s, u"true"_s}));
    QVERIFY(args.contains(u"StrictHostKeyChecking=yes"_s) && args.contains(u"BatchMode=yes"_s));
}

void TestCase::indexRoundTrip()
{
    CaseIndex index;
    index.target = u"/srv/App"_s;
    index.options = {u"--redact"_s};
    index.started = QDateTime(QDate(2026, 12, 6), QTime(10, 0), Qt::UTC);
    HostRecord good{u"ann@db:22"_s, u"/opt/x"_s, HostState::Collected};
    good.package = hostFolder(good.host) + u"/package.zip"_s;
    good.size = 5;
    good.sha256 = QByteArray(64, 'a');
    good.seconds = 1.5;
    index.hosts = {good, HostRecord{u"web"_s, {}, HostState::Auth, u"Permission denied"_s},
                   HostRecord{u".."_s}};
    QCOMPARE(good.package, u"hosts/ann_db_22/package.zip"_s);
    QCOMPARE(hostFolder(u".."_s), u"hosts/__"_s);
    QCOMPARE(sha256Sums(index), QByteArray(64, 'a') + "  hosts/ann_db_22/package.zip\n");
    QString why;
    const std::optional<CaseIndex> back = readIndex(indexJson(index), &why);
    QVERIFY2(back, qPrintable(why));
    QCOMPARE(indexJson(*back), indexJson(index));
    QVERIFY(indexJson(index).contains("\"package\":null")); // hosts not collected have none
    QVERIFY(!readIndex("{\"hosts\":[]}", &why));
    QVERIFY(
        !readIndex("{\"case\":{\"target\":\"x\"},\"hosts\":[{\"host\":\"a\",\"state\":\"gone\"}]}", &why));
}

void TestCase::indexWrites_data()
{
    QTest::addColumn<QString>("blocked"); // a folder of that name, which no file replaces
    QTest::addColumn<QStringList>("written");
    QTest::newRow("nothing in the way")
        << QString() << QStringList{u"SHA256SUMS"_s, u"index.txt"_s, u"index.json"_s};
    QTest::newRow("the sums") << u"SHA256SUMS"_s << QStringList{};
    QTest::newRow("index.txt") << u"index.txt"_s << QStringList{u"SHA256SUMS"_s};
    QTest::newRow("index.json, last") << u"index.json"_s << QStringList{u"SHA256SUMS"_s, u"index.txt"_s};
}

// The index files are written in order, the index last, and the first that cannot be written
// stops the rest: an index never names a package the sums leave out.
void TestCase::indexWrites()
{
    QFETCH(QString, blocked);
    QFETCH(QStringList, written);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"case"_s);
    QString why;
    const std::optional<CaseFolder> folder = CaseFolder::create(path, &why);
    QVERIFY2(folder, qPrintable(why));
    if (!blocked.isEmpty())
        QVERIFY(QDir(path).mkpath(blocked + u"/kept"_s));
    CaseIndex index;
    index.target = u"/srv/tess"_s;
    index.hosts = {HostRecord{u"web"_s}};
    QCOMPARE(writeIndex(*folder, index, &why), blocked.isEmpty());
    QCOMPARE(why.isEmpty(), blocked.isEmpty());
    if (!blocked.isEmpty())
        QVERIFY2(why.startsWith(u"cannot write %1/%2: "_s.arg(path, blocked)), qPrintable(why));
    for (const QString& name : {u"SHA256SUMS"_s, u"index.txt"_s, u"index.json"_s})
        if (name != blocked)
            QCOMPARE(QFileInfo(path + u'/' + name).isFile(), written.contains(name));
}

// The room on the disk: a fetch fits exactly when the free space covers its bytes, what the others
// under way have yet to write and the margin; one byte less does not. A fetch under way is
// stopped once the free space falls under the margin.
void TestCase::fetchSpace_data()
{
    QTest::addColumn<qint64>("free");
    QTest::addColumn<qint64>("othersLeft"); // bytes another fetch under way has yet to write
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<bool>("fits");
    constexpr qint64 margin = FetchSpace::kMargin;
    QTest::newRow("exactly room") << margin + 1000 << qint64(0) << qint64(1000) << true;
    QTest::newRow("one byte short") << margin + 999 << qint64(0) << qint64(1000) << false;
    QTest::newRow("room, less what another still writes")
        << margin + 1500 << qint64(500) << qint64(1000) << true;
    QTest::newRow("one byte short with another") << margin + 1499 << qint64(500) << qint64(1000) << false;
    QTest::newRow("a claim of 2^62 bytes") << margin + 1000 << qint64(0) << (qint64(1) << 62) << false;
}

void TestCase::fetchSpace()
{
    QFETCH(qint64, free);
    QFETCH(qint64, othersLeft);
    QFETCH(qint64, bytes);
    QFETCH(bool, fits);
    qint64 now = free;
    FetchSpace space([&now] { return std::optional<qint64>(now); });
    QString why;
    auto other = space.reserve(othersLeft + 200, &why);
    QVERIFY2(other, qPrintable(why));
    other->wrote(200); // on the disk already, counted in the free space
    auto mine = space.reserve(bytes, &why);
    QCOMPARE(bool(mine), fits);
    if (!fits)
        QVERIFY2(why.startsWith(u"the disk of the case folder has "_s), qPrintable(why));
    mine.reset();
    other.reset(); // its end gives its room back
    QCOMPARE(bool(space.reserve(bytes, &why)), bytes <= free - FetchSpace::kMargin);

    // Under way: the margin holds until the free space falls one byte under it.
    now = FetchSpace::kMargin;
    QVERIFY(space.enough(&why));
    now = FetchSpace::kMargin - 1;
    QVERIFY(!space.enough(&why));
    QVERIFY2(why.contains(u"under the"_s), qPrintable(why));
}

// The control folders of runs that were killed are removed by the next run; a live run's, another
// user's or one that others may write, a link, or a folder with a folder in it are left alone.
void TestCase::staleControlFolders()
{
    QTemporaryDir base;
    QString why;
    const std::optional<ControlFolder> live = ControlFolder::create(base.path(), &why);
    QVERIFY2(live, qPrintable(why));
    const auto make = [&](const char* name, mode_t mode) {
        const QString path = base.filePath(QLatin1String(name));
        QVERIFY(QDir().mkdir(path));
        QVERIFY(::chmod(QFile::encodeName(path).constData(), mode) == 0);
    };
    make("ts6c-dead", 0700);
    QVERIFY(::symlink("/nonexistent", QFile::encodeName(base.filePath(u"ts6c-dead/0"_s)).constData()) == 0);
    make("ts6c-shared", 0770);
    make("ts6c-deeper", 0700);
    make("ts6c-deeper/inside", 0700);
    QVERIFY(QFile::link(base.filePath(u"ts6c-dead"_s), base.filePath(u"ts6c-link"_s)));
    make("other", 0700);
    QCOMPARE(removeStaleControlFolders(base.path()), QStringList{u"ts6c-dead"_s});
    QStringList left{u"other"_s, live->path().section(u'/', -1), u"ts6c-deeper"_s, u"ts6c-link"_s,
                     u"ts6c-shared"_s};
    left.sort();
    QCOMPARE(QDir(base.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name),
             left);
}

void TestCase::hostSteps_data()
{
    // A stand-in for ssh: a master that says it is ready (or never does), a remote command that
    // hangs, and a request to end the master that is granted. A master interrupted while it connects,
    // and a version refused, are collect's own runs against sshd (and the run kit's stop).
    QTest::addColumn<QByteArray>("ssh");
    QTest::addColumn<int>("interruptAt"); // the step at which the run is interrupted; -1 never
    QTest::addColumn<QList<int>>("steps");
    QTest::addColumn<QString>("state");
    using S = HostRun::Step;
    const QByteArray hangs = "exec sleep 30\n";
    const QByteArray ready = "case \" $* \" in *\" -M \"*) echo ts6satchel-ready; exec sleep 30;; "
                             "*\" -O \"*) exit 0;; esac\n";
    QTest::newRow("no ssh to start") << QByteArray() << -1
                                     << QList<int>{int(S::Connecting), int(S::Abandoning), int(S::Ended)}
                                     << u"unreachable"_s;
    // A master that says it is ready only once it is being stopped starts no step.
    QTest::newRow("ready said while being stopped")
        << QByteArray("sleep 30 & trap 'echo ts6satchel-ready; kill $!; exec sleep 30' TERM; wait\n")
        << int(S::Connecting) << QList<int>{int(S::Connecting), int(S::Abandoning), int(S::Ended)}
        << u"interrupted"_s;
    QTest::newRow("interrupted while the version is asked")
        << ready + hangs << int(S::Checking)
        << QList<int>{int(S::Connecting), int(S::Checking), int(S::Closing), int(S::Ended)}
        << u"interrupted"_s;
}

// A host passes through its steps in order and ends in one state: a master that never got ready
// is stopped, a connected one asked to end; nothing runs once it has ended.
void TestCase::hostSteps()
{
    QFETCH(QByteArray, ssh);
    QFETCH(int, interruptAt);
    QFETCH(QString, state);
    QTemporaryDir dir;
    const QString fake = dir.filePath(u"ssh"_s);
    if (!ssh.isEmpty())
        QVERIFY(writeFile(fake, "#!/bin/sh\n" + ssh, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    HostJob job;
    job.entry.host = u"web"_s;
    job.target = u"/srv/tess"_s;
    job.controlPath = dir.filePath(u"control"_s);
    job.hostDir = dir.path();
    job.hostFolder.reset(
        ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    job.ownVersion = {6, 1};
    job.ssh = fake;
    HostRun run(std::move(job));
    QList<int> seen;
    QObject::connect(&run, &HostRun::changed, &run, [&] {
        if (seen.isEmpty() || seen.last() != int(run.step()))
            seen.append(int(run.step()));
        if (int(run.step()) == interruptAt)
            QTimer::singleShot(0, &run, &HostRun::interrupt);
    });
    QSignalSpy finished(&run, &HostRun::finished);
    QCOMPARE(run.phase(), u"waiting"_s);
    run.start();
    QVERIFY(finished.count() == 1 || finished.wait(20000));
    QTEST(seen, "steps");
    QCOMPARE(stateName(run.record().state), state);
    QCOMPARE(run.phase(), state);
    QVERIFY(QFileInfo(dir.filePath(u"collect.log"_s)).isFile());
}

QTEST_GUILESS_MAIN(TestCase)
#include "tst_case.moc"
