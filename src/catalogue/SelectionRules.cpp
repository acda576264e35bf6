#include "catalogue/SelectionRules.h"

#include "catalogue/CatalogueRows.h"
#include "diag/Debug.h"
#include "diag/ErrorTrap.h"
#include "outside/IDesktop.h"

namespace {

const QString kModule = QStringLiteral("frmSatchel");
const QString kStart = QStringLiteral("Start");

} // namespace

SelectionRules::SelectionRules(ITreeGrid& grid, IMessageBox& messageBox, QString programName)
    : m_grid(grid), m_messageBox(messageBox), m_programName(std::move(programName))
{}

void SelectionRules::grdFiles_Mouseup(int, int, double, double)
{
    // Any error ends the click quietly; pictures already changed stay changed.
    RunQuietly([this] {
        Debug::LogMessage(kModule, QStringLiteral("grdFiles_Mouseup"), kStart);
        if (m_grid.MouseCol() != 0)
            return;
        m_grid.Select(m_grid.MouseRow(), 0);
        const GridNode clicked = m_grid.NodeOfRow(m_grid.Row());
        if (m_grid.NodeKey(clicked).contains(QLatin1String("-TVM"))) {
            m_messageBox.Show(QStringLiteral("You cannot select individual Views!"), MessageIcon::Exclamation,
                              m_programName);
            return;
        }
        const bool include = m_grid.NodePicture(clicked) == CheckPicture::Excluded;
        m_grid.SetNodePicture(clicked, include ? CheckPicture::Included : CheckPicture::Excluded);
        SelectChildren(clicked, !include);
        SelectParent(clicked, include);
    });
}

void SelectionRules::SelectChildren(GridNode row, const bool& exclude)
{
    Debug::LogMessage(kModule, QStringLiteral("SelectChildren"), kStart);
    GridNode child = m_grid.NodeFirstChild(row);
    const int count = m_grid.NodeChildren(row);
    for (int i = 0; i < count; ++i) {
        m_grid.SetNodePicture(child, exclude ? CheckPicture::Excluded : CheckPicture::Included);
        if (m_grid.NodeChildren(child) > 0)
            SelectChildren(child, exclude);
        child = m_grid.NodeNextSibling(child);
    }
}

bool SelectionRules::childrenDiffer(GridNode parent, int picture) const
{
    GridNode child = m_grid.NodeFirstChild(parent);
    const int count = m_grid.NodeChildren(parent);
    for (int i = 0; i < count; ++i) {
        if (m_grid.NodePicture(child) != picture)
            return true;
        child = m_grid.NodeNextSibling(child);
    }
    return false;
}

void SelectionRules::SelectParent(GridNode row, bool include)
{
    Debug::LogMessage(kModule, QStringLiteral("SelectParent"), kStart);
    const int settled = include ? CheckPicture::Included : CheckPicture::Excluded;
    GridNode parent = m_grid.NodeParent(row);
    int state = m_grid.NodePicture(row);
    bool mixed = childrenDiffer(parent, state);
    state = mixed ? CheckPicture::PartlyIncluded : settled;
    m_grid.SetNodePicture(parent, state);
    // Walk up until a recomputed row of level 1 or 0: templates and the root end the walk.
    while (m_grid.NodeLevel(parent) > 1) {
        parent = m_grid.NodeParent(parent);
        if (state == CheckPicture::PartlyIncluded) {
            m_grid.SetNodePicture(parent, CheckPicture::PartlyIncluded);
            continue;
        }
        mixed = mixed || childrenDiffer(parent, state);
        m_grid.SetNodePicture(parent, mixed ? CheckPicture::PartlyIncluded : settled);
    }
}
