#include "support/ProgramWorld.h"

#include "support/Installation.h"
#include "support/TestTools.h"

#include <QDir>

#include <sys/stat.h>
#include <unistd.h>

void setMode(const QString& path, unsigned mode)
{
    ::chmod(QFile::encodeName(path).constData(), mode);
}

ProgramWorld::ProgramWorld()
{
    for (const char* folder : {"c/Out", "c/ProgramData/Norvale/TS6/logs", "tmp", "runtime"})
        QDir().mkpath(path(folder));
    setMode(path("runtime"), 0700);
}

ProgramWorld::~ProgramWorld()
{
    // Folders a test locked are opened again, for the removal.
    QProcess::execute("chmod", {"-R", "u+rwx", root()});
}

void ProgramWorld::writeTemplate(const QString& relative, const QList<TemplateField>& fields) const
{
    TemplateSpec content;
    content.title = QFileInfo(relative).baseName();
    content.fields = fields;
    write(relative, templateToml(content));
    write(QString(relative).replace(".TST", ".TSD"), content.title.toUtf8());
}

QStringList ProgramWorld::entries(const QString& folder) const
{
    return QDir(path(folder))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// The program with its arguments, run through python3 when an argument holds bytes given as
// "\xNN", and under root through setpriv, without the right to pass by a file's mode.
QStringList ProgramWorld::commandLine(const QStringList& arguments, bool asNobody)
{
    QStringList command = QStringList{TS6_PROGRAM} + arguments;
    if (command.join(' ').contains("\\x"))
        command = QStringList{"python3", "-c", // turns "\xNN" into the byte
                              "import os,sys\na=[x.encode().decode('unicode_escape').encode('latin-1') "
                              "for x in sys.argv[1:]]\nos.execv(a[0],a)"} +
                  command;
    if (::geteuid() == 0)
        command =
            QStringList{"setpriv", "--bounding-set=-dac_override,-dac_read_search"} +
            (asNobody ? QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"} : QStringList()) +
            command;
    return command;
}

// The programs of the test group that run the program.
QStringList ProgramWorld::runners(const QStringList& command)
{
    QStringList used;
    for (const char* program : {"setpriv", "python3"})
        if (command.contains(program))
            used.append(program);
    return used;
}

std::unique_ptr<QProcess> ProgramWorld::start(const QStringList& arguments, const QStringList& more,
                                              const QString& folder, bool asNobody) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    // The test environment's own settings (drive C, the settings, state, temporary and trace
    // folders) are in the program's too; the world adds its application data and runtime folder.
    QStringList settings{"TS6_PROGRAMDATA=" + path("c/ProgramData"), "XDG_RUNTIME_DIR=" + path("runtime")};
    settings += environment + more;
    if (asNobody) {
        QProcess::execute(
            "install", {"-d", "-m", "777", path("nobody/trace"), path("nobody/config"), path("nobody/home")});
        settings << "TS6_LOG_DIR=" + path("nobody/trace") << "XDG_CONFIG_HOME=" + path("nobody/config")
                 << "HOME=" + path("nobody/home") << "XDG_RUNTIME_DIR=";
    }
    for (const QString& setting : std::as_const(settings))
        env.insert(setting.section('=', 0, 0), setting.section('=', 1));

    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(env);
    p->setWorkingDirectory(path(folder));
    p->setReadChannel(QProcess::StandardError);
    if (inProgram)
        p->setChildProcessModifier(inProgram);
    QStringList command = commandLine(arguments, asNobody);
    if (const QString missing = missingTestPrograms(runners(command)); !missing.isEmpty())
        qWarning("%s", qPrintable(missing));
    p->start(command.takeFirst(), command);
    p->waitForStarted();
    return p;
}

ProgramRun ProgramWorld::run(const QStringList& arguments, const QStringList& more,
                             const QString& folder) const
{
    if (const QString missing = missingTestPrograms(runners(commandLine(arguments, false)));
        !missing.isEmpty())
        return {-1, {}, missing};
    const std::unique_ptr<QProcess> p = start(arguments, more, folder);
    p->waitForFinished(600000);
    return {p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1,
            QString::fromUtf8(p->readAllStandardOutput()), QString::fromUtf8(p->readAllStandardError())};
}
