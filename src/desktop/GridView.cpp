#include "desktop/GridView.h"

#include "diag/ErrorTrap.h"

#include <QAccessible>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QStyle>
#include <QStyledItemDelegate>

#include <array>

namespace {

// The check state is there for assistive tools: the grid shows its own pictures, no check box,
// and its clicks go to the grid's rules alone.
class PictureDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->features &= ~QStyleOptionViewItem::HasCheckIndicator;
    }
    bool editorEvent(QEvent*, QAbstractItemModel*, const QStyleOptionViewItem&, const QModelIndex&) override
    {
        return false;
    }
};

} // namespace

GridView::GridView(OutlineGrid& grid, QWidget* parent) : QTreeView(parent), m_model(grid)
{
    setObjectName(QStringLiteral("grdfiles"));
    setAccessibleName(tr("Files"));
    setModel(&m_model);
    setItemDelegate(new PictureDelegate(this));
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setExpandsOnDoubleClick(false);
    setIconSize(QSize(13, 13));
    header()->setStretchLastSection(true); // the last column shown takes the rest of the width
    setTextElideMode(Qt::ElideMiddle);     // a long description keeps its start and its end
    connect(&m_model, &GridItemModel::layoutSettingsChanged, this, guarded([this] { applyLayout(); }));
    connect(this, &QTreeView::expanded, this,
            guarded([this](const QModelIndex& i) { setExpandedNode(i, true); }));
    connect(this, &QTreeView::collapsed, this,
            guarded([this](const QModelIndex& i) { setExpandedNode(i, false); }));
    applyLayout();
}

void GridView::setExpandedNode(const QModelIndex& index, bool expanded)
{
    if (const GridNode n = m_model.nodeOf(index); n != kNoNode)
        m_model.grid().setExpanded(n, expanded);
    fitOutline();
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
        if (node == kNoNode || m_model.grid().childrenOf(node).empty())
            continue;
        setExpanded(child, m_model.grid().isExpanded(node));
        applyExpansion(child);
    }
}

void GridView::applyLayout()
{
    OutlineGrid& grid = m_model.grid();
    for (int c = 0; c < grid.cols(); ++c)
        setColumnHidden(c, grid.isColHidden(c));
    {
        const QScopedValueRollback<bool> once(m_layingOut, true); // one fit for all the rows
        applyExpansion(QModelIndex());
    }
    fitOutline();
    for (int c = 1; c < grid.cols(); ++c)
        if (grid.colWidthHint(c) > 0 && !grid.isColHidden(c))
            setColumnWidth(c, textWidth(c));
    m_namesWidth = grid.cols() > 1 && !grid.isColHidden(1) ? textWidth(1) : 0;
    keepFilenamesInView();
}

// The outline column fits the rows that are shown, and follows them as rows expand and collapse,
// so that at first the file names stand beside the templates. It is measured on expanding and
// collapsing only: a click that changes ten thousand pictures does not measure anything.
void GridView::fitOutline()
{
    if (m_layingOut || m_model.grid().colWidthHint(0) <= 0)
        return;
    resizeColumnToContents(0);
    keepFilenamesInView();
}

// The descriptions give way to the file names: the outline column takes no more than what leaves
// the Filename column its widest name, or half the view when the names are wider still.
void GridView::keepFilenamesInView()
{
    const int view = viewport()->width();
    const int names = std::min(m_namesWidth, view / 2);
    const int room = view - names;
    if (room > 0 && columnWidth(0) > room)
        setColumnWidth(0, room);
}

void GridView::resizeEvent(QResizeEvent* event)
{
    QTreeView::resizeEvent(event);
    guarded([this] {
        if (m_model.grid().colWidthHint(0) > 0 && !m_layingOut) {
            resizeColumnToContents(0);
            keepFilenamesInView();
        }
    })();
}

// The widest text of a column in the view's font, over every row, collapsed ones too, so that
// expanding a row never cuts a file name. Texts of plain ASCII, nearly all of them, are summed
// from a table of character widths: tens of thousands of rows cost a millisecond or two.
int GridView::textWidth(int column) const
{
    const OutlineGrid& grid = m_model.grid();
    const QFontMetrics metrics = fontMetrics();
    std::array<int, 128> ascii{};
    for (char16_t c = 0; c < ascii.size(); ++c)
        ascii[c] = metrics.horizontalAdvance(QChar(c));
    const auto width = [&](const QString& text) {
        int sum = 0;
        for (const QChar c : text) {
            if (c.unicode() >= ascii.size())
                return metrics.horizontalAdvance(text);
            sum += ascii[c.unicode()];
        }
        return sum;
    };
    int widest = width(grid.headerText(column));
    const auto walk = [&](const auto& self, const std::vector<GridNode>& rows) -> void {
        for (const GridNode node : rows) {
            widest = std::max(widest, width(grid.cellOf(node, column).text));
            self(self, grid.childrenOf(node));
        }
    };
    walk(walk, grid.topRows());
    return widest + 2 * metrics.averageCharWidth();
}

void GridView::changeEvent(QEvent* event)
{
    guarded([&] {
        QTreeView::changeEvent(event);
        if (event->type() == QEvent::FontChange)
            applyLayout();
    })();
}

std::pair<int, int> GridView::cellAt(const QPoint& viewportPoint) const
{
    const QModelIndex index = indexAt(viewportPoint);
    const GridNode node = m_model.nodeOf(index);
    const int column = header()->logicalIndexAt(viewportPoint.x());
    if (node == kNoNode)
        return {-1, column};
    return {m_model.grid().nodeRow(node), column};
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
    guarded([&] {
        m_pressOnIndicator = onIndicator(event->position().toPoint());
        QTreeView::mousePressEvent(event);
    })();
}

void GridView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // A second click is a click like the first: the grid rules see every release.
    guarded([&] {
        m_pressOnIndicator = onIndicator(event->position().toPoint());
        QTreeView::mouseDoubleClickEvent(event);
    })();
}

void GridView::keyPressEvent(QKeyEvent* event)
{
    guarded([&] {
        const QModelIndex current = currentIndex();
        const GridNode node = m_model.nodeOf(current);
        if ((event->key() != Qt::Key_Space && event->key() != Qt::Key_Select) || node == kNoNode ||
            !m_mouseUp) {
            QTreeView::keyPressEvent(event);
            return;
        }
        // A click on the check picture of the current row: the same rules, the same messages.
        m_model.grid().setMouseCell(m_model.grid().nodeRow(node), 0);
        m_mouseUp(1, 0, -1, -1);
    })();
}

void GridView::mouseReleaseEvent(QMouseEvent* event)
{
    guarded([&] {
        QTreeView::mouseReleaseEvent(event);
        const QPoint at = event->position().toPoint();
        if (m_pressOnIndicator || onIndicator(at) || !m_mouseUp)
            return;
        const auto [row, column] = cellAt(at);
        m_model.grid().setMouseCell(row, column);
        const int button = event->button() == Qt::LeftButton ? 1 : event->button() == Qt::RightButton ? 2 : 4;
        const int shift = (event->modifiers() & Qt::ShiftModifier ? 1 : 0) |
                          (event->modifiers() & Qt::ControlModifier ? 2 : 0) |
                          (event->modifiers() & Qt::AltModifier ? 4 : 0);
        m_mouseUp(button, shift, event->position().x(), event->position().y());
    })();
}

void GridView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                           const QList<int>& roles)
{
    // A click on a large group changes thousands of rows at once. Working out the rectangle of
    // each costs more than painting the few that show, so such a change repaints the viewport.
    guarded([&] {
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
    })();
}
