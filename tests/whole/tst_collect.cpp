#include "support/SshFleet.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <signal.h>

using namespace Qt::StringLiterals;
using Kind = SshFleet::Kind;

namespace {

constexpr int kPatience = 180000; // milliseconds: what a busy machine may need for a whole run

struct CollectRun
{
    int status = -1;
    QString err;
};

std::unique_ptr<QProcess> startCollect(const QStringList& arguments)
{
    auto process = std::make_unique<QProcess>();
    process->start(QStringLiteral(TS6_PROGRAM), QStringList{u"collect"_s} + arguments);
    return process;
}

CollectRun collect(const QStringList& arguments)
{
    const auto process = startCollect(arguments);
    process->waitForFinished(kPatience);
    return {process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1,
            QString::fromUtf8(process->readAllStandardError())};
}

// One field of each host in the case folder's index: its state unless named otherwise.
std::map<QString, QString> statesIn(const QString& caseFolder, const QString& field = u"state"_s)
{
    QFile file(caseFolder + u"/index.json"_s);
    file.open(QIODevice::ReadOnly);
    std::map<QString, QString> values;
    for (const QJsonValue host : QJsonDocument::fromJson(file.readAll()).object().value(u"hosts"_s).toArray())
        values[host[u"host"_s].toString()] = host[field].toString();
    return values;
}

// A program run in a folder, as a person would check the result: its status and what it said.
std::pair<int, QString> tool(const QString& folder, const QString& program, const QStringList& args)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.waitForFinished(kPatience);
    return {p.exitCode(), QString::fromUtf8(p.readAll())};
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
    void anInterruptedRunLeavesNothingRunning();
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
    QFile hosts(fleet.root() + u"/hosts.txt"_s);
    QVERIFY(hosts.open(QIODevice::WriteOnly));
    hosts.write(hostsFile);
    hosts.close();

    const QString caseFolder = fleet.root() + u"/case"_s;
    const QStringList common{
        u"--ssh-config"_s, fleet.sshConfig(), u"--connect-timeout"_s, u"3"_s, u"--jobs"_s, u"16"_s};
    CollectRun run = collect(common + QStringList{u"--out"_s, caseFolder, u"--hosts-file"_s, hosts.fileName(),
                                                  u"--"_s, fleet.target()});
    QCOMPARE(run.status, 3);
    QCOMPARE(statesIn(caseFolder), expected);
    QVERIFY2(run.err.contains(u"1 of 13 hosts collected"_s), qPrintable(run.err));

    // What arrived is whole, by tools of their own; nothing stays on the hosts or runs here.
    const auto [sums, said] = tool(caseFolder, u"sha256sum"_s, {u"-c"_s, u"SHA256SUMS"_s});
    QVERIFY2(sums == 0 && said.count(u": OK"_s) == 1, qPrintable(said));
    const QString healthy = caseFolder + u"/hosts/"_s + QString(names[0]).replace(u':', u'_');
    QCOMPARE(tool(healthy, u"unzip"_s, {u"-tq"_s, u"package.zip"_s}).first, 0);
    QVERIFY(!QFile::exists(caseFolder + u"/hosts/"_s + QString(names[4]).replace(u':', u'_') +
                           u"/package.zip"_s));
    for (int n = 0; n < static_cast<int>(kinds.size()); ++n) {
        QVERIFY2(emptyFolder(fleet.hostRoot(n) + u"/tmp"_s), qPrintable(names[n]));
        QVERIFY2(QFileInfo::exists(fleet.hostRoot(n) + u"/victim"_s), qPrintable(names[n])); // never removed
        QVERIFY(
            QFileInfo(caseFolder + u"/hosts/"_s + QString(names[n]).replace(u':', u'_') + u"/collect.log"_s)
                .size() > 0);
    }
    QCOMPARE(fleet.strayProcesses(), QStringList());

    // Mended, the refused login is collected on resume; what was collected stays as it was.
    const QString before = statesIn(caseFolder, u"sha256"_s)[names[0]];
    fleet.authorize(7);
    run = collect({u"--resume"_s, caseFolder});
    QCOMPARE(run.status, 3);
    expected[names[7]] = u"collected"_s;
    QCOMPARE(statesIn(caseFolder), expected);
    QCOMPARE(statesIn(caseFolder, u"sha256"_s)[names[0]], before);
    QCOMPARE(collect({u"--resume"_s, fleet.root()}).status, 64); // no case there

    // A new key is taken when asked; a changed one never.
    const QString second = fleet.root() + u"/case2"_s;
    run = collect(common + QStringList{u"--accept-new-host-keys"_s, u"--out"_s, second, names[5], names[6],
                                       u"--"_s, fleet.target()});
    QCOMPARE(run.status, 3);
    QCOMPARE(statesIn(second),
             (std::map<QString, QString>{{names[5], u"collected"_s}, {names[6], u"host-key-changed"_s}}));
    QCOMPARE(collect(common + QStringList{u"--out"_s, second, names[0], u"--"_s, fleet.target()}).status, 64);
}

// SIGINT while one host builds and another is done: the first is marked interrupted and its remote
// folder removed, the second kept, and no ssh process or control socket is left.
void TestCollect::anInterruptedRunLeavesNothingRunning()
{
    SshFleet fleet(QStringLiteral(TS6_PROGRAM));
    const QString done = fleet.add(Kind::Healthy);
    const QString hanging = fleet.add(Kind::Hanging);
    QVERIFY2(!hanging.isEmpty(), qPrintable(fleet.error()));
    const QString caseFolder = fleet.root() + u"/case"_s;
    QTemporaryDir temp;
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"TMPDIR"_s, temp.path()); // where the control sockets go
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(TS6_PROGRAM),
                   {u"collect"_s, u"--ssh-config"_s, fleet.sshConfig(), u"--out"_s, caseFolder, done, hanging,
                    u"--"_s, fleet.target()});
    const QString package = caseFolder + u"/hosts/"_s + QString(done).replace(u':', u'_') + u"/package.zip"_s;
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fleet.hostRoot(1) + u"/started"_s) && QFile::exists(package),
                             kPatience);
    ::kill(static_cast<pid_t>(process->processId()), SIGINT);
    QVERIFY(process->waitForFinished(kPatience));
    QCOMPARE(process->exitCode(), 3);
    QCOMPARE(statesIn(caseFolder),
             (std::map<QString, QString>{{done, u"collected"_s}, {hanging, u"interrupted"_s}}));
    QCOMPARE(fleet.strayProcesses(), QStringList());
    QVERIFY(emptyFolder(temp.path()));
    QVERIFY(emptyFolder(fleet.hostRoot(1) + u"/tmp"_s)); // the interrupted build's folder is removed
}

QTEST_GUILESS_MAIN(TestCollect)
#include "tst_collect.moc"
