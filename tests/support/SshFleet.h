#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>

#include <memory>
#include <vector>

// Servers on loopback addresses (127.0.0.2, 127.0.0.3...) for collect runs: each a real sshd with
// its own host key, port, installation tree (a copy of the sample) and PATH, started by the test and
// stopped with the fleet. The client side has its own key, configuration and known_hosts: give
// collect --ssh-config sshConfig().
class SshFleet
{
public:
    // What a host does wrong, if anything.
    enum class Kind
    {
        Healthy,     // the built ts6satchel on the PATH
        ToolMissing, // no ts6satchel on the PATH
        ToolTooOld,  // a ts6satchel that says 0.1.0
        Garbage,     // a ts6satchel whose --version says nothing a version is read from
        Truncated,   // a build whose package arrives shorter than its summary says
        Endless,     // a build whose package never ends
        Elsewhere,   // a build that names a folder and a package of the server's own (a "victim" folder)
        Hanging,     // a build that never ends (it writes "started" in its folder first)
        KeyUnknown,  // its host key not in known_hosts
        KeyChanged,  // another key in known_hosts under its name
        AuthRefused, // our key not among its authorized keys
        Refused,     // nothing listens on its port
        Silent,      // a listener that never says a word
        PreBanner,   // reached through a line before its banner: "Server host key: " and a forged key
        Recording,   // the built ts6satchel, which first writes the session's environment to env.txt
    };

    explicit SshFleet(const QString& program);
    ~SshFleet();
    SshFleet(const SshFleet&) = delete;
    SshFleet& operator=(const SshFleet&) = delete;

    // Starts a host; its name for collect: "127.0.0.N:PORT". Empty with the reason in error(), also
    // when OpenSSH or libnss-wrapper is not installed.
    QString add(Kind kind);
    QString error() const { return m_error; }
    QString sshConfig() const { return m_dir.path() + QStringLiteral("/ssh_config"); }
    QString root() const { return m_dir.path(); }
    // The folder of the sample application on every host, the same path on each.
    QString target() const;
    // Host n's own folder (0-based, in the order added).
    QString hostRoot(int n) const;
    // Lets the client's key in on host n.
    void authorize(int n) const;
    // The fingerprint of host n's key as ssh shows it: "SHA256:...".
    QString hostKeyFingerprint(int n) const;
    // The ssh and sshd processes that mention the fleet's folder and are not the servers themselves.
    QStringList strayProcesses() const;
    // The environment of host n's sessions: its PATH, temporary folder and installation.
    std::vector<std::pair<QString, QString>> hostEnvironment(int n) const;

private:
    void writeUserDatabase() const;
    bool keygen(const QString& path);
    int freePort(const QString& address);
    bool startServer(int n, const QString& address, int port);
    void reachThroughPreBanner(int n, const QString& address) const;
    QProcessEnvironment serverEnvironment() const;

    QTemporaryDir m_dir;
    const QString m_program;
    QString m_error;
    QString m_unavailable; // why no host can be added: what is not installed
    QString m_nssWrapper;
    std::vector<std::unique_ptr<QProcess>> m_servers;
    std::vector<std::unique_ptr<QTcpServer>> m_silent;
    int m_hosts = 0;
};
