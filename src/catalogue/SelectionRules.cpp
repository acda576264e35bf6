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
    runQuietly([this] {
        Debug::LogMessage(kModule, QStringLiteral("grdFiles_Mouseup"), kStart);
        if (m_grid.mouseCol() != 0)
            return;
        m_grid.select(m_grid.mouseRow(), 0);
        const GridNode clicked = m_grid.nodeOfRow(m_grid.row());
        if (m_grid.nodeKey(clicked).contains(QLatin1String("-TVM"))) {
            m_messageBox.showMessage(QStringLiteral("You cannot select individual Views!"),
                                     MessageIcon::Exclamation, m_programName);
            return;
        }
        const bool include = m_grid.nodePicture(clicked) == CheckPicture::Excluded;
        m_grid.setNodePicture(clicked, include ? CheckPicture::Included : CheckPicture::Excluded);
        SelectChildren(clicked, !include);
        SelectParent(clicked, include);
    });
}

void SelectionRules::SelectChildren(GridNode row, const bool& exclude)
{
    Debug::LogMessage(kModule, QStringLiteral("SelectChildren"), kStart);
    GridNode child = m_grid.nodeFirstChild(row);
    const int count = m_grid.nodeChildren(row);
    for (int i = 0; i < count; ++i) {
        m_grid.setNodePicture(child, exclude ? CheckPicture::Excluded : CheckPicture::Included);
        if (m_grid.nodeChildren(child) > 0)
            SelectChildren(child, exclude);
        child = m_grid.nodeNextSibling(child);
    }
}

bool SelectionRules::childrenDiffer(GridNode parent, int picture) const
{
    GridNode child = m_grid.nodeFirstChild(parent);
    const int count = m_grid.nodeChildren(parent);
    for (int i = 0; i < count; ++i) {
        if (m_grid.nodePicture(child) != picture)
            return true;
        child = m_grid.nodeNextSibling(child);
    }
    return false;
}

void SelectionRules::SelectParent(GridNode row, bool include)
{
    Debug::LogMessage(kModule, QStringLiteral("SelectParent"), kStart);
    const int settled = include ? CheckPicture::Included : CheckPicture::Excluded;
    GridNode parent = m_grid.nodeParent(row);
    int state = m_grid.nodePicture(row);
    bool mixed = childrenDiffer(parent, state);
    state = mixed ? CheckPicture::PartlyIncluded : settled;
    m_grid.setNodePicture(parent, state);
    // Walk up until a recomputed row of level 1 or 0: templates and the root end the walk.
    while (m_grid.nodeLevel(parent) > 1) {
        parent = m_grid.nodeParent(parent);
        if (state == CheckPicture::PartlyIncluded) {
            m_grid.setNodePicture(parent, CheckPicture::PartlyIncluded);
            continue;
        }
        mixed = mixed || childrenDiffer(parent, state);
        m_grid.setNodePicture(parent, mixed ? CheckPicture::PartlyIncluded : settled);
    }
}
