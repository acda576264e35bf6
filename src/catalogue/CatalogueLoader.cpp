#include "catalogue/CatalogueLoader.h"

#include "base/Logging.h"

#include "base/Int16.h"
#include "catalogue/PathHelpers.h"
#include "diag/Debug.h"
#include "diag/ErrorTrap.h"
#include "outside/HostFunctions.h"
#include "outside/IDesktop.h"
#include "outside/IFolderTree.h"
#include "outside/IPathUtility.h"
#include "outside/ITemplateReader.h"
#include "outside/Interruption.h"
#include "outside/Require.h"

#include <QScopeGuard>

#include <functional>

namespace {

const QString kModule = QStringLiteral("frmSatchel");
const QString kLoadGrid = QStringLiteral("LoadGrid");
const QString kDefaultPattern = QStringLiteral("*.TST?");

} // namespace

struct CatalogueLoader::Template
{
    int number = 0;
    QString path;
    GridNode root = kNoNode;
    GridNode row = kNoNode;
    QString dataFile;
    QString viewStem;
    QString scriptFile;
};

CatalogueLoader::CatalogueLoader(ControllerState& state, ITreeGrid& grid, IFolderTree& tree,
                                 IMousePointer& pointer, Maker<IPathUtility> pathUtility,
                                 Maker<ITemplateReader> templateReader)
    : m_state(state), m_grid(grid), m_tree(tree), m_pointer(pointer), m_makePaths(std::move(pathUtility)),
      m_makeReader(std::move(templateReader))
{}

void CatalogueLoader::lstFolders_OnAfterNodeSelect()
{
    runTraced(kModule, QStringLiteral("lstFolders_OnAfterNodeSelect"), [this] {
        const QString path = m_tree.selectedFolderPath();
        Debug::LogMessage(kModule, QStringLiteral("lstFolders_OnAfterNodeSelect"),
                          QStringLiteral("Clicked on folder: ") + path);
        if (path.isEmpty())
            return;
        m_pointer.setBusy();
        m_state.CurrentFolder = AddBackslash(path.toUpper());
        LoadGrid(m_state.TemplateFilter.isEmpty() ? kDefaultPattern : m_state.TemplateFilter);
        m_pointer.setDefault();
    });
}

QString CatalogueLoader::fileName(const QString& path)
{
    QString name;
    require(m_paths->fileNamePart(path, name), *m_paths, "fileNamePart");
    return name;
}

void CatalogueLoader::LoadGrid(const QString& pattern)
{
    runTraced(kModule, kLoadGrid, [&] {
        const Host::ListingScope listings; // every folder listed once for the whole load
        m_state.templateList = FindFiles(m_state.CurrentFolder, pattern);
        const Int16 count = Int16::fromWide(m_state.templateList.size() - 1);
        m_state.templateCount = count;

        m_grid.setRows(2);
        m_grid.setCols(3);
        m_grid.setColHidden(2, true);
        m_grid.setTextMatrix(1, 0, RowText::Root);
        m_grid.setCellPicture(1, 0, CheckPicture::Included);
        m_grid.setIsNode(1, true);
        m_grid.setCellColors(1, 0, 1, m_grid.cols() - 1, GridColor::SystemHighlight, GridColor::White);
        const GridNode root = m_grid.nodeOfRow(1);

        const std::unique_ptr<IPathUtility> paths = make(m_makePaths);
        std::unique_ptr<ITemplateReader> reader = make(m_makeReader);
        m_paths = paths.get();
        m_reader = reader.get();
        const auto forget = qScopeGuard([this] {
            m_paths = nullptr;
            m_reader = nullptr;
        });
        for (Int16 n = 1; n <= count; ++n) {
            Template t;
            t.number = n;
            t.path = m_state.templateList.at(n);
            t.root = root;
            loadTemplate(t);
        }
        reader.reset();

        m_grid.autoSize(0, m_grid.cols() - 1);
        if (m_grid.rows() == 2)
            m_grid.setRows(1);
        qCDebug(lcCatalogue) << "loaded" << count.value() << "templates of" << m_state.CurrentFolder << "in"
                             << m_grid.rows() << "rows";
    });
}

void CatalogueLoader::loadTemplate(Template& t)
{
    const bool current = t.path.right(5).toUpper() == QLatin1String(".TST6");
    const auto changed = [&](const char* extension) {
        QString result;
        require(m_paths->ChangeExtension(t.path, QString::fromLatin1(extension), result), *m_paths,
                "ChangeExtension");
        return result;
    };
    t.dataFile = changed(current ? ".TSD6" : ".TSD");
    t.viewStem = current ? QStringLiteral("TVM6.V") : QStringLiteral("V");
    const QString currentScript = changed(".TSX6");
    t.scriptFile = FileExists(currentScript) ? currentScript : changed(".TSX");

    const bool read = TryOpenTemplate(*m_reader, t.path);
    Interruption::check(); // reading a template is the long part of a load: a signal ends it here
    if (!read) {
        addUnreadableTemplate(t);
        return;
    }
    t.row = addFileRow(t.root, m_reader->Title(), RowKey::of(t.number, QStringLiteral("-TEMPLATEFILE")),
                       fileName(t.path), t.path);
    if (FileExists(t.dataFile))
        addFileRow(t.row, RowText::DataFile, RowKey::of(t.number, QStringLiteral("-TSD")),
                   fileName(t.dataFile), t.dataFile);
    addApplicationFiles(t);
    addFieldGroups(t);
    addViews(t);
    m_reader->Close();
    m_grid.collapse(m_grid.nodeByKey(RowKey::of(t.number, QStringLiteral("-TEMPLATEFILE"))));
}

void CatalogueLoader::addUnreadableTemplate(Template& t)
{
    const QString name = fileName(t.path);
    t.row = addFileRow(t.root, name + RowText::Corrupted,
                       RowKey::of(t.number, QStringLiteral("-TEMPLATEFILE")), name, t.path);
    if (FileExists(t.dataFile))
        addFileRow(t.row, RowText::DataFile, RowKey::of(t.number, QStringLiteral("-TSD")),
                   fileName(t.dataFile), t.dataFile);
    if (FileExists(t.scriptFile))
        addFileRow(t.row, RowText::ScriptFile, RowKey::of(t.number, QStringLiteral("-TSX")),
                   fileName(t.scriptFile), t.scriptFile);
}

GridNode CatalogueLoader::addFileRow(GridNode parent, const QString& text, const QString& key,
                                     const QString& nameColumn, const QString& path)
{
    const GridNode node = m_grid.addNode(parent, text, key);
    m_grid.setNodeText(node, 1, nameColumn);
    m_grid.setNodeText(node, 2, path);
    m_grid.setNodePicture(node, CheckPicture::Included);
    return node;
}

void CatalogueLoader::addApplicationFiles(Template& t)
{
    const GridNode group =
        addFileRow(t.row, RowText::ApplicationFiles, RowKey::of(t.number, QStringLiteral("-APPFILES")),
                   QString(), QString());
    const auto addNamed = [&](const QString& path, const QString& found, const QString& text,
                              const char* suffix) {
        Debug::LogMessage(kModule, kLoadGrid, found + path);
        addFileRow(group, text, RowKey::of(t.number, QLatin1String(suffix)),
                   MakeRelativePath(path.toUpper(), m_state.CurrentFolder), path);
    };
    const QString pre = m_reader->PreProcessBatchFile();
    if (FileExists(pre))
        addNamed(pre, QStringLiteral("PreProcess file found: "), RowText::PreProcess, "-PRE");
    const QString log = m_reader->AuditLogFile();
    if (!log.isEmpty())
        addNamed(log, QStringLiteral("Log file found: "), RowText::LogFile, "-LOG");
    const QString post = m_reader->PostProcessBatchFile();
    if (FileExists(post))
        addNamed(post, QStringLiteral("PostProcess file found: "), RowText::PostProcess, "-POST");
    if (FileExists(t.scriptFile)) {
        Debug::LogMessage(kModule, kLoadGrid, QStringLiteral("Script file found: ") + t.scriptFile);
        addFileRow(group, RowText::ScriptFile, RowKey::of(t.number, QStringLiteral("-TSX")),
                   fileName(t.scriptFile), t.scriptFile);
    }
    removeIfEmpty(group);
}

void CatalogueLoader::addFieldGroups(Template& t)
{
    const auto group = [&](const QString& text, const char* suffix) {
        return addFileRow(t.row, text, RowKey::of(t.number, QLatin1String(suffix)), QString(), QString());
    };
    const auto forEachField = [&](const std::function<void(int, const TemplateField&)>& visit) {
        const Int16 count = Int16::fromWide(m_reader->fieldCount());
        for (Int16 j = 1; j <= count; ++j) {
            Interruption::check();
            visit(j, m_reader->field(j));
        }
    };

    const GridNode popups = group(RowText::PopupFiles, "-POPUPFILES");
    forEachField([&](int j, const TemplateField& field) {
        QString popup;
        require(m_paths->ChangeExtension(field.popupFile, QStringLiteral(".TPT"), popup), *m_paths,
                "ChangeExtension");
        if (field.kindCode == QLatin1String("P") || field.kindCode == QLatin1String("L"))
            addFileRow(popups, RowKey::fieldText(j, field.name), RowKey::ofField(t.number, j, "POPUP"),
                       fileName(popup), popup);
    });
    removeIfEmpty(popups);

    const auto namedFiles = [&](const QString& text, const char* suffix, const char* kind,
                                QString TemplateField::*member, bool rootedOnly) {
        const GridNode files = group(text, suffix);
        forEachField([&](int j, const TemplateField& field) {
            const QString& path = field.*member;
            if (!path.isEmpty() && (!rootedOnly || IsRootedPath(path)))
                addFileRow(files, RowKey::fieldText(j, field.name), RowKey::ofField(t.number, j, kind),
                           fileName(path), path);
        });
        removeIfEmpty(files);
    };
    namedFiles(RowText::InputFiles, "-INPUTFILES", "INPUT", &TemplateField::inputFile, true);
    namedFiles(RowText::OutputFiles, "-OUTPUTFILES", "OUTPUT", &TemplateField::outputFile, true);
    namedFiles(RowText::HelpFiles, "-HELPFILES", "HELP", &TemplateField::helpFile, false);
}

void CatalogueLoader::addViews(Template& t)
{
    m_reader->LoadViews();
    const GridNode views = addFileRow(
        t.row, RowText::Views, RowKey::of(t.number, QStringLiteral("-VIEWFILES")), QString(), QString());
    const Int16 count = Int16::fromWide(m_reader->viewCount());
    for (Int16 j = 1; j <= count; ++j) {
        const TemplateView view = m_reader->view(j);
        QString path;
        const QString extension = QLatin1Char('.') + t.viewStem + view.number.toString();
        require(m_paths->ChangeExtension(t.path, extension, path), *m_paths, "ChangeExtension");
        if (FileExists(path)) {
            const QString name = fileName(path);
            addFileRow(views, view.name, RowKey::of(t.number, QStringLiteral("-TVM-") + name), name, path);
        }
    }
    removeIfEmpty(views);
}

void CatalogueLoader::removeIfEmpty(GridNode group)
{
    if (m_grid.nodeChildren(group) == 0)
        m_grid.removeNode(group);
}
