#pragma once

#include "catalogue/CatalogueRows.h"
#include "outside/ComponentMakers.h"
#include "outside/ITreeGrid.h"

class IFolderTree;
class IMousePointer;
class IPathUtility;
class ITemplateReader;

// Fills the file grid for the folder selected in the folder tree: one row per template, and
// below it a row for every file the template names that passes the tests of its kind. Files are
// tested for existence only, never opened. Each load makes its own path utility and template reader.
class CatalogueLoader
{
public:
    CatalogueLoader(ControllerState& state, ITreeGrid& grid, IFolderTree& tree, IMousePointer& pointer,
                    Maker<IPathUtility> pathUtility, Maker<ITemplateReader> templateReader);

    void lstFolders_OnAfterNodeSelect();
    void LoadGrid(const QString& pattern);

private:
    struct Template;

    void loadTemplate(Template& t);
    void addUnreadableTemplate(Template& t);
    GridNode addFileRow(GridNode parent, const QString& text, const QString& key, const QString& nameColumn,
                        const QString& path);
    void addApplicationFiles(Template& t);
    void addFieldGroups(Template& t);
    void addViews(Template& t);
    void removeIfEmpty(GridNode group);
    QString fileName(const QString& path);

    ControllerState& m_state;
    ITreeGrid& m_grid;
    IFolderTree& m_tree;
    IMousePointer& m_pointer;
    const Maker<IPathUtility> m_makePaths;
    const Maker<ITemplateReader> m_makeReader;
    IPathUtility* m_paths = nullptr;     // for the length of one load
    ITemplateReader* m_reader = nullptr; // for the length of one load
};
