#include "support/TusServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QUrl>

#include <utility>

namespace {

constexpr int kPatience = 60000; // milliseconds a busy machine may need to start Node.js, or to answer
constexpr int kStopPatience = 5000;

const QString kScripts = QStringLiteral(TS6_SOURCE_DIR "/tests/support/tus/");
const QString kModules = QStringLiteral(TS6_TUS_DIR "/node_modules");
const QString kNoNode = QStringLiteral("node is not installed: run bash scripts/install-deps.sh test");

void stop(std::unique_ptr<QProcess>& process)
{
    if (!process)
        return;
    process->terminate();
    if (!process->waitForFinished(kStopPatience)) {
        process->kill();
        process->waitForFinished(kStopPatience);
    }
    process.reset();
}

QString whyNotStarted(QProcess& process)
{
    if (process.state() != QProcess::NotRunning)
        return QStringLiteral("it said nothing within %1 s").arg(kPatience / 1000);
    if (process.error() == QProcess::FailedToStart)
        return process.errorString();
    return QStringLiteral("it ended with status %1: ").arg(process.exitCode()) +
           QString::fromUtf8(process.readAllStandardError().trimmed());
}

QString filesUrl(int port)
{
    return QStringLiteral("http://127.0.0.1:%1/files/").arg(port);
}

} // namespace

TusServer::TusServer(QString token) : m_token(std::move(token)) {}

TusServer::~TusServer()
{
    stop(m_proxy);
    stop(m_server);
}

QString TusServer::storeDir() const
{
    return m_dir.path() + QStringLiteral("/store");
}

bool TusServer::installed(QString* why)
{
    if (QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty()) {
        *why = kNoNode;
        return false;
    }
    if (!QFile::exists(kModules + QStringLiteral("/@tus/server/package.json"))) {
        *why =
            QStringLiteral("the tus server is not installed in %1: run bash scripts/install-tus-server.sh %1 "
                           "(the test tus_server_install does)")
                .arg(QStringLiteral(TS6_TUS_DIR));
        return false;
    }
    return true;
}

bool TusServer::start()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder: ") + m_dir.errorString();
        return false;
    }
    if (!installed(&m_error))
        return false;
    QStringList arguments{QStringLiteral("--dir"), storeDir()};
    if (!m_token.isEmpty()) {
        // From a file, so that the token is nowhere in the process list.
        const QString tokenFile = m_dir.path() + QStringLiteral("/token");
        const QByteArray bytes = m_token.toUtf8();
        QFile file(tokenFile);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            m_error = QStringLiteral("cannot write ") + tokenFile;
            return false;
        }
        arguments << QStringLiteral("--token-file") << tokenFile;
    }
    m_server = std::make_unique<QProcess>();
    m_port = launch(*m_server, QStringLiteral("server.js"), arguments);
    return m_port != 0;
}

QString TusServer::url() const
{
    return filesUrl(m_port);
}

QString TusServer::putUrl(const QString& name) const
{
    return QStringLiteral("http://127.0.0.1:%1/put/%2").arg(m_port).arg(name);
}

bool TusServer::startProxy(const QStringList& faults)
{
    if (m_port == 0 && !start())
        return false;
    stop(m_proxy);
    m_proxyLines.clear();
    m_proxy = std::make_unique<QProcess>();
    m_proxyPort = launch(*m_proxy, QStringLiteral("proxy.js"),
                         QStringList{QStringLiteral("--target"), QString::number(m_port)} + faults);
    return m_proxyPort != 0;
}

QString TusServer::proxyUrl() const
{
    return filesUrl(m_proxyPort);
}

QStringList TusServer::proxyLines(int atLeast)
{
    if (!m_proxy)
        return m_proxyLines;
    const QDeadlineTimer deadline(kPatience);
    // What the proxy wrote may still be in the pipe: a wait of no time takes it in.
    m_proxy->waitForReadyRead(0);
    for (;;) {
        while (m_proxy->canReadLine())
            m_proxyLines << QString::fromUtf8(m_proxy->readLine().trimmed());
        if (m_proxyLines.size() >= atLeast || deadline.hasExpired() ||
            !m_proxy->waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            return m_proxyLines;
    }
}

// Starts `node SCRIPT ARGUMENTS` and waits for its line "listening PORT"; the port, or 0 with the
// reason in m_error.
int TusServer::launch(QProcess& process, const QString& script, const QStringList& arguments)
{
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    if (node.isEmpty()) {
        m_error = kNoNode;
        return 0;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NODE_PATH"), kModules);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(node, QStringList{kScripts + script} + arguments);

    const QDeadlineTimer deadline(kPatience);
    while (!process.canReadLine()) {
        if (deadline.hasExpired() || !process.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            m_error = script + QStringLiteral(" did not start: ") + whyNotStarted(process);
            return 0;
        }
    }
    const QByteArray line = process.readLine().trimmed();
    bool number = false;
    const int port = line.startsWith("listening ") ? line.mid(10).toInt(&number) : 0;
    if (!number || port <= 0) {
        m_error =
            script +
            QStringLiteral(" said \"%1\" instead of the port it listens on").arg(QString::fromUtf8(line));
        return 0;
    }
    return port;
}

// The file of the upload named by the last part of uploadUrl's path; empty for a name that is no
// upload ID.
QString TusServer::storedFile(const QString& uploadUrl) const
{
    const QString id = QUrl(uploadUrl).path().section(QLatin1Char('/'), -1);
    if (id.isEmpty() || id.startsWith(QLatin1Char('.')))
        return {};
    return storeDir() + QLatin1Char('/') + id;
}

QByteArray TusServer::storedBytes(const QString& uploadUrl) const
{
    const QString path = storedFile(uploadUrl);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QJsonObject TusServer::storedMetadata(const QString& uploadUrl) const
{
    const QString path = storedFile(uploadUrl);
    QFile file(path + QStringLiteral(".json"));
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("metadata")).toObject();
}

QStringList TusServer::uploadIds() const
{
    QStringList ids;
    for (const QString& name :
         QDir(storeDir()).entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name))
        ids << name.chopped(5);
    return ids;
}
