#include "controller/BatchStart.h"

#include "base/ByteSize.h"
#include "catalogue/PathHelpers.h"
#include "controller/frmSatchel.h"
#include "platform/CommandLine.h"
#include "platform/HostName.h"
#include "platform/HostPath.h"
#include "platform/Wildcard.h"

#include <algorithm>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>

RunSummary BatchStart::ending(const frmSatchel& controller, const QStringList& personNeeded,
                              const CommandLineOptions& options) const
{
    RunSummary run;
    const PackageBuilder& builder = controller.builder();
    if (builder.wrotePackage()) {
        const QString host = HostPath::toHost(builder.archivePath());
        struct stat st
        {};
        ::stat(HostName::encode(host).constData(), &st);
        run.package = host;
        run.bytes = st.st_size;
        run.report = builder.report();
        sayLackOfDescriptors(run.report);
        if (!run.report.namesFile.isEmpty())
            m_say(QStringLiteral("the placeholders' map is %1: keep it, and never send it with the package")
                      .arg(run.report.namesFile));
        m_say(QStringLiteral("wrote %1 (%2)").arg(host, byteSizeText(qint64(st.st_size))));
        if (options.checksum || options.json)
            checksum(run, options);
    } else if (builder.lastError()) {
        sayNone(run, HostPath::inText(builder.lastError()->description()));
    } else if (!personNeeded.isEmpty()) {
        sayNone(run, QStringLiteral("no display to show ") + personNeeded.constFirst() +
                         QStringLiteral("; give a package path to build without it"));
    } else {
        sayNone(run, QStringLiteral("the package path is empty"));
    }
    if (!personNeeded.isEmpty())
        run.status = 2;
    else if (!builder.wrotePackage())
        run.status = 1;
    return run;
}

QString BatchStart::whyNoPackage(const frmSatchel& controller) const
{
    QString why;
    const QString folder = controller.CurrentFolder();
    const QString name = controller.TemplateFilter();
    const QString path = HostPath::toHost(JoinPath(QStringLiteral("\\"), {folder, name}));
    if (const std::optional<RuntimeError>& failure = controller.loadError())
        why = QStringLiteral("the start went wrong: ") + HostPath::inText(failure->description());
    else if (!name.isEmpty())
        why = (matchesWildcard(QStringLiteral("*.TST?"), name)
                   ? QStringLiteral("template not found: ")
                   : QStringLiteral("folder or template not found: ")) +
              path;
    else if (!FolderExists(folder))
        why = QStringLiteral("folder not found: ") + HostPath::toHost(folder);
    else
        why = QStringLiteral("no templates (*.TST6, *.TST) in the folder ") + HostPath::toHost(folder);
    m_say(why);
    return why;
}

QString BatchStart::checksumRefused(const CommandLineOptions& options)
{
    if (!options.checksum || options.paths.size() < 2 || options.paths.at(1).trimmed().isEmpty())
        return {};
    try {
        checkChecksumFileName(HostPath::toHost(argumentAsMeant(options.paths.at(1))));
    } catch (const RuntimeError& e) {
        return e.description();
    }
    return {};
}

void BatchStart::sayNone(RunSummary& run, const QString& reason) const
{
    run.reason = reason;
    m_say(QStringLiteral("no package was written: ") + reason);
}

// The checksum the options ask for: in the summary, and (--checksum) beside the package. The build
// hashed the package before it took its name. A failure is said, and makes the run end with
// status 1.
void BatchStart::checksum(RunSummary& run, const CommandLineOptions& options) const
{
    try {
        run.sha256 = run.report.sha256;
        if (options.checksum)
            writeChecksumFile(*run.package, run.sha256);
    } catch (const RuntimeError& e) {
        run.reason = e.description();
        run.status = 1;
        m_say(run.reason);
    }
}

// A package that left files out because the process could open no more files says so, with the
// limit that stood in the way.
void BatchStart::sayLackOfDescriptors(const PackageReport& report) const
{
    const QString reason = QString::fromLocal8Bit(std::strerror(EMFILE));
    const auto count =
        std::count_if(report.leftOut.cbegin(), report.leftOut.cend(),
                      [&](const PackageReport::LeftOut& file) { return file.reason == reason; });
    rlimit limit{};
    if (count > 0 && ::getrlimit(RLIMIT_NOFILE, &limit) == 0)
        m_say(QStringLiteral(
                  "%1 of the files were left out: the limit of %2 open files (ulimit -n) was reached")
                  .arg(count)
                  .arg(static_cast<qulonglong>(limit.rlim_cur)));
}
