#include "support/TestTools.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

QString notInstalled(const QString& what)
{
    return what + QStringLiteral(" is not installed: run bash scripts/install-deps.sh test");
}

} // namespace

QString missingTestPrograms(const QStringList& programs)
{
    for (const QString& program : programs) {
        const bool found = program.startsWith(QLatin1Char('/'))
                               ? QFileInfo(program).isExecutable()
                               : !QStandardPaths::findExecutable(program).isEmpty();
        if (!found)
            return notInstalled(program);
    }
    return {};
}

QString nssWrapperLibrary(QString* why)
{
    // The folders the compiler links from, the system's library folders among them.
    for (const QString& folder :
         QStringLiteral(TS6_LIBRARY_DIRS).split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString library = folder + QStringLiteral("/libnss_wrapper.so");
        if (QFileInfo::exists(library))
            return library;
    }
    *why = notInstalled(QStringLiteral("libnss_wrapper.so (libnss-wrapper)"));
    return {};
}

ToolRun runTool(const QString& program, const QStringList& arguments, const QByteArray& input,
                const QString& folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    const bool ended = process.waitForFinished(300000) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, process.readAllStandardOutput(), process.readAllStandardError()};
}
