#pragma once

#include "outside/ITemplateReader.h"
#include "support/TestEnvironment.h"

#include <QProcess>
#include <QStringList>

#include <functional>
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
// and the trace of the program inside the root ("config", "state", "runtime", "tmp", "trace"),
// and no display. Under root the program runs without the right to pass by a file's mode, as a
// user's run would.
class ProgramWorld : public TestEnvironment
{
public:
    ProgramWorld();
    ~ProgramWorld();

    // A template at the relative path, titled by its base name, and its data file (".TSD6" beside
    // ".TST6", ".TSD" beside ".TST") holding the title.
    void writeTemplate(const QString& relative, const QList<TemplateField>& fields = {}) const;
    // The names in a folder below the root, hidden ones too.
    QStringList entries(const QString& folder) const;

    // Starts the program in a folder below the root, with more environment settings ("NAME=value")
    // after the world's own and those in environment. "\xNN" in an argument passes that byte as it
    // is, UTF-8 or not. As nobody (uid 65534), the run has its own trace, settings and home.
    std::unique_ptr<QProcess> start(const QStringList& arguments, const QStringList& more = {},
                                    const QString& folder = {}, bool asNobody = false) const;
    ProgramRun run(const QStringList& arguments, const QStringList& more = {},
                   const QString& folder = {}) const;

    QStringList environment;         // settings for every run
    std::function<void()> inProgram; // runs in the program's process just before it starts

private:
    static QStringList commandLine(const QStringList& arguments, bool asNobody);
    static QStringList runners(const QStringList& command);
};

void setMode(const QString& path, unsigned mode);
