#include "platform/qt/GridView.h"

#include <QAccessible>
#include <QHeaderView>
#include <QMouseEvent>

GridView::GridView(OutlineGrid& grid, QWidget* parent) : QTreeView(parent), m_model(grid)
{
    setObjectName(QStringLiteral("grdfiles"));
    setModel(&m_model);
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setExpandsOnDoubleClick(false);
    setIconSize(QSize(13, 13));
    header()->setStretchLastSection(false);
    connect(&m_model, &GridItemModel::layoutSettingsChanged, this, &GridView::applyLayout);
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex& i) {
        if (const GridNode n = m_model.nodeOf(i); n != kNoNode)
            m_model.grid().SetExpanded(n, true);
    });
    connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& i) {
        if (const GridNode n = m_model.nodeOf(i); n != kNoNode)
            m_model.grid().SetExpanded(n, false);
    });
    applyLayout();
}

void GridView::setMouseUpHandler(std::function<void(int, int, double, double)> handler)
{
    m_mouseUp = std::move(handler);
}

void GridView::applyExpansion(const QModelIndex& parent)
{
    const int rows = m_model.rowCount(parent);
    for (int r = 0; r < rows; ++r) {
        const QModelIndex child = m_model.index(r, 0, parent);
        const GridNode node = m_model.nodeOf(child);
        if (node == kNoNode || m_model.grid().ChildrenOf(node).empty())
            continue;
        setExpanded(child, m_model.grid().IsExpanded(node));
        applyExpansion(child);
    }
}

void GridView::applyLayout()
{
    OutlineGrid& grid = m_model.grid();
    for (int c = 0; c < grid.Cols(); ++c)
        setColumnHidden(c, grid.IsColHidden(c));
    applyExpansion(QModelIndex());
    const int charWidth = fontMetrics().averageCharWidth();
    for (int c = 0; c < grid.Cols(); ++c)
        if (grid.ColWidthHint(c) > 0)
            setColumnWidth(c, grid.ColWidthHint(c) * charWidth + 2 * charWidth +
                                  (c == 0 ? iconSize().width() + indentation() : 0));
}

std::pair<int, int> GridView::cellAt(const QPoint& viewportPoint) const
{
    const QModelIndex index = indexAt(viewportPoint);
    const GridNode node = m_model.nodeOf(index);
    const int column = header()->logicalIndexAt(viewportPoint.x());
    if (node == kNoNode)
        return {-1, column};
    return {m_model.grid().NodeRow(node), column};
}

bool GridView::onIndicator(const QPoint& viewportPoint) const
{
    const QModelIndex index = indexAt(viewportPoint);
    if (!index.isValid() || index.column() != 0)
        return false;
    return viewportPoint.x() < visualRect(index).left(); // the outline area left of the cell
}

void GridView::mousePressEvent(QMouseEvent* event)
{
    m_pressOnIndicator = onIndicator(event->position().toPoint());
    QTreeView::mousePressEvent(event);
}

void GridView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // A second click is a click like the first: the grid rules see every release.
    m_pressOnIndicator = onIndicator(event->position().toPoint());
    QTreeView::mouseDoubleClickEvent(event);
}

void GridView::mouseReleaseEvent(QMouseEvent* event)
{
    QTreeView::mouseReleaseEvent(event);
    const QPoint at = event->position().toPoint();
    if (m_pressOnIndicator || onIndicator(at) || !m_mouseUp)
        return;
    const auto [row, column] = cellAt(at);
    m_model.grid().SetMouseCell(row, column);
    const int button = event->button() == Qt::LeftButton ? 1 : event->button() == Qt::RightButton ? 2 : 4;
    const int shift = (event->modifiers() & Qt::ShiftModifier ? 1 : 0) |
                      (event->modifiers() & Qt::ControlModifier ? 2 : 0) |
                      (event->modifiers() & Qt::AltModifier ? 4 : 0);
    m_mouseUp(button, shift, event->position().x(), event->position().y());
}

void GridView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                           const QList<int>& roles)
{
    // A click on a large group changes thousands of rows at once. Working out the rectangle of
    // each costs more than painting the few that show, so such a change repaints the viewport.
    constexpr int kManyRows = 256;
    if (bottomRight.row() - topLeft.row() < kManyRows) {
        QTreeView::dataChanged(topLeft, bottomRight, roles);
        return;
    }
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleTableModelChangeEvent event(this, QAccessibleTableModelChangeEvent::DataChanged);
        event.setFirstRow(topLeft.row());
        event.setFirstColumn(topLeft.column());
        event.setLastRow(bottomRight.row());
        event.setLastColumn(bottomRight.column());
        QAccessible::updateAccessibility(&event);
    }
}
