#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// What a run of the program wrote and how it ended (-1 when it did not end normally).
struct ProgramRun
{
    int status = -1;
    QString out;
    QString err;
};

// A world for runs of the built program: a temporary root that is drive C ("c", the common
// application data in "c/ProgramData"), with the settings, state, runtime and temporary folders
// of the program inside the root ("config", "state", "runtime", "tmp"), and no display.
class ProgramWorld
{
public:
    ProgramWorld();
    ~ProgramWorld();
    ProgramWorld(const ProgramWorld&) = delete;
    ProgramWorld& operator=(const ProgramWorld&) = delete;

    QString path(const QString& relative) const;
    void write(const QString& relative, const QByteArray& content) const;

    // Starts the program in a folder below the root, with more environment settings ("NAME=value")
    // after the world's own and those in environment. "\xNN" in an argument passes that byte as it
    // is, UTF-8 or not. As nobody (uid 65534), the run has its own trace, settings and home.
    std::unique_ptr<QProcess> start(const QStringList& arguments, const QStringList& more = {},
                                    const QString& folder = {}, bool asNobody = false) const;
    ProgramRun run(const QStringList& arguments, const QStringList& more = {},
                   const QString& folder = {}) const;
    // The entries of the trace in a folder below the root, without times, trace ids and loggers.
    QStringList trace(const QString& folder) const;
    bool isEmpty(const QString& folder) const;

    QStringList environment; // settings for every run

private:
    QTemporaryDir m_dir;
};

void SetMode(const QString& path, unsigned mode);
