#include "support/ProgramWorld.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <sys/stat.h>

namespace {

const QString kProgram = QStringLiteral(TS6_PROGRAM);

// Runs the program through Python, which turns "\xNN" in the arguments into bytes.
const QString kBytePasser = QStringLiteral("import os,sys\n"
                                           "a=[x.encode().decode('unicode_escape').encode('latin-1') "
                                           "for x in sys.argv[1:]]\n"
                                           "os.execv(a[0],a)");

} // namespace

void SetMode(const QString& path, unsigned mode)
{
    ::chmod(QFile::encodeName(path).constData(), mode);
}

ProgramWorld::ProgramWorld()
{
    for (const char* folder : {"c/Out", "c/ProgramData/Norvale/TS6/logs", "tmp", "runtime"})
        QDir().mkpath(path(QLatin1String(folder)));
    SetMode(path(QStringLiteral("runtime")), 0700);
}

ProgramWorld::~ProgramWorld()
{
    // Folders nested deeper than a path may be long are removed by rm, not by QTemporaryDir.
    QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), m_dir.path()});
}

QString ProgramWorld::path(const QString& relative) const
{
    return m_dir.path() + QLatin1Char('/') + relative;
}

void ProgramWorld::write(const QString& relative, const QByteArray& content) const
{
    QDir().mkpath(QFileInfo(path(relative)).absolutePath());
    QFile f(path(relative));
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path(relative)));
}

std::unique_ptr<QProcess> ProgramWorld::start(const QStringList& arguments, const QStringList& more,
                                              const QString& folder, bool asNobody) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "TS6_LOG_DIR",
                             "TS6_INSTALL_PATH", "TS6_DATA_PATH", "TS6_SHARED_PATH"})
        env.remove(QLatin1String(name));
    QStringList settings{QStringLiteral("TS6_DRIVES=C=") + path(QStringLiteral("c")),
                         QStringLiteral("TS6_PROGRAMDATA=") + path(QStringLiteral("c/ProgramData")),
                         QStringLiteral("XDG_CONFIG_HOME=") + path(QStringLiteral("config")),
                         QStringLiteral("XDG_STATE_HOME=") + path(QStringLiteral("state")),
                         QStringLiteral("XDG_RUNTIME_DIR=") + path(QStringLiteral("runtime")),
                         QStringLiteral("TMPDIR=") + path(QStringLiteral("tmp"))};
    settings += environment + more;
    if (asNobody) {
        for (const char* own : {"nobody", "nobody/trace", "nobody/config", "nobody/home"}) {
            QDir().mkpath(path(QLatin1String(own)));
            SetMode(path(QLatin1String(own)), 0777);
        }
        settings << QStringLiteral("TS6_LOG_DIR=") + path(QStringLiteral("nobody/trace"))
                 << QStringLiteral("XDG_CONFIG_HOME=") + path(QStringLiteral("nobody/config"))
                 << QStringLiteral("HOME=") + path(QStringLiteral("nobody/home"))
                 << QStringLiteral("XDG_RUNTIME_DIR=");
    }
    for (const QString& setting : std::as_const(settings))
        env.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));

    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(env);
    p->setWorkingDirectory(path(folder));
    p->setReadChannel(QProcess::StandardError);
    QString program = kProgram;
    QStringList args = arguments;
    if (std::any_of(args.cbegin(), args.cend(),
                    [](const QString& a) { return a.contains(QLatin1String("\\x")); })) {
        args = QStringList{QStringLiteral("-c"), kBytePasser, program} + args;
        program = QStringLiteral("python3");
    }
    if (asNobody) {
        args = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                           QStringLiteral("--clear-groups"), program} +
               args;
        program = QStringLiteral("setpriv");
    }
    p->start(program, args);
    p->waitForStarted();
    return p;
}

ProgramRun ProgramWorld::run(const QStringList& arguments, const QStringList& more,
                             const QString& folder) const
{
    const std::unique_ptr<QProcess> p = start(arguments, more, folder);
    p->waitForFinished(600000);
    return {p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1,
            QString::fromUtf8(p->readAllStandardOutput()), QString::fromUtf8(p->readAllStandardError())};
}

QStringList ProgramWorld::trace(const QString& folder) const
{
    QFile f(path(folder) + QStringLiteral("/TS6Satchel.log"));
    f.open(QIODevice::ReadOnly);
    QStringList entries;
    for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        entries.append(line.section(QLatin1Char(' '), 3)
                           .remove(QRegularExpression(QStringLiteral(" \\[ID_[^\\]]*\\]$"))));
    return entries;
}

bool ProgramWorld::isEmpty(const QString& folder) const
{
    return QDir(path(folder)).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}
