#include "controller/frmSatchel.h"

#include "base/Logging.h"

#include "base/Geometry.h"
#include "base/Int16.h"
#include "catalogue/PathHelpers.h"
#include "diag/Debug.h"
#include "diag/ErrorTrap.h"
#include "outside/HostFunctions.h"
#include "outside/IDesktop.h"
#include "outside/IFolderTree.h"
#include "outside/IHelpCatalog.h"
#include "outside/IMainWindow.h"
#include "outside/IProductInfo.h"
#include "outside/IScreen.h"
#include "outside/Require.h"
#include "package/PackageName.h"
#include "platform/HostPath.h"
#include "settings/AppConfig.h"
#include "settings/mSubclasser.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>

namespace {

const QString kModule = QStringLiteral("frmSatchel");
const QString kFormLoad = QStringLiteral("Form_Load");
const QString kBackslash = QStringLiteral("\\");
const QString kPrefix = QStringLiteral("TSSatchelage");
constexpr int kMinimised = 1;

void log(const QString& message)
{
    Debug::LogMessage(kModule, kFormLoad, message);
}

} // namespace

const QString frmSatchel::AppTitle = QStringLiteral("TS6Satchel");

frmSatchel::frmSatchel(SatchelServices services, QString commandLine, PackageOptions batchOptions)
    : m_services(std::move(services)), m_commandLine(std::move(commandLine)),
      m_batchOptions(std::move(batchOptions)),
      m_loader(m_state, m_services.grid, m_services.folders, m_services.desktop.pointer,
               m_services.components.pathUtility, m_services.components.templateReader),
      m_rules(m_services.grid, m_services.desktop.messages, m_services.programName),
      m_builder(
          m_services.grid, [this]() -> AppConfig& { return Config(); }, m_services.desktop,
          m_services.components.pathUtility, m_services.components.zipWriter,
          [this] { return buildOptions(); })
{
    m_services.folders.setAfterSelectHandler([this] { lstFolders_OnAfterNodeSelect(); });
}

frmSatchel::~frmSatchel() = default;

AppConfig& frmSatchel::Config()
{
    if (!m_config)
        m_config = std::make_unique<AppConfig>(m_services.screen, m_services.programName,
                                               m_services.components.settingsStore,
                                               m_services.components.productInfo);
    return *m_config;
}

void frmSatchel::Form_Load()
{
    const auto startUp = [this] {
        restorePlacement();
        if (const QString warning = Config().settingsWarning(); !warning.isEmpty()) {
            log(warning);
            sayOnStandardError(warning);
        }
        m_services.window.setHelpFile(m_services.desktop.programFolder + kBackslash +
                                      RemoveExtension(m_services.programName) + QStringLiteral(".chm"));
        m_services.window.setTitleCaption(AppTitle);
        if (m_commandLine.isEmpty()) {
            m_services.folders.selectFolder(Config().LastFolder(), 0, true);
            return;
        }
        startFromCommandLine();
    };
    runTraced(kModule, kFormLoad, startUp, &m_loadError);
}

void frmSatchel::restorePlacement()
{
    const double tx = m_services.screen.twipsPerPixelX();
    const double ty = m_services.screen.twipsPerPixelY();
    AppConfig& config = Config();
    const QRect stored(config.WindowLeft(), config.WindowTop(), config.WindowWidth(), config.WindowHeight());
    const QRect placed =
        fitOnScreen(stored, m_services.window.frameMargins(), m_services.screen.availableArea(stored));
    if (placed != stored)
        qCDebug(lcController) << "stored placement" << stored << "does not fit the screen: placed at"
                              << placed;
    m_restored = stored;
    m_fitted = placed != stored ? std::optional<QRect>(placed) : std::nullopt;
    m_services.window.moveInTwips(placed.left() * tx, placed.top() * ty, placed.width() * tx,
                                  placed.height() * ty);
    m_services.window.setWindowStateCode(Int16::fromWide(config.WindowState()));
}

void frmSatchel::startFromCommandLine()
{
    QString first;
    QString rest;
    SplitCommandLine(trimBlanks(m_commandLine), first, rest);
    m_state.CurrentFolder = GetPath(m_services.components.pathUtility, first);
    m_state.TemplateFilter = GetFileName(m_services.components.pathUtility, first);
    log(QStringLiteral("Folder: ") + m_state.CurrentFolder);
    log(QStringLiteral("Template: ") + m_state.TemplateFilter);
    const QString currentPath = JoinPath(kBackslash, {m_state.CurrentFolder, m_state.TemplateFilter});
    log(QStringLiteral("Current Path: ") + currentPath);
    if (!m_state.TemplateFilter.isEmpty()) {
        if (!FileExists(currentPath)) {
            log(QStringLiteral("Template not found."));
            return;
        }
        log(QStringLiteral("Template found."));
        batchBuild(rest, m_state.TemplateFilter);
        return;
    }
    const QString templates = JoinPath(kBackslash, {m_state.CurrentFolder, QStringLiteral("*.TST?")});
    if (Host::findNames(templates, Host::ListFilter::FilesOnly).isEmpty()) {
        log(QStringLiteral("Folder not found."));
        return;
    }
    log(QStringLiteral("Folder found."));
    batchBuild(rest, kPrefix);
}

void frmSatchel::batchBuild(const QString& rest, const QString& prefix)
{
    m_batchStarted = true;
    m_services.desktop.pointer.setBusy();
    m_services.folders.selectFolder(m_state.CurrentFolder, 0, true);
    if (!rest.isEmpty())
        build(rest, false);
    else
        build(GetDefaultPackageName(m_state.CurrentFolder, prefix), true);
    m_services.desktop.pointer.setDefault();
    unload();
}

void frmSatchel::build(const QString& packageName, bool interactive)
{
    m_building = true;
    const auto done = qScopeGuard([this] { m_building = false; });
    m_builder.Build_Package(packageName, interactive);
}

void frmSatchel::unload()
{
    if (m_unloaded)
        return;
    Form_Unload();
    m_unloaded = true;
    m_services.window.destroyWindow();
}

void frmSatchel::Form_Unload()
{
    // A failure here must not keep the window open: it is told on standard error.
    const auto store = [this] {
        // A window that still stands where it was moved to fit the screen stores the placement as
        // it was read (a batch start's window, never shown, included): a stored one comes back
        // when it fits, and a first run stores the defaults.
        if (m_fitted && m_services.window.normalRectangle() == *m_fitted)
            mSubclasser::storePlacement(m_restored, Config());
        else
            mSubclasser::SaveWindowPlacement(m_services.window, Config());
        const int state = m_services.window.windowStateCode();
        if (state != kMinimised)
            Config().setWindowState(state);
        const QString folder = m_services.folders.selectedFolderPath();
        if (!folder.isEmpty())
            Config().setLastFolder(folder);
    };
    guarded(store, [](const RuntimeError& e) {
        sayOnStandardError(QStringLiteral("the settings could not be stored: ") + e.description());
    })();
}

void frmSatchel::Form_Resize()
{
    if (m_services.window.windowStateCode() != kMinimised && m_services.resizeLayout)
        m_services.resizeLayout();
}

void frmSatchel::cmdBuild_Click()
{
    if (m_building)
        return; // one build at a time: both would write the same manifest
    m_services.window.showStatus(QString());
    {
        m_building = true;
        const auto done = qScopeGuard([this] { m_building = false; });
        m_builder.cmdBuild_Click(m_state.CurrentFolder);
    }
    if (m_builder.wrotePackage())
        m_lastPackage = HostPath::toHost(m_builder.archivePath());
    tellOutcome();
    if (m_closeWhenBuilt)
        unload();
}

// A build that wrote no package, and was not cancelled, says why in the status line: the window
// shows no message box for it, and the person would otherwise wait for a file that never comes.
void frmSatchel::tellOutcome()
{
    if (m_builder.wrotePackage() || !m_builder.lastError())
        return;
    const QString reason = HostPath::inText(m_builder.lastError()->description()); // as the person knows it
    m_services.window.showStatus(tr("No package was written: %1").arg(reason.simplified()));
}

void frmSatchel::cmdClose_Click()
{
    if (!m_building)
        unload();
}

void frmSatchel::closeRequested()
{
    if (!m_building) {
        mnuFileExit_Click();
        return;
    }
    m_closeWhenBuilt = true;
    m_services.window.showStatus(tr("The window closes when the build ends."));
}

PackageOptions frmSatchel::buildOptions()
{
    return m_batchStarted ? m_batchOptions : optionsOn(readSavedOptions(Config()), QDate::currentDate());
}

void frmSatchel::mnuFileOptions_Click()
{
    if (!m_services.editOptions)
        return;
    // Options that cannot be read or kept say so; the program goes on.
    try {
        if (const std::optional<SavedPackageOptions> chosen =
                m_services.editOptions(readSavedOptions(Config())))
            writeSavedOptions(Config(), *chosen);
    } catch (...) {
        const RuntimeError e = RuntimeError::fromCurrentException();
        m_services.desktop.messages.showMessage(tr("The options could not be kept: %1").arg(e.description()),
                                                MessageIcon::Exclamation, tr("TS Satchel"));
    }
}

bool frmSatchel::canUpload()
{
    try {
        return !readSavedOptions(Config()).uploadUrl.isEmpty();
    } catch (...) {
        return false; // settings that cannot be read offer no server
    }
}

void frmSatchel::mnuFileUploadPackage_Click()
{
    if (!m_services.pickPackage || !m_services.sendPackage || m_building)
        return;
    const SavedPackageOptions saved = readSavedOptions(Config());
    if (saved.uploadUrl.isEmpty())
        return;
    const QString package = m_services.pickPackage(m_lastPackage);
    if (package.isEmpty())
        return;
    const UploadResult result =
        m_services.sendPackage({package, saved.uploadUrl, saved.uploadTokenFile, saved.uploadCaCert});
    m_services.desktop.messages.showMessage(result.text,
                                            result.end == UploadResult::End::Sent ? MessageIcon::Information
                                                                                  : MessageIcon::Exclamation,
                                            tr("TS Satchel"));
}

void frmSatchel::mnuFileExit_Click()
{
    cmdClose_Click();
}

QString findHandbook(const QString& programFolder)
{
    for (const char* place : {"/../share/doc/ts6satchel/ts6satchel.html", "/data/ts6satchel.html"}) {
        const QString path = QDir::cleanPath(programFolder + QLatin1String(place));
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

void frmSatchel::mnuHelpHandbook_Click()
{
    const QString folder = HostPath::toHost(m_services.desktop.programFolder);
    const QString handbook = findHandbook(folder);
    if (handbook.isEmpty()) {
        m_services.desktop.messages.showMessage(
            tr("The handbook is not installed: there is no %1.")
                .arg(QDir::cleanPath(folder + QStringLiteral("/../share/doc/ts6satchel/ts6satchel.html"))),
            MessageIcon::Exclamation, tr("TS Satchel"));
        return;
    }
    if (!m_services.openDocument || !m_services.openDocument(handbook))
        m_services.desktop.messages.showMessage(
            tr("The handbook %1 could not be opened: no program to show HTML pages was found.").arg(handbook),
            MessageIcon::Exclamation, tr("TS Satchel"));
}

void frmSatchel::mnuHelpVideoTutorial_Click()
{
    ShowHelpTopic(QStringLiteral("Video Tutorials"));
}

IProductInfo& frmSatchel::Product()
{
    if (!m_product) {
        auto made = make(m_services.components.productInfo);
        require(made->setProduct(QStringLiteral("TS6")), *made, "setProduct");
        require(made->refresh(), *made, "refresh");
        m_product = std::move(made);
    }
    return *m_product;
}

void frmSatchel::ShowHelpTopic(const QString& topicName)
{
    // A help command that fails says so and the program goes on; an unknown topic does nothing.
    const auto open = [this, &topicName] {
        const std::unique_ptr<IHelpCatalog> catalog = make(m_services.components.helpCatalog);
        QString installPath;
        IProductInfo& product = Product();
        require(product.InstallPath(installPath), product, "InstallPath");
        const QString index = JoinPath(kBackslash, {installPath, QStringLiteral("TS6SatchelHelp.xml")});
        require(catalog->setIndexFile(index), *catalog, "setIndexFile");
        require(catalog->load(), *catalog, "load");
        if (const std::unique_ptr<IHelpTopic> topic = catalog->findTopic(topicName))
            require(topic->Open(), *catalog, "Open");
    };
    guarded(open, [this](const RuntimeError& e) {
        m_services.desktop.messages.showMessage(tr("Help is not available: %1").arg(e.description()),
                                                MessageIcon::Exclamation, tr("TS Satchel"));
    })();
}

void frmSatchel::mnuHelpAbout_Click()
{
    if (m_services.showAbout)
        m_services.showAbout();
}

void frmSatchel::grdFiles_Mouseup(int button, int shift, double x, double y)
{
    m_rules.grdFiles_Mouseup(button, shift, x, y);
}

void frmSatchel::lstFolders_OnAfterNodeSelect()
{
    if (!m_closeWhenBuilt)
        m_services.window.showStatus(QString()); // the last build's outcome was of another folder
    m_loader.lstFolders_OnAfterNodeSelect();
}
