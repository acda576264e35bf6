#pragma once

#include "catalogue/CatalogueLoader.h"
#include "catalogue/CatalogueRows.h"
#include "catalogue/SelectionRules.h"
#include "package/PackageBuilder.h"

#include <QCoreApplication>
#include <QRect>

#include <functional>
#include <memory>
#include <optional>

class AppConfig;
class IMainWindow;
class IProductInfo;
class IScreen;

// A package to send to support's upload server, as File > Upload Package... asks for it.
struct PackageUpload
{
    QString package{};   // a host path
    QString url{};       // the server's creation address
    QString tokenFile{}; // the bearer token's file; empty for TS6_UPLOAD_TOKEN
    QString caCert{};    // a private CA's certificates, besides the system's store; or empty
};

// How sending a package ended, in words for the person.
struct UploadResult
{
    enum class End
    {
        Sent,
        Failed,
        Cancelled,
    };
    End end = End::Failed;
    QString text{};
};

// Everything the main window's controller reaches: its window and controls, the desktop, the
// outside components, and where the program itself lives.
struct SatchelServices
{
    IMainWindow& window;
    IFolderTree& folders;
    ITreeGrid& grid;
    IScreen& screen;
    DesktopServices desktop;            // its handle is the main window's, its folder the program's
    ComponentMakers components;         // the outside components the controller and its parts use
    QString programName;                // the executable's file name, e.g. "ts6satchel"
    std::function<void()> resizeLayout; // the layout step of a resize
    std::function<void()> showAbout;    // the About box, modal
    // The Options dialog, modal, opened on these options: the options chosen, or none if cancelled.
    std::function<std::optional<SavedPackageOptions>(const SavedPackageOptions&)> editOptions{};
    // Opens a document (a host path) in the desktop's viewer for it; false when that failed.
    std::function<bool(const QString&)> openDocument{};
    // Asks which package to send, opening on this one (a host path, or empty): the package chosen,
    // or empty when cancelled.
    std::function<QString(const QString&)> pickPackage{};
    // Sends a package with a progress window that can cancel it, and says how that went.
    std::function<UploadResult(const PackageUpload&)> sendPackage{};
};

// The handbook (the manual page as HTML) of the program in this folder (a host path): installed
// beside it under share/doc, or in a build tree; empty when there is none.
QString findHandbook(const QString& programFolder);

// The controller of the main window: start-up (interactive or batch), shutdown, the two buttons,
// the menu, and the folder state that loading and building share. A batch start builds with the
// options of the command line; a build started in the window, with the options the window keeps.
class frmSatchel
{
    Q_DECLARE_TR_FUNCTIONS(frmSatchel)

public:
    frmSatchel(SatchelServices services, QString commandLine, PackageOptions batchOptions = {});
    ~frmSatchel();

    void Form_Load();
    void Form_Unload();
    void Form_Resize();
    void cmdBuild_Click();
    void cmdClose_Click();
    // The window's own close (its title bar, Alt+F4): at once, or when the build under way ends.
    void closeRequested();
    void mnuFileOptions_Click();
    // File > Upload Package...: the package built last, or one the person picks, to the upload
    // server of the options; offered while the options hold one.
    void mnuFileUploadPackage_Click();
    bool canUpload();
    void mnuFileExit_Click();
    void mnuHelpVideoTutorial_Click();
    // Help > Handbook and F1: the handbook in the desktop's browser, or a message saying why not.
    void mnuHelpHandbook_Click();
    void mnuHelpAbout_Click();
    void grdFiles_Mouseup(int button, int shift, double x, double y);
    void lstFolders_OnAfterNodeSelect();

    AppConfig& Config();
    void ShowHelpTopic(const QString& topicName);
    const QString& CurrentFolder() const { return m_state.CurrentFolder; }
    const QString& TemplateFilter() const { return m_state.TemplateFilter; }

    // Whether the window has been unloaded (a batch start unloads it before it is ever shown).
    bool unloaded() const { return m_unloaded; }
    // Whether Form_Load started a build (a batch start), and how the last build ended.
    bool batchStarted() const { return m_batchStarted; }
    bool building() const { return m_building; }
    const PackageBuilder& builder() const { return m_builder; }
    // The run-time error that ended start-up early, as its ERROR entry records it.
    const std::optional<RuntimeError>& loadError() const { return m_loadError; }

    static const QString AppTitle;

private:
    void restorePlacement();
    void startFromCommandLine();
    void batchBuild(const QString& rest, const QString& prefix);
    void build(const QString& packageName, bool interactive);
    void tellOutcome();
    void unload();
    PackageOptions buildOptions();
    IProductInfo& Product();

    SatchelServices m_services;
    const QString m_commandLine;
    const PackageOptions m_batchOptions;
    ControllerState m_state;
    std::unique_ptr<AppConfig> m_config;
    std::unique_ptr<IProductInfo> m_product;
    CatalogueLoader m_loader;
    SelectionRules m_rules;
    PackageBuilder m_builder;
    std::optional<RuntimeError> m_loadError;
    bool m_unloaded = false;
    bool m_batchStarted = false;
    bool m_building = false;
    bool m_closeWhenBuilt = false;
    QRect m_restored;              // the placement as read: the stored one, or the defaults
    std::optional<QRect> m_fitted; // where the stored placement was moved to fit the screen
    QString m_lastPackage;         // the package the window's last build wrote, a host path
};
