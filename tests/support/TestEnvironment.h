#pragma once

#include "outside/ComponentMakers.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <map>
#include <optional>

// Writes a file whole, making its folders; with permissions, gives it exactly those. False when
// it could not be written.
bool writeFile(const QString& path, const QByteArray& bytes, QFile::Permissions permissions = {});

// A file's bytes; empty when it cannot be read.
QByteArray readFile(const QString& path);

// Bytes that do not compress, the same for the same size and seed.
QByteArray noise(qsizetype bytes, quint32 seed = 0);

// The SHA-256 of the bytes in hex, as sha256sum writes it.
QByteArray sha256Hex(const QByteArray& bytes);

// Sets an environment variable for the life of the guard, then restores the old value.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const QString& value);
    ~ScopedEnv();
    Q_DISABLE_COPY_MOVE(ScopedEnv)

private:
    QByteArray m_name;
    std::optional<QByteArray> m_old;
};

// A private world for one test: a temporary folder that is drive C, with the settings, the
// trace, the common application data and the temporary folder of the program all inside it.
// The program's core components are registered, the trace starts afresh on the registered log sink,
// and components() makes them for the parts a test builds.
class TestEnvironment
{
public:
    TestEnvironment();
    ~TestEnvironment();

    const ComponentMakers& components() const { return m_components; }
    QString root() const { return m_dir.path(); }
    QString driveC() const { return m_dir.path() + QStringLiteral("/c"); }
    QString logDir() const { return m_dir.path() + QStringLiteral("/trace"); }
    QString programData() const { return m_dir.path() + QStringLiteral("/programdata"); }
    QString configHome() const { return m_dir.path() + QStringLiteral("/config"); }
    QString path(const QString& relativePath) const { return m_dir.path() + QLatin1Char('/') + relativePath; }

    // Writes a file below the root (folders made as needed) and returns its host path.
    QString write(const QString& relativePath, const QByteArray& content = QByteArray("x")) const;
    QString makeFolder(const QString& relativePath) const;

private:
    QTemporaryDir m_dir;
    std::map<QByteArray, std::unique_ptr<ScopedEnv>> m_env;
    ComponentMakers m_components;
    Maker<ILogSink> m_previousSinks;
};
