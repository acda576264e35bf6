#include "package/PackageBuilder.h"

#include "base/Logging.h"
#include "base/PackageFormat.h"

#include "base/Int16.h"
#include "catalogue/CatalogueRows.h"
#include "catalogue/PathHelpers.h"
#include "diag/Debug.h"
#include "diag/ErrorTrap.h"
#include "outside/FileLock.h"
#include "outside/HostFunctions.h"
#include "outside/IDesktop.h"
#include "outside/ILogSink.h"
#include "outside/IPathUtility.h"
#include "outside/IProgressWindow.h"
#include "outside/ITreeGrid.h"
#include "outside/IZipWriter.h"
#include "outside/Interruption.h"
#include "outside/Require.h"
#include "package/PackageName.h"
#include "package/VersionManifest.h"
#include "platform/HostName.h"
#include "platform/HostPath.h"
#include "platform/UserFolders.h"
#include "settings/AppConfig.h"

#include <QScopeGuard>

namespace {

const QString kModule = QStringLiteral("frmSatchel");
const QString kBuild = QStringLiteral("Build_Package");
const QString kZipping = QStringLiteral("BuildPackage"); // the name the zipping entries go under
const QString kBackslash = QStringLiteral("\\");

void logZipping(const QString& message)
{
    Debug::LogMessage(kModule, kZipping, message);
}

} // namespace

PackageBuilder::PackageBuilder(ITreeGrid& grid, std::function<AppConfig&()> config, DesktopServices desktop,
                               Maker<IPathUtility> pathUtility, Maker<IZipWriter> zipWriter,
                               std::function<PackageOptions()> options)
    : m_grid(grid), m_config(std::move(config)), m_desktop(std::move(desktop)),
      m_makePaths(std::move(pathUtility)), m_makeWriter(std::move(zipWriter)), m_options(std::move(options))
{}

PackageBuilder::~PackageBuilder() = default;

void PackageBuilder::cmdBuild_Click(const QString& currentFolder)
{
    Build_Package(GetDefaultPackageName(currentFolder, QStringLiteral("TSSatchelage")), true);
}

void PackageBuilder::Build_Package(const QString& packageName, bool interactive)
{
    m_archivePath.clear();
    m_lastError.reset();
    m_report = {};
    m_wrote = false;
    const auto build = [&] {
        m_current = m_options ? m_options() : PackageOptions{};
        const Host::ListingScope listings; // every folder listed once for the whole build
        const std::unique_ptr<IPathUtility> paths = make(m_makePaths);
        m_paths = paths.get();
        const auto forget = qScopeGuard([this] { m_paths = nullptr; });
        m_files.clear();
        m_templates.clear();
        Interruption::check();
        collect();

        QString temp;
        require(m_paths->tempFolder(temp), *m_paths, "tempFolder");
        const QString manifestPath =
            JoinPath(kBackslash, {temp, QString::fromLatin1(PackageFormat::kManifestName)});
        const QByteArray manifest = WriteVersionManifest(manifestPath, m_files, m_config());

        m_archivePath = settleArchivePath(packageName, interactive);
        if (m_archivePath.isEmpty())
            return;
        zip(m_archivePath, temp, manifestPath, manifest);
        m_wrote = true;
        m_desktop.pointer.setDefault();
        m_progress->Close();
        m_progress.reset();
    };
    const bool completed = runTraced(kModule, kBuild, build, &m_lastError);
    qCDebug(lcPackage) << "build of" << m_archivePath << (m_wrote ? "wrote it" : "wrote nothing")
                       << (m_lastError ? m_lastError->description() : QString());
    if (!completed) {
        m_desktop.pointer.setDefault();
        if (m_progress) {
            m_progress->Close();
            m_progress.reset();
        }
        return;
    }
    if (interactive && !m_archivePath.isEmpty())
        m_desktop.messages.showMessage(
            QStringLiteral("TS Satchel has successfully created the following Zip Package:\r\n\r\n") +
                HostPath::toHost(m_archivePath), // a person reads the host path the save dialog showed
            MessageIcon::Information, QStringLiteral("TS Satchel"));
}

void PackageBuilder::collect()
{
    const Int16 rows = Int16::fromWide(m_grid.rows());
    for (Int16 i = 1; i <= rows - 1; ++i)
        collectRow(i);
    for (const TemplateEntry& entry : m_templates)
        if (entry.views > 0)
            append(entry.viewsFile);
}

void PackageBuilder::collectRow(int row)
{
    const GridNode node = m_grid.nodeOfRow(row);
    const QString path = m_grid.textMatrix(row, 2).toUpper();
    const bool isTemplate = path.endsWith(QLatin1String(".TST6")) || path.endsWith(QLatin1String(".TST"));
    if (m_grid.nodeChildren(node) > 0 && !isTemplate)
        return;
    if (m_grid.cellPicture(row, 0) == CheckPicture::Excluded)
        return;
    const bool listed = StringExistsInArray(path, m_files);
    if (isTemplate)
        folderScript(path);
    if (listed)
        return;
    if (path.endsWith(QLatin1String(".TST6")))
        m_templates.push_back({path, path.left(path.size() - 5) + QStringLiteral(".TVM6"), 0});
    else if (path.endsWith(QLatin1String(".TST")))
        m_templates.push_back({path, path.left(path.size() - 4) + QStringLiteral(".TVM"), 0});
    Int16::fromWide(static_cast<qint64>(m_templates.size()));
    append(path);
    if (path.endsWith(QLatin1String(".TSD6")))
        addCompanions(path,
                      {".TSA6", ".TSL6", ".TSM6", ".TSI6", ".TSN6", ".TSSDB6", ".LOGS.TSSDB6", ".ADL6"});
    else if (path.endsWith(QLatin1String(".TSD")))
        addCompanions(path,
                      {".TSA", ".TSL", ".TSM", ".TSI", ".TSN", ".TSSDB", ".LOGS.TSSDB", ".ADL6", ".ADL"});
    if (path.endsWith(QLatin1String(".TPT")))
        addCompanions(path, {".TPI", ".TPD"});
    if (GetExtension(path).toUpper().startsWith(QLatin1String(".V")) && !m_templates.empty()) {
        Int16 views = m_templates.back().views;
        ++views;
        m_templates.back().views = views;
    }
}

void PackageBuilder::folderScript(const QString& templatePath)
{
    const QString folder = GetPath(m_makePaths, templatePath);
    const auto usable = [&](const QString& candidate) {
        Debug::LogMessage(kModule, kBuild, QStringLiteral("Looking for folder Script: ") + candidate);
        return !StringExistsInArray(candidate, m_files) && FileExists(candidate);
    };
    QString script = JoinPath(kBackslash, {folder, QStringLiteral("TSScript.TSX6")});
    if (!usable(script)) {
        script = JoinPath(kBackslash, {folder, QStringLiteral("TSScript.TSX")});
        if (!usable(script))
            return;
    }
    Debug::LogMessage(kModule, kBuild, QStringLiteral("Folder Script found and added to package."));
    append(script);
}

void PackageBuilder::addCompanions(const QString& path, std::initializer_list<const char*> extensions)
{
    for (const char* extension : extensions) {
        QString companion;
        require(m_paths->ChangeExtension(path, QString::fromLatin1(extension), companion), *m_paths,
                "ChangeExtension");
        bool exists = false;
        require(m_paths->FileExists(companion, exists), *m_paths, "FileExists");
        if (exists)
            append(companion);
    }
}

void PackageBuilder::append(const QString& path)
{
    Int16::fromWide(m_files.size() + 1); // the list's count is a 16-bit number
    m_files.append(path);
}

QString PackageBuilder::settleArchivePath(const QString& packageName, bool interactive)
{
    QString archivePath = packageName;
    if (interactive) {
        archivePath =
            GetPackageFileName(m_desktop.saveDialog, m_desktop.owner, m_desktop.programFolder, packageName);
        m_desktop.events.doEvents();
        Interruption::check(); // a signal while the dialog was open closed it
    }
    logZipping(QStringLiteral("Zipping to: ") + archivePath);
    return trimBlanks(archivePath).isEmpty() ? QString() : archivePath;
}

void PackageBuilder::status(const QString& text)
{
    Interruption::check();
    m_progress->setStatus(text);
    m_desktop.events.doEvents();
}

// The rules of the adds that follow: secrets masked as the options ask, and for the log folder the
// age and size budget.
void PackageBuilder::setRules(IZipWriter& writer, AddRules::Masking masking, bool logs)
{
    AddRules rules;
    if (m_current.maskSecrets || m_current.maskNames)
        rules.masking = masking;
    rules.names = m_current.maskNames;
    if (logs && m_current.since) {
        rules.notBefore = m_current.since->startOfDay().toSecsSinceEpoch();
        rules.tooOld = tooOldReason(*m_current.since);
    }
    if (logs && m_current.maxLogBytes) {
        rules.budget = m_current.maxLogBytes;
        rules.overBudget = overBudgetReason(*m_current.maxLogBytes);
    }
    if (auto* taking = dynamic_cast<IAddRules*>(&writer))
        taking->setAddRules(rules);
    else if (rules != AddRules{})
        raiseError(ErrorNumber::ComponentFailure,
                   QStringLiteral("The zip writer cannot mask secrets or choose log files"),
                   QString::fromLatin1(IZipWriter::ClassId));
}

// The files the program keeps, which no package and no checksum may take the place of: what each
// is, and its host path.
std::vector<std::pair<QString, QString>> PackageBuilder::keptFiles(const QString& manifestPath) const
{
    std::vector<std::pair<QString, QString>> kept;
    if (const QString settings = m_config().settingsFilePath(); !settings.isEmpty())
        kept.emplace_back(QStringLiteral("settings file"), settings);
    for (const QString& trace : Debug::GetLogger().files())
        kept.emplace_back(QStringLiteral("trace"), trace);
    if (const std::optional<QString> manifest = Host::hostPathForWriting(manifestPath))
        kept.emplace_back(QStringLiteral("version manifest"), *manifest);
    return kept;
}

// Tells the writer what goes beside the package, after refusing a package path that names a file
// the program keeps: that file stays as it is. (None of them ends in ".sha256", the checksum's.)
void PackageBuilder::setOutputs(IZipWriter& writer, const QString& archivePath,
                                const QString& manifestPath) const
{
    const std::optional<QString> package = HostPath::forReplacing(archivePath);
    PackageOutputs outputs{.digest = m_current.digest || m_current.checksum};
    if (package && m_current.checksum)
        outputs.besides.append(*package + QStringLiteral(".sha256"));
    if (package && m_current.maskNames) {
        outputs.namesFile = *package + QStringLiteral(".names");
        outputs.knownHosts = UserFolders::computerNames();
        outputs.knownUsers = UserFolders::userNames();
    }
    for (const auto& [what, kept] : keptFiles(manifestPath)) {
        if (package && HostName::sameEntry(*package, kept))
            raiseError(ErrorNumber::InvalidArgument,
                       QStringLiteral("The package path names the program's %1: %2").arg(what, archivePath));
    }
    if (auto* taking = dynamic_cast<IPackageOutputs*>(&writer))
        taking->setOutputs(outputs);
    else if (outputs != PackageOutputs{})
        raiseError(ErrorNumber::ComponentFailure,
                   QStringLiteral("The zip writer cannot hash the package or guard its checksum"),
                   QString::fromLatin1(IZipWriter::ClassId));
}

// With names replaced, the application files and the configuration files are read first for the
// host names they define, so that those are replaced in every file, the logs packed before the
// configuration folders among them.
void PackageBuilder::discoverNames(IZipWriter& writer) const
{
    auto* discovering = dynamic_cast<IAddRules*>(&writer);
    if (!m_current.maskNames || !discovering)
        return;
    const auto discover = [&](const QString& source) {
        require(discovering->discoverNames(source), writer, "discoverNames");
    };
    for (const QString& file : m_files)
        discover(file);
    const QString local = GetProgramDataPath() + QStringLiteral("\\Norvale\\TS6");
    for (const QString& folder : {local, m_config().SharedPath()})
        if (FolderExists(folder))
            discover(folder + QStringLiteral("\\*.CONFIG"));
    // Configuration files kept with the logs name hosts that the logs, packed before them, use.
    const QString logs = local + QStringLiteral("\\logs");
    if (FolderExists(logs))
        for (const char* pattern :
             {"\\*.CONFIG", "\\*.INI", "\\*.JSON", "\\*.XML", "\\*.YAML", "\\*.YML", "\\*.PROPERTIES"})
            discover(logs + QLatin1String(pattern));
}

void PackageBuilder::zip(const QString& archivePath, const QString& tempFolder, const QString& manifestPath,
                         const QByteArray& manifest)
{
    m_progress = m_desktop.makeProgressWindow();
    m_progress->Show();
    status(QStringLiteral("Creating zip file ..."));
    m_desktop.pointer.setBusy();

    const std::unique_ptr<IZipWriter> writer = make(m_makeWriter);
    if (auto* waits = dynamic_cast<IBusyHook*>(writer.get()))
        waits->setBusyHook([this, waits] {
            Interruption::check();
            const auto [done, total] = waits->bytesDone();
            m_progress->setBytes(done, total);
            m_desktop.events.doEvents(); // the windows stay painted
        });
    const auto add = [&](const QString& source, bool subfolders, bool keepFolderPath) {
        require(writer->add(source, subfolders, keepFolderPath, QString()), *writer, "add");
    };
    setOutputs(*writer, archivePath, manifestPath);
    require(writer->setArchivePath(archivePath), *writer, "setArchivePath");
    discoverNames(*writer);
    // The manifest goes in as written, but for the names it holds when they are replaced.
    setRules(*writer, m_current.maskNames ? AddRules::Masking::Everything : AddRules::Masking::None, false);
    status(QStringLiteral("Adding ") + manifestPath);
    {
        // Another run of this user may have written its own manifest meanwhile: this build's goes
        // back in place and into the archive (which reads it before the add returns) while no
        // other run can do the same.
        const FileLock manifestTurn(tempFolder);
        placeFile(manifestPath, manifest, QStringLiteral("WriteVersionManifest"));
        add(manifestPath, false, false);
    }

    setRules(*writer, AddRules::Masking::Everything, false);
    status(QStringLiteral("Adding application files"));
    for (const QString& file : std::as_const(m_files)) {
        if (!FileExists(file))
            continue;
        status(QStringLiteral("Adding ") + file);
        add(file, false, true);
    }

    const QString programData = GetProgramDataPath();
    const QString logs = programData + QStringLiteral("\\Norvale\\TS6\\logs");
    if (FolderExists(logs)) {
        logZipping(QStringLiteral("Adding ") + logs + QStringLiteral(" to satchel."));
        status(QStringLiteral("Adding logs"));
        setRules(*writer, AddRules::Masking::Everything, true);
        add(logs + QStringLiteral("\\*.*"), true, true);
    } else {
        logZipping(logs + QStringLiteral(" folder not found."));
    }

    setRules(*writer, AddRules::Masking::Everything, false); // the configuration folders
    const QString local = programData + QStringLiteral("\\Norvale\\TS6");
    if (FolderExists(local)) {
        logZipping(QStringLiteral("Adding ") + local + QStringLiteral(" to satchel."));
        status(QStringLiteral("Adding local configuration files"));
        for (const char* name : {"\\TSAgentProcess.TSSDB", "\\TSApplications.TSSDB", "\\*.CONFIG", "\\*.LOG"})
            add(local + QLatin1String(name), false, true);
    } else {
        logZipping(local + QStringLiteral(" folder not found."));
    }

    const QString shared = m_config().SharedPath();
    if (FolderExists(shared)) {
        logZipping(QStringLiteral("Adding Shared Path ") + shared + QStringLiteral(" to satchel."));
        status(QStringLiteral("Adding configuration files"));
        for (const char* pattern : {"\\*.ITS", "\\*.TSX", "\\*.TSX6", "\\*.CONFIG", "\\*.LOG"})
            add(shared + QLatin1String(pattern), false, true);
    }
    require(writer->finish(), *writer, "finish");
    if (const auto* reporting = dynamic_cast<const IPackageReport*>(writer.get()))
        m_report = reporting->report();
}
