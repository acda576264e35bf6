#include "support/TestEnvironment.h"

#include "components/Registration.h"
#include "diag/Debug.h"
#include "outside/Registry.h"
#include "platform/DirectoryCache.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cstdio>
#include <ftw.h>

QByteArray noise(qsizetype bytes, quint32 seed)
{
    QByteArray out(bytes, '\0');
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(out.data()), bytes / 4);
    return out;
}

QByteArray sha256Hex(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

ScopedEnv::ScopedEnv(const char* name, const QString& value) : m_name(name)
{
    if (qEnvironmentVariableIsSet(name))
        m_old = qgetenv(name);
    qputenv(name, value.toUtf8());
}

ScopedEnv::~ScopedEnv()
{
    if (m_old)
        qputenv(m_name.constData(), *m_old);
    else
        qunsetenv(m_name.constData());
}

TestEnvironment::TestEnvironment()
{
    QDir().mkpath(driveC());
    QDir().mkpath(path(QStringLiteral("tmp")));
    const auto set = [this](const char* name, const QString& value) {
        m_env[name] = std::make_unique<ScopedEnv>(name, value);
    };
    set("TS6_DRIVES", QStringLiteral("C=") + driveC());
    set("TS6_LOG_DIR", logDir());
    set("TS6_PROGRAMDATA", programData());
    set("TMPDIR", path(QStringLiteral("tmp")));
    set("XDG_CONFIG_HOME", configHome());
    set("XDG_STATE_HOME", m_dir.path() + QStringLiteral("/state"));
    for (const char* name : {"TS6_INSTALL_PATH", "TS6_DATA_PATH", "TS6_SHARED_PATH"})
        set(name, QString());
    registerCoreComponents();
    m_components = Registry::makers();
    m_previousSinks = Debug::useLogSinks(m_components.logSink);
    DirectoryCache::clear();
}

TestEnvironment::~TestEnvironment()
{
    Debug::useLogSinks(std::move(m_previousSinks));
    DirectoryCache::clear();
    // Removed by bytes: Qt's own removal leaves out names that are not UTF-8.
    nftw(
        QFile::encodeName(m_dir.path()).constData(),
        [](const char* path, const struct stat*, int, FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

QString TestEnvironment::write(const QString& relativePath, const QByteArray& content) const
{
    QFile file(path(relativePath));
    QDir().mkpath(QFileInfo(file).absolutePath());
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

QString TestEnvironment::makeFolder(const QString& relativePath) const
{
    QDir().mkpath(path(relativePath));
    return path(relativePath);
}

bool writeFile(const QString& path, const QByteArray& bytes, QFile::Permissions permissions)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return permissions == QFile::Permissions{} || file.setPermissions(permissions);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
