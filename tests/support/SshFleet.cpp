#include "support/SshFleet.h"

#include "support/TestEnvironment.h"
#include "support/TestTools.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QTest>

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

namespace {

constexpr int kPatience = 60000; // milliseconds a busy machine may need to start a server

QByteArray userName()
{
    const passwd* entry = ::getpwuid(::getuid());
    return entry ? QByteArray(entry->pw_name) : qgetenv("USER");
}

constexpr QFile::Permissions kExecutable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

// Stand-ins for the remote ts6satchel that does something wrong; $0's folder is the host's bin.
QByteArray fakeTool(SshFleet::Kind kind, const QString& program)
{
    using Kind = SshFleet::Kind;
    const QByteArray real = QFile::encodeName(program);
    // The real tool answers --version; the build is the stand-in's own.
    const QByteArray build = "#!/bin/sh\n[ \"$1\" = --version ] && exec '" + real + "' --version\n";
    switch (kind) {
    case Kind::ToolTooOld:
        return "#!/bin/sh\necho 'ts6satchel 0.1.0'\n";
    case Kind::Garbage:
        return "#!/bin/sh\necho 'Segmentation fault (core dumped)'\n";
    case Kind::Truncated:
        return build +
               "for last; do :; done\nprintf 'PK-half' > \"$last\"\n"
               "printf "
               "'{\"package\":\"%s\",\"bytes\":1000,\"sha256\":\"%064d\",\"status\":0,\"reason\":null}\\n' "
               "\"$last\" 0\n";
    case Kind::Endless:
        return build +
               "for last; do :; done\nln -s /dev/zero \"$last\"\n"
               "printf '{\"package\":\"%s\",\"bytes\":1000,\"sha256\":\"0\",\"status\":0}\\n' \"$last\"\n";
    case Kind::Elsewhere:
        return build + "victim=$(dirname \"$0\")/../victim\nprintf 'TS6DIR 1 %s\\n' \"$victim\"\n"
                       "printf '{\"package\":\"%s/file\",\"bytes\":1,\"sha256\":\"0\",\"status\":0}\\n' "
                       "\"$victim\"\n";
    case Kind::Recording:
        return "#!/bin/sh\nenv > \"$(dirname \"$0\")/../env.txt\"\nexec '" + real + "' \"$@\"\n";
    case Kind::Hanging:
        return build + "here=$(dirname \"$0\")\nsleep 300 & echo $! > \"$here/../sleeper.pid\"\n"
                       "touch \"$here/../started\"\nwait\n";
    default:
        return {};
    }
}

} // namespace

SshFleet::SshFleet(const QString& program) : m_program(program)
{
    m_unavailable = missingTestPrograms(
        {QStringLiteral("ssh"), QStringLiteral("ssh-keygen"), QStringLiteral("/usr/sbin/sshd")});
    if (m_unavailable.isEmpty())
        m_nssWrapper = nssWrapperLibrary(&m_unavailable);
    m_error = m_unavailable;
    if (!m_unavailable.isEmpty())
        return;
    QDir(m_dir.path()).mkpath(QStringLiteral("run"));
    if (!keygen(m_dir.path() + QStringLiteral("/client_key")))
        return;
    const QByteArray dir = QFile::encodeName(m_dir.path());
    writeFile(sshConfig(), "Host *\n  User " + userName() + "\n  IdentityFile " + dir +
                               "/client_key\n  IdentitiesOnly yes\n  UserKnownHostsFile " + dir +
                               "/known_hosts\n  GlobalKnownHostsFile /dev/null\n  LogLevel ERROR\n");
    writeFile(m_dir.path() + QStringLiteral("/known_hosts"), {});
    writeUserDatabase();
    // Privilege separation wants its empty folder when sshd starts as root.
    if (::getuid() == 0)
        QDir().mkpath(QStringLiteral("/run/sshd"));
}

SshFleet::~SshFleet()
{
    for (const auto& server : m_servers) {
        server->terminate();
        server->waitForFinished(5000);
    }
    for (int n = 0; n < m_hosts; ++n) {
        QFile pid(hostRoot(n) + QStringLiteral("/sleeper.pid"));
        if (pid.open(QIODevice::ReadOnly))
            ::kill(pid.readAll().trimmed().toInt(), SIGKILL);
    }
}

// The servers see the user database through nss_wrapper: the same, but for the user's own entry,
// whose home is in the fleet's folder and whose shell is /bin/sh, so no dotfile of the machine's
// runs in a session.
void SshFleet::writeUserDatabase() const
{
    QFile passwd(QStringLiteral("/etc/passwd"));
    passwd.open(QIODevice::ReadOnly);
    QByteArray ours;
    const QByteArray uid = QByteArray::number(::getuid());
    for (const QByteArray& line : passwd.readAll().split('\n')) {
        QList<QByteArray> fields = line.split(':');
        if (fields.size() == 7 && fields[2] == uid) {
            fields[5] = QFile::encodeName(m_dir.path() + QStringLiteral("/home"));
            fields[6] = "/bin/sh";
        }
        if (!line.isEmpty())
            ours += fields.join(':') + '\n';
    }
    QDir().mkpath(m_dir.path() + QStringLiteral("/home"));
    writeFile(m_dir.path() + QStringLiteral("/passwd"), ours);
    QFile group(QStringLiteral("/etc/group"));
    group.open(QIODevice::ReadOnly);
    writeFile(m_dir.path() + QStringLiteral("/group"), group.readAll());
}

bool SshFleet::keygen(const QString& path)
{
    QProcess keygen;
    keygen.start(QStringLiteral("ssh-keygen"),
                 {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"), QStringLiteral("-N"),
                  QString(), QStringLiteral("-f"), path});
    if (!keygen.waitForFinished(kPatience) || keygen.exitCode() != 0) {
        m_error = QStringLiteral("ssh-keygen: ") + QString::fromUtf8(keygen.readAllStandardError()) +
                  keygen.errorString();
        return false;
    }
    return true;
}

int SshFleet::freePort(const QString& address)
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress(address), 0))
        return 0;
    return probe.serverPort();
}

QString SshFleet::target() const
{
    return QStringLiteral("C:\\Apps\\Orders\\");
}

QString SshFleet::hostRoot(int n) const
{
    return m_dir.path() + QStringLiteral("/h") + QString::number(n);
}

void SshFleet::authorize(int n) const
{
    QFile::remove(hostRoot(n) + QStringLiteral("/authorized_keys"));
    QFile::copy(m_dir.path() + QStringLiteral("/client_key.pub"),
                hostRoot(n) + QStringLiteral("/authorized_keys"));
}

QString SshFleet::add(Kind kind)
{
    if (!m_unavailable.isEmpty()) {
        m_error = m_unavailable;
        return {};
    }
    const int n = m_hosts++;
    const QString address = QStringLiteral("127.0.0.%1").arg(n + 2);
    const int port = freePort(address);
    if (port == 0) {
        m_error = QStringLiteral("no free port on ") + address;
        return {};
    }
    const QString name = QStringLiteral("%1:%2").arg(address).arg(port);
    const QString root = hostRoot(n);
    QDir().mkpath(root + QStringLiteral("/bin"));
    QDir().mkpath(root + QStringLiteral("/tmp"));
    QDir().mkpath(root + QStringLiteral("/victim"));
    if (kind == Kind::Refused)
        return name;
    if (kind == Kind::Silent) {
        auto server = std::make_unique<QTcpServer>();
        server->listen(QHostAddress(address), static_cast<quint16>(port));
        m_silent.push_back(std::move(server));
        return name;
    }
    // The sample installation, as the README's first command packs it.
    const QString sample = QStringLiteral(TS6_SOURCE_DIR "/examples/drive-c");
    QProcess copy;
    copy.start(QStringLiteral("cp"), {QStringLiteral("-r"), sample, root + QStringLiteral("/drive-c")});
    copy.waitForFinished(kPatience);
    const QString tool = root + QStringLiteral("/bin/ts6satchel");
    if (kind == Kind::Healthy || kind == Kind::KeyUnknown || kind == Kind::KeyChanged ||
        kind == Kind::AuthRefused || kind == Kind::PreBanner)
        QFile::link(m_program, tool);
    else if (kind != Kind::ToolMissing)
        writeFile(tool, fakeTool(kind, m_program), kExecutable);
    if (!keygen(root + QStringLiteral("/host_key")) || !startServer(n, address, port))
        return {};
    if (kind == Kind::PreBanner)
        reachThroughPreBanner(n, address);
    if (kind != Kind::AuthRefused)
        authorize(n);
    QFile pub(root + QStringLiteral("/host_key.pub"));
    pub.open(QIODevice::ReadOnly);
    QByteArray key = pub.readAll().split(' ').mid(0, 2).join(' ');
    if (kind == Kind::KeyChanged) {
        keygen(root + QStringLiteral("/other_key"));
        QFile other(root + QStringLiteral("/other_key.pub"));
        other.open(QIODevice::ReadOnly);
        key = other.readAll().split(' ').mid(0, 2).join(' ');
    }
    if (kind != Kind::KeyUnknown) {
        QFile known(m_dir.path() + QStringLiteral("/known_hosts"));
        known.open(QIODevice::Append);
        known.write("[" + address.toLatin1() + "]:" + QByteArray::number(port) + ' ' + key + '\n');
    }
    return name;
}

bool SshFleet::startServer(int n, const QString& address, int port)
{
    const QString root = hostRoot(n);
    QByteArray setEnv = "SetEnv";
    for (const auto& [name, value] : hostEnvironment(n))
        setEnv += ' ' + name.toUtf8() + '=' + QFile::encodeName(value);
    const QByteArray config =
        "ListenAddress " + address.toLatin1() + ':' + QByteArray::number(port) + "\nHostKey " +
        QFile::encodeName(root) + "/host_key\nAuthorizedKeysFile " + QFile::encodeName(root) +
        "/authorized_keys\n"
        "PidFile none\nStrictModes no\nUsePAM no\nPermitRootLogin yes\nPasswordAuthentication no\n"
        "KbdInteractiveAuthentication no\nLogLevel INFO\n" +
        setEnv + '\n';
    const QString file = root + QStringLiteral("/sshd_config");
    writeFile(file, config);
    auto server = std::make_unique<QProcess>();
    server->setProcessChannelMode(QProcess::SeparateChannels);
    server->setProcessEnvironment(serverEnvironment());
    server->start(QStringLiteral("/usr/sbin/sshd"),
                  {QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), file});
    // Ready once it says it listens.
    QByteArray said;
    const bool listening = QTest::qWaitFor(
        [&] {
            said += server->readAllStandardError();
            return said.contains("Server listening on") || server->state() == QProcess::NotRunning;
        },
        kPatience);
    if (!listening || !said.contains("Server listening on")) {
        m_error = QStringLiteral("sshd on %1 did not start: %2").arg(address, QString::fromUtf8(said));
        return false;
    }
    m_servers.push_back(std::move(server));
    return true;
}

QProcessEnvironment SshFleet::serverEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), m_nssWrapper);
    env.insert(QStringLiteral("NSS_WRAPPER_PASSWD"), m_dir.path() + QStringLiteral("/passwd"));
    env.insert(QStringLiteral("NSS_WRAPPER_GROUP"), m_dir.path() + QStringLiteral("/group"));
    return env;
}

// Host n is reached through a command that sends a line of its own before the server's: sshd run
// on the connection itself (-i), as the client's ProxyCommand.
void SshFleet::reachThroughPreBanner(int n, const QString& address) const
{
    const QString root = hostRoot(n);
    QByteArray script = "#!/bin/sh\nprintf 'Server host key: ssh-ed25519 "
                        "SHA256:forgedforgedforgedforgedforgedforgedforged1\\r\\n'\nexec env";
    const QProcessEnvironment env = serverEnvironment();
    for (const char* name : {"LD_PRELOAD", "NSS_WRAPPER_PASSWD", "NSS_WRAPPER_GROUP"})
        script += " " + QByteArray(name) + "='" + QFile::encodeName(env.value(QLatin1String(name))) + "'";
    script += " /usr/sbin/sshd -i -f '" + QFile::encodeName(root) + "/sshd_config'\n";
    writeFile(root + QStringLiteral("/prebanner.sh"), script, kExecutable);
    QFile config(sshConfig());
    config.open(QIODevice::Append);
    config.write("Host " + address.toLatin1() + "\n  ProxyCommand /bin/sh '" + QFile::encodeName(root) +
                 "/prebanner.sh'\n");
}

QString SshFleet::hostKeyFingerprint(int n) const
{
    QProcess keygen;
    keygen.start(QStringLiteral("ssh-keygen"),
                 {QStringLiteral("-l"), QStringLiteral("-f"), hostRoot(n) + QStringLiteral("/host_key.pub")});
    keygen.waitForFinished(kPatience);
    return QString::fromUtf8(keygen.readAllStandardOutput()).section(QLatin1Char(' '), 1, 1);
}

std::vector<std::pair<QString, QString>> SshFleet::hostEnvironment(int n) const
{
    const QString root = hostRoot(n);
    const QString c = root + QStringLiteral("/drive-c");
    return {{QStringLiteral("PATH"), root + QStringLiteral("/bin:/usr/bin:/bin")},
            {QStringLiteral("TMPDIR"), root + QStringLiteral("/tmp")},
            {QStringLiteral("TS6_DRIVES"), QStringLiteral("C=") + c},
            {QStringLiteral("TS6_PROGRAMDATA"), c + QStringLiteral("/ProgramData")},
            {QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config")},
            {QStringLiteral("XDG_STATE_HOME"), root + QStringLiteral("/state")},
            {QStringLiteral("COMPUTERNAME"), QStringLiteral("SRV%1").arg(n)},
            {QStringLiteral("USERNAME"), QStringLiteral("ann")}};
}

QStringList SshFleet::strayProcesses() const
{
    QStringList stray;
    const QByteArray mark = QFile::encodeName(m_dir.path());
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile cmdline(QStringLiteral("/proc/") + pid + QStringLiteral("/cmdline"));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = cmdline.readAll().replace('\0', ' ');
        const QByteArray program = line.left(line.indexOf(' '));
        if ((program == "ssh" || program.endsWith("/ssh")) && line.contains(mark))
            stray << pid + QLatin1Char(' ') + QString::fromLocal8Bit(line);
    }
    return stray;
}
