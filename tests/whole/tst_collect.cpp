#include "support/SshFleet.h"
#include "support/TestEnvironment.h"
#include "support/TestTools.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <map>

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Kind = SshFleet::Kind;

namespace {

constexpr int kPatience = 180000; // milliseconds: what a busy machine may need for a whole run
constexpr int kEnding = 60000;    // for what ends with a killed run: its ssh, the remote build

struct CollectRun
{
    int status = -1;
    QString err;
};

std::unique_ptr<QProcess>
startCollect(const QStringList& arguments,
             const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(TS6_PROGRAM), QStringList{u"collect"_s} + arguments);
    return process;
}

CollectRun collect(const QStringList& arguments,
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    const auto process = startCollect(arguments, env);
    process->waitForFinished(kPatience);
    return {process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1,
            QString::fromUtf8(process->readAllStandardError())};
}

QString folderOf(const QString& caseFolder, const QString& host)
{
    return caseFolder + u"/hosts/"_s + QString(host).replace(u':', u'_');
}

// A case folder as collect leaves it, by hand: its index names the hosts, pending.
void writeCase(const QString& caseFolder, const QStringList& hosts, const QStringList& options,
               const QString& collected = {}, const QString& fingerprint = {})
{
    QDir().mkpath(caseFolder);
    QFile::setPermissions(caseFolder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QJsonArray records;
    for (const QString& host : hosts)
        records.append(QJsonObject{{u"host"_s, host}, {u"state"_s, u"refused"_s}});
    if (!collected.isEmpty())
        records.append(QJsonObject{{u"host"_s, u"done"_s},
                                   {u"state"_s, u"collected"_s},
                                   {u"package"_s, collected},
                                   {u"size"_s, 1},
                                   {u"sha256"_s, QString(64, u'a')},
                                   {u"fingerprint"_s, fingerprint}});
    const QJsonObject index{{u"case"_s, QJsonObject{{u"target"_s, u"C:\\Apps\\Orders\\"_s},
                                                    {u"options"_s, QJsonArray::fromStringList(options)},
                                                    {u"started"_s, u"2026-12-06T10:00:00Z"_s}}},
                            {u"hosts"_s, records}};
    writeFile(caseFolder + u"/index.json"_s, QJsonDocument(index).toJson(),
              QFile::ReadOwner | QFile::WriteOwner);
}

bool chownToNobody(const QString& path)
{
    const passwd* nobody = ::getpwnam("nobody");
    return ::geteuid() == 0 && nobody &&
           ::lchown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid) == 0;
}

// One field of each host in the case folder's index: its state unless named otherwise.
std::map<QString, QString> statesIn(const QString& caseFolder, const QString& field = u"state"_s)
{
    std::map<QString, QString> values;
    for (const QJsonValue host :
         QJsonDocument::fromJson(readFile(caseFolder + u"/index.json"_s))[u"hosts"_s].toArray())
        values[host[u"host"_s].toString()] = host[field].toString();
    return values;
}

bool emptyFolder(const QString& path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty();
}

} // namespace

class TestCollect : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyHostEndsInItsState();
    void aSignalledRunLeavesNothingRunning_data();
    void aSignalledRunLeavesNothingRunning();
    void plantedCaseFiles_data();
    void plantedCaseFiles();
    void sshAndServers_data();
    void sshAndServers();
};

// One run over a fleet where each host fails its own way, then a resume once one is mended, then
// the unknown and the changed host key with --accept-new-host-keys.
void TestCollect::everyHostEndsInItsState()
{
    SshFleet fleet(QStringLiteral(TS6_PROGRAM));
    const std::vector<std::pair<Kind, QString>> kinds{
        {Kind::Healthy, u"collected"_s},
        {Kind::ToolMissing, u"tool-missing"_s},
        {Kind::ToolTooOld, u"tool-too-old"_s},
        {Kind::Garbage, u"remote-failed"_s},
        {Kind::Truncated, u"corrupt"_s},
        {Kind::KeyUnknown, u"host-key-unknown"_s},
        {Kind::KeyChanged, u"host-key-changed"_s},
        {Kind::AuthRefused, u"auth"_s},
        {Kind::Refused, u"refused"_s},
        {Kind::Silent, u"timeout"_s},
        {Kind::Endless, u"corrupt"_s},
        {Kind::Elsewhere, u"remote-failed"_s},
        {Kind::Healthy, u"remote-failed"_s}, // its folder= names no folder there
    };
    std::map<QString, QString> expected;
    QByteArray hostsFile = "# the fleet\n";
    std::vector<QString> names;
    for (const auto& [kind, state] : kinds) {
        const QString name = fleet.add(kind);
        QVERIFY2(!name.isEmpty(), qPrintable(fleet.error()));
        names.push_back(name);
        expected[name] = state;
        hostsFile +=
            name.toUtf8() + (&state == &kinds.back().second ? " folder=C:\\Apps\\Gone\\" : "") + '\n';
    }
    const QString hosts = fleet.root() + u"/hosts.txt"_s;
    QVERIFY(writeFile(hosts, hostsFile));

    const QString caseFolder = fleet.root() + u"/case"_s;
    const QStringList common{
        u"--ssh-config"_s, fleet.sshConfig(), u"--connect-timeout"_s, u"3"_s, u"--jobs"_s, u"16"_s};
    CollectRun run = collect(
        common + QStringList{u"--out"_s, caseFolder, u"--hosts-file"_s, hosts, u"--"_s, fleet.target()});
    QCOMPARE(run.status, 3);
    QCOMPARE(statesIn(caseFolder), expected);
    QVERIFY2(run.err.contains(u"1 of 13 hosts collected"_s), qPrintable(run.err));

    // What arrived is whole, by tools of their own; nothing stays on the hosts or runs here.
    const ToolRun sums = runTool(u"sha256sum"_s, {u"-c"_s, u"SHA256SUMS"_s}, {}, caseFolder);
    QVERIFY2(sums.status == 0 && sums.out.count(": OK") == 1, sums.out.constData());
    QCOMPARE(runTool(u"unzip"_s, {u"-tq"_s, u"package.zip"_s}, {}, folderOf(caseFolder, names[0])).status, 0);
    QVERIFY(!QFile::exists(folderOf(caseFolder, names[4]) + u"/package.zip"_s));
    for (int n = 0; n < static_cast<int>(kinds.size()); ++n) {
        QVERIFY2(emptyFolder(fleet.hostRoot(n) + u"/tmp"_s), qPrintable(names[n]));
        QVERIFY2(QFileInfo::exists(fleet.hostRoot(n) + u"/victim"_s), qPrintable(names[n])); // never removed
        QVERIFY(QFileInfo(folderOf(caseFolder, names[n]) + u"/collect.log"_s).size() > 0);
    }
    QCOMPARE(fleet.strayProcesses(), QStringList());

    // Mended, the refused login is collected on resume; what was collected stays as it was.
    const QString before = statesIn(caseFolder, u"sha256"_s)[names[0]];
    QCOMPARE(statesIn(caseFolder, u"reason"_s)[names[10]],
             u"1001 bytes arrived, more than the 1000 the remote build named"_s); // cut at its word
    fleet.authorize(7);
    run = collect({u"--ssh-config"_s, fleet.sshConfig(), u"--resume"_s, caseFolder});
    QCOMPARE(run.status, 3);
    // Before it logs in anywhere, it says what the case folder has it do.
    const QString resuming = u"ts6satchel collect: resuming %1: 12 of 13 hosts again (%2, %3, "_s.arg(
        caseFolder, names[1], names[2]);
    QVERIFY2(run.err.startsWith(resuming), qPrintable(run.err));
    QVERIFY2(run.err.contains(u" and 2 more), target %1, options "_s.arg(fleet.target())) &&
                 run.err.contains(u"--connect-timeout 3"_s),
             qPrintable(run.err));
    expected[names[7]] = u"collected"_s;
    QCOMPARE(statesIn(caseFolder), expected);
    QCOMPARE(statesIn(caseFolder, u"sha256"_s)[names[0]], before);
    QCOMPARE(collect({u"--ssh-config"_s, fleet.sshConfig(), u"--resume"_s, fleet.root()}).status,
             64); // no case there

    // A new key is taken when asked; a changed one never.
    const QString second = fleet.root() + u"/case2"_s;
    run = collect(common + QStringList{u"--accept-new-host-keys"_s, u"--out"_s, second, names[5], names[6],
                                       u"--"_s, fleet.target()});
    QCOMPARE(run.status, 3);
    QCOMPARE(statesIn(second),
             (std::map<QString, QString>{{names[5], u"collected"_s}, {names[6], u"host-key-changed"_s}}));
    QCOMPARE(collect(common + QStringList{u"--out"_s, second, names[0], u"--"_s, fleet.target()}).status, 64);
}

void TestCollect::aSignalledRunLeavesNothingRunning_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGKILL") << SIGKILL;
}

// A signal while one host builds and another is done. SIGINT: the first is marked interrupted and its
// remote folder removed, the second kept, and no ssh process or control socket is left. SIGKILL: the
// ssh processes end with the program, the server stops the build and removes its folder as the
// connection goes, and the next run removes the control folder left.
void TestCollect::aSignalledRunLeavesNothingRunning()
{
    QFETCH(int, signal);
    SshFleet fleet(QStringLiteral(TS6_PROGRAM));
    const QString done = fleet.add(Kind::Healthy);
    const QString hanging = fleet.add(Kind::Hanging);
    const QString refused = fleet.add(Kind::Refused);
    QVERIFY2(!done.isEmpty() && !hanging.isEmpty() && !refused.isEmpty(), qPrintable(fleet.error()));
    const QString caseFolder = fleet.root() + u"/case"_s;
    QTemporaryDir temp;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"TMPDIR"_s, temp.path()); // where the control folders go
    const auto process = startCollect({u"--ssh-config"_s, fleet.sshConfig(), u"--out"_s, caseFolder, done,
                                       hanging, u"--"_s, fleet.target()},
                                      env);
    const QString package = folderOf(caseFolder, done) + u"/package.zip"_s;
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fleet.hostRoot(1) + u"/started"_s) && QFile::exists(package),
                             kPatience);
    QVERIFY(!fleet.strayProcesses().isEmpty()); // the master and the build's ssh
    ::kill(static_cast<pid_t>(process->processId()), signal);
    QVERIFY(process->waitForFinished(kPatience));
    if (signal == SIGINT) {
        QCOMPARE(process->exitCode(), 3);
        QCOMPARE(statesIn(caseFolder),
                 (std::map<QString, QString>{{done, u"collected"_s}, {hanging, u"interrupted"_s}}));
        QCOMPARE(fleet.strayProcesses(), QStringList());
        QVERIFY(emptyFolder(temp.path()));
        QVERIFY(emptyFolder(fleet.hostRoot(1) + u"/tmp"_s)); // the interrupted build's folder is removed
        return;
    }
    // Within the watcher's wait for the build's end, and well within the test's own time.
    QTRY_COMPARE_WITH_TIMEOUT(fleet.strayProcesses(), QStringList(), kEnding);
    QTRY_VERIFY_WITH_TIMEOUT(emptyFolder(fleet.hostRoot(1) + u"/tmp"_s), kEnding);
    QCOMPARE(QDir(temp.path()).entryList({u"ts6c-*"_s}, QDir::Dirs | QDir::Hidden).size(), 1);
    const CollectRun next = collect({u"--ssh-config"_s, fleet.sshConfig(), u"--out"_s,
                                     fleet.root() + u"/case2"_s, refused, u"--"_s, fleet.target()},
                                    env);
    QCOMPARE(next.status, 1);
    QVERIFY(emptyFolder(temp.path()));
}

// A case folder with something planted in it by another user, or an index forged: each is refused
// with its reason, and nothing planted is followed, run or shown raw.
void TestCollect::plantedCaseFiles_data()
{
    QTest::addColumn<QString>("plant");
    QTest::addColumn<bool>("giveConfig"); // --ssh-config on the resume's command line
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    const auto row = [](const char* name, const char* plant, bool giveConfig, int status,
                        const QString& said) {
        QTest::newRow(name) << QString::fromLatin1(plant) << giveConfig << status << said;
    };
    row("a link at hosts/HOST/collect.log", "log link", true, 1, u"0 of 1 hosts collected"_s);
    row("a link at hosts/HOST", "folder link", true, 1, u"is not taken: it is a symbolic link"_s);
    row("hosts/HOST of another user", "folder of nobody", true, 1,
        u"is not taken: it belongs to another user"_s);
    row("index.json a link", "index link", true, 64, u"index.json is not taken: it is a symbolic link"_s);
    row("index.json group-writable", "index writable", true, 64,
        u"index.json is not taken: others may write it"_s);
    row("the case folder group-writable", "case writable", true, 64, u"is not taken: others may write it"_s);
    row("a recorded ssh configuration with a ProxyCommand, none given", "proxy config", false, 64,
        u"a resume takes no ssh configuration from a case folder: give --ssh-config again."_s);
    row("a recorded ssh configuration with a ProxyCommand, the user's given", "proxy config", true, 1,
        u"0 of 1 hosts collected"_s);
    // The recorded options are read through collect's own table (the command line's tests hold each
    // refusal): a value is checked as on the command line.
    row("a build option the build refuses", "options --since yesterday", true, 64,
        u"--since: cannot read the date 'yesterday': give YYYY-MM-DD, or Nd for the last N days."_s);
    row("a host name with a line feed", "line feed", true, 64, u"which the command line would refuse"_s);
    row("a host name with an escape sequence", "escape", true, 64, u"which the command line would refuse"_s);
    row("two hosts sharing one folder", "shared folder", true, 64,
        u"the hosts 'ann@db' and 'ann_db' would share the folder hosts/ann_db."_s);
    row("a collected package outside its host's folder", "package elsewhere", true, 64,
        u"is collected into '../../etc/passwd', not into its own folder."_s);
    row("an escape sequence in a collected host's key", "forged key", true, 64,
        u"the host 'done' carries text that collect never writes."_s);
}

void TestCollect::plantedCaseFiles()
{
    QFETCH(QString, plant);
    QFETCH(bool, giveConfig);
    QFETCH(int, status);
    QFETCH(QString, said);
    SshFleet fleet(QStringLiteral(TS6_PROGRAM));
    const QString host = fleet.add(Kind::Refused);
    QVERIFY2(!host.isEmpty(), qPrintable(fleet.error()));
    const QString root = fleet.root();
    const QString caseFolder = root + u"/case"_s;
    const QString hostDir = folderOf(caseFolder, host);
    const QString secret = root + u"/secret"_s;
    const QString elsewhere = root + u"/elsewhere"_s;
    const QString ran = root + u"/ran"_s;
    QVERIFY(writeFile(secret, "PRIVATE KEY", QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(QDir().mkpath(elsewhere));
    QVERIFY(writeFile(root + u"/proxy_config"_s,
                      "Host *\n  ProxyCommand touch " + QFile::encodeName(ran) + "\n"));

    QStringList hosts{host};
    // Every option collect records: a resume that runs records them again as they were.
    const QStringList kept = u"--redact --since 7d --jobs 4 --timeout 90 --connect-timeout 5 --sudo "
                             "--accept-new-host-keys"_s.split(u' ');
    QStringList options = plant.startsWith(u"options "_s) ? plant.mid(8).split(u' ') : kept;
    QString collected;
    if (plant == u"proxy config")
        options << u"--ssh-config"_s << root + u"/proxy_config"_s;
    if (plant == u"line feed")
        hosts << u"web\n127.0.0.9:22  collected  hosts/web/package.zip"_s;
    if (plant == u"escape")
        hosts << u"web\x1b]0;owned\x07"_s;
    if (plant == u"shared folder")
        hosts << u"ann@db"_s << u"ann_db"_s;
    if (plant == u"package elsewhere")
        collected = u"../../etc/passwd"_s;
    const bool forgedKey = plant == u"forged key";
    if (forgedKey)
        collected = u"hosts/done/package.zip"_s;
    writeCase(caseFolder, hosts, options, collected,
              forgedKey ? u"ssh-ed25519 \x1b]0;owned\x07"_s : QString());
    const QString index = caseFolder + u"/index.json"_s;
    if (plant == u"log link") {
        QVERIFY(QDir().mkpath(hostDir));
        QVERIFY(QFile::link(secret, hostDir + u"/collect.log"_s));
    } else if (plant == u"folder link") {
        QVERIFY(QDir().mkpath(caseFolder + u"/hosts"_s));
        QVERIFY(QFile::link(elsewhere, hostDir));
    } else if (plant == u"folder of nobody") {
        QVERIFY(QDir().mkpath(hostDir));
        if (!chownToNobody(hostDir))
            QSKIP("giving a folder to another user needs root");
    } else if (plant == u"index link") {
        QVERIFY(QFile::rename(index, root + u"/index.json"_s) && QFile::link(root + u"/index.json"_s, index));
    } else if (plant == u"index writable") {
        QVERIFY(::chmod(QFile::encodeName(index).constData(), 0620) == 0);
    } else if (plant == u"case writable") {
        QVERIFY(::chmod(QFile::encodeName(caseFolder).constData(), 0770) == 0);
    }

    QStringList arguments;
    if (giveConfig)
        arguments << u"--ssh-config"_s << fleet.sshConfig();
    const CollectRun run = collect(arguments + QStringList{u"--resume"_s, caseFolder});
    QCOMPARE(run.status, status);
    QVERIFY2(run.err.contains(said), qPrintable(run.err));
    QVERIFY2(!run.err.contains(QChar(0x1b)), qPrintable(run.err)); // a planted name reaches no terminal raw
    if (status != 64) {
        const QJsonValue recorded = QJsonDocument::fromJson(readFile(index))[u"case"_s][u"options"_s];
        QCOMPARE(recorded.toVariant().toStringList().mid(0, kept.size()), kept);
    }

    // Nothing planted was followed, run or copied.
    QVERIFY(!QFile::exists(ran));
    QVERIFY(emptyFolder(elsewhere));
    QCOMPARE(readFile(secret), QByteArray("PRIVATE KEY"));
    const QString log = hostDir + u"/collect.log"_s;
    struct stat status_
    {};
    if (::lstat(QFile::encodeName(log).constData(), &status_) == 0 && !S_ISLNK(status_.st_mode)) {
        QCOMPARE(status_.st_mode & 07777, mode_t(0600));
        const QByteArray text = readFile(log);
        QVERIFY2(!text.contains("PRIVATE KEY"), text.constData());
        if (plant == u"log link")
            QVERIFY2(text.contains("The earlier log was left out: ") &&
                         text.contains("it is a symbolic link"),
                     text.constData());
    } else {
        QVERIFY2(plant != u"log link", "the planted link is still there");
    }
}

// What ssh and the servers do that they should not be trusted with: a host key line of a server's
// own before its banner, an ssh that cannot be started for a step, forwarding that the user's
// configuration asks for.
void TestCollect::sshAndServers_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("reason");
    QTest::newRow("a host key line before the server's banner")
        << int(Kind::PreBanner) << QString() << u"collected"_s << QString();
    QTest::newRow("an ssh that cannot start for a step")
        << int(Kind::Healthy) << u"ssh goes"_s << u"unreachable"_s
        << u"cannot start ssh here for the step version"_s;
    QTest::newRow("agent and X11 forwarding in the user's configuration")
        << int(Kind::Recording) << u"forwarding"_s << u"collected"_s << QString();
}

void TestCollect::sshAndServers()
{
    QFETCH(int, kind);
    QFETCH(QString, setup);
    QFETCH(QString, reason);
    SshFleet fleet(QStringLiteral(TS6_PROGRAM));
    const QString host = fleet.add(Kind(kind));
    QVERIFY2(!host.isEmpty(), qPrintable(fleet.error()));
    const QString root = fleet.root();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QString config = fleet.sshConfig();
    QProcess agent;
    if (setup == u"ssh goes") {
        // An ssh that is there for the master connection only: it removes itself as it starts.
        const QString real = QStandardPaths::findExecutable(u"ssh"_s);
        QVERIFY(writeFile(root + u"/bin/ssh"_s,
                          "#!/bin/sh\n/bin/rm -f \"$0\"\nexec '" + QFile::encodeName(real) + "' \"$@\"\n",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        env.insert(u"PATH"_s, root + u"/bin"_s);
    }
    if (setup == u"forwarding") {
        const QString socket = root + u"/agent.sock"_s;
        agent.start(u"ssh-agent"_s, {u"-D"_s, u"-a"_s, socket});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), kPatience);
        env.insert(u"SSH_AUTH_SOCK"_s, socket);
        env.insert(u"DISPLAY"_s, u":0"_s);
        const QByteArray fleetConfig = readFile(config);
        config = root + u"/forwarding_config"_s;
        QVERIFY(writeFile(config, fleetConfig + "Host *\n  ForwardAgent yes\n  ForwardX11 yes\n"));
    }
    const QString caseFolder = root + u"/case"_s;
    collect({u"--ssh-config"_s, config, u"--out"_s, caseFolder, host, u"--"_s, fleet.target()}, env);
    agent.kill();
    agent.waitForFinished(kPatience);
    QTEST(statesIn(caseFolder)[host], "state");
    QVERIFY2(statesIn(caseFolder, u"reason"_s)[host].contains(reason),
             qPrintable(statesIn(caseFolder, u"reason"_s)[host]));
    const QByteArray logged = readFile(folderOf(caseFolder, host) + u"/collect.log"_s);
    if (kind == int(Kind::PreBanner))
        QVERIFY2(statesIn(caseFolder, u"fingerprint"_s)[host] ==
                     u"ssh-ed25519 "_s + fleet.hostKeyFingerprint(0),
                 logged.constData());
    if (setup == u"forwarding") {
        const QByteArray said = readFile(fleet.hostRoot(0) + u"/env.txt"_s);
        QVERIFY2(said.contains("PATH=") && !said.contains("SSH_AUTH_SOCK=") && !said.contains("DISPLAY="),
                 said.constData());
    }
    QCOMPARE(fleet.strayProcesses(), QStringList());
}

QTEST_GUILESS_MAIN(TestCollect)
#include "tst_collect.moc"
