#include "components/OutlineGrid.h"

#include "base/RuntimeError.h"

#include <algorithm>

namespace {

const QString kSource = QStringLiteral("TreeGrid");

[[noreturn]] void noNode()
{
    raiseError(91, QStringLiteral("Object variable not set"), kSource);
}

} // namespace

struct OutlineGrid::RowData
{
    std::vector<Cell> cells;
    QString key;
    bool isNode = false;
    int level = 0;
    GridNode parent = kNoNode;
    int index = 0; // its place among its parent's children (or the top rows)
    std::vector<GridNode> children;
    bool expanded = true;
};

OutlineGrid::OutlineGrid()
{
    m_header = newRow(kNoNode, 0);
    at(m_header).index = -1; // not among the top rows
    m_hidden.assign(static_cast<size_t>(m_cols), false);
    m_widths.assign(static_cast<size_t>(m_cols), 0);
}

OutlineGrid::~OutlineGrid() = default;

void OutlineGrid::invalidRow(int row)
{
    raiseError(ErrorNumber::SubscriptOutOfRange, QStringLiteral("Subscript out of range (row %1)").arg(row),
               kSource);
}

OutlineGrid::RowData& OutlineGrid::at(GridNode node)
{
    return const_cast<RowData&>(std::as_const(*this).at(node));
}

const OutlineGrid::RowData& OutlineGrid::at(GridNode node) const
{
    if (node < 0 || static_cast<size_t>(node) >= m_slots.size() || !m_slots[static_cast<size_t>(node)])
        noNode();
    return *m_slots[static_cast<size_t>(node)];
}

GridNode OutlineGrid::newRow(GridNode parent, int level)
{
    auto row = std::make_unique<RowData>();
    row->cells.resize(static_cast<size_t>(m_cols));
    row->parent = parent;
    row->level = level;
    m_slots.push_back(std::move(row));
    m_flatValid = false;
    return static_cast<GridNode>(m_slots.size() - 1);
}

const std::vector<GridNode>& OutlineGrid::flat() const
{
    if (m_flatValid)
        return m_flat;
    m_flat.clear();
    m_flat.push_back(m_header);
    std::vector<GridNode> stack(m_top.rbegin(), m_top.rend());
    while (!stack.empty()) {
        const GridNode node = stack.back();
        stack.pop_back();
        m_flat.push_back(node);
        const auto& children = at(node).children;
        stack.insert(stack.end(), children.rbegin(), children.rend());
    }
    m_rowOf.assign(m_slots.size(), -1);
    for (size_t i = 0; i < m_flat.size(); ++i)
        m_rowOf[static_cast<size_t>(m_flat[i])] = static_cast<int>(i);
    m_flatValid = true;
    return m_flat;
}

GridNode OutlineGrid::rowNode(int row) const
{
    const auto& rows = flat();
    if (row < 0 || static_cast<size_t>(row) >= rows.size())
        invalidRow(row);
    return rows[static_cast<size_t>(row)];
}

OutlineGrid::Cell& OutlineGrid::cellAt(int row, int col)
{
    return const_cast<Cell&>(std::as_const(*this).cellAt(row, col));
}

const OutlineGrid::Cell& OutlineGrid::cellAt(int row, int col) const
{
    if (col < 0 || col >= m_cols)
        raiseError(ErrorNumber::SubscriptOutOfRange,
                   QStringLiteral("Subscript out of range (column %1)").arg(col), kSource);
    return at(rowNode(row)).cells[static_cast<size_t>(col)];
}

void OutlineGrid::notify(Change change, GridNode node)
{
    if (m_listener)
        m_listener(change, node);
}

int OutlineGrid::rows() const
{
    return static_cast<int>(flat().size());
}

void OutlineGrid::setRows(int rows)
{
    if (rows < 1)
        raiseError(ErrorNumber::InvalidArgument, QStringLiteral("Invalid row count"), kSource);
    const std::vector<GridNode> order = flat();
    // The rows cut off are a tail of the pre-order: each whole subtree in it goes at once, and
    // it and its later siblings are the tail of their parent's children.
    for (size_t i = static_cast<size_t>(rows); i < order.size(); ++i) {
        const GridNode node = order[i];
        if (!m_slots[static_cast<size_t>(node)])
            continue;
        const RowData& row = at(node);
        auto& holder = row.parent == kNoNode ? m_top : at(row.parent).children;
        if (holder.size() > static_cast<size_t>(row.index))
            holder.resize(static_cast<size_t>(row.index));
        freeSubtree(node);
    }
    for (int i = static_cast<int>(order.size()); i < rows; ++i) {
        const GridNode node = newRow(kNoNode, 0);
        at(node).index = static_cast<int>(m_top.size());
        m_top.push_back(node);
    }
    m_flatValid = false;
    notify(Change::Structure);
}

void OutlineGrid::setCols(int cols)
{
    if (cols < 1)
        raiseError(ErrorNumber::InvalidArgument, QStringLiteral("Invalid column count"), kSource);
    m_cols = cols;
    for (auto& slot : m_slots)
        if (slot)
            slot->cells.resize(static_cast<size_t>(cols));
    m_hidden.resize(static_cast<size_t>(cols), false);
    m_widths.resize(static_cast<size_t>(cols), 0);
    notify(Change::Structure);
}

QString OutlineGrid::textMatrix(int row, int col) const
{
    return cellAt(row, col).text;
}

void OutlineGrid::setTextMatrix(int row, int col, const QString& text)
{
    cellAt(row, col).text = text;
    notify(Change::Cells, rowNode(row));
}

int OutlineGrid::cellPicture(int row, int col) const
{
    return cellAt(row, col).picture;
}

void OutlineGrid::setCellPicture(int row, int col, int picture)
{
    cellAt(row, col).picture = picture;
    notify(Change::Cells, rowNode(row));
}

void OutlineGrid::setCellColors(int row1, int col1, int row2, int col2, GridColor back, GridColor fore)
{
    for (int r = std::min(row1, row2); r <= std::max(row1, row2); ++r) {
        for (int c = std::min(col1, col2); c <= std::max(col1, col2); ++c) {
            Cell& cell = cellAt(r, c);
            cell.back = back;
            cell.fore = fore;
        }
        notify(Change::Cells, rowNode(r));
    }
}

void OutlineGrid::setColHidden(int col, bool hidden)
{
    if (col < 0 || col >= m_cols)
        invalidRow(col);
    m_hidden[static_cast<size_t>(col)] = hidden;
    notify(Change::Layout);
}

void OutlineGrid::autoSize(int col1, int col2)
{
    const auto& rows = flat();
    for (int c = std::max(0, col1); c <= std::min(col2, m_cols - 1); ++c) {
        int widest = 0;
        for (const GridNode node : rows) {
            const RowData& row = at(node);
            const int indent = c == 0 ? 2 * row.level + 3 : 0; // outline and picture in column 0
            widest =
                std::max(widest, static_cast<int>(row.cells[static_cast<size_t>(c)].text.size()) + indent);
        }
        m_widths[static_cast<size_t>(c)] = widest;
    }
    notify(Change::Layout);
}

void OutlineGrid::select(int row, int col)
{
    rowNode(row);
    if (col < 0 || col >= m_cols)
        invalidRow(col);
    m_row = row;
}

void OutlineGrid::setIsNode(int row, bool isNode)
{
    RowData& data = at(rowNode(row));
    data.isNode = isNode;
    if (isNode && !data.key.isEmpty())
        m_keys.insert(data.key, rowNode(row));
}

GridNode OutlineGrid::nodeOfRow(int row) const
{
    const GridNode node = rowNode(row);
    if (!at(node).isNode)
        noNode();
    return node;
}

GridNode OutlineGrid::nodeByKey(const QString& key) const
{
    return m_keys.value(key, kNoNode);
}

QString OutlineGrid::nodeKey(GridNode node) const
{
    return at(node).key;
}

int OutlineGrid::nodeRow(GridNode node) const
{
    at(node);
    flat();
    return m_rowOf[static_cast<size_t>(node)];
}

int OutlineGrid::nodeLevel(GridNode node) const
{
    return at(node).level;
}

int OutlineGrid::nodeChildren(GridNode node) const
{
    return static_cast<int>(at(node).children.size());
}

GridNode OutlineGrid::nodeParent(GridNode node) const
{
    return at(node).parent;
}

GridNode OutlineGrid::nodeFirstChild(GridNode node) const
{
    const auto& children = at(node).children;
    return children.empty() ? kNoNode : children.front();
}

GridNode OutlineGrid::nodeNextSibling(GridNode node) const
{
    const RowData& row = at(node);
    const auto& siblings = childrenOf(row.parent);
    const auto next = static_cast<size_t>(row.index) + 1;
    return row.index >= 0 && next < siblings.size() ? siblings[next] : kNoNode;
}

GridNode OutlineGrid::addNode(GridNode parent, const QString& text, const QString& key)
{
    const int level = at(parent).level + 1;
    const GridNode node = newRow(parent, level);
    RowData& data = at(node);
    data.isNode = true;
    data.key = key;
    data.cells[0].text = text;
    auto& siblings = at(parent).children;
    data.index = static_cast<int>(siblings.size());
    siblings.push_back(node);
    if (!key.isEmpty() && !m_keys.contains(key))
        m_keys.insert(key, node);
    notify(Change::Structure, node);
    return node;
}

void OutlineGrid::detach(GridNode node)
{
    const RowData& row = at(node);
    auto& holder = row.parent == kNoNode ? m_top : at(row.parent).children;
    holder.erase(holder.begin() + row.index);
    for (size_t i = static_cast<size_t>(row.index); i < holder.size(); ++i)
        at(holder[i]).index = static_cast<int>(i);
}

void OutlineGrid::dropSubtree(GridNode node)
{
    detach(node);
    freeSubtree(node);
}

void OutlineGrid::freeSubtree(GridNode node)
{
    std::vector<GridNode> pending{node};
    while (!pending.empty()) {
        const GridNode n = pending.back();
        pending.pop_back();
        RowData& data = at(n);
        pending.insert(pending.end(), data.children.begin(), data.children.end());
        const auto it = m_keys.constFind(data.key);
        if (it != m_keys.cend() && *it == n)
            m_keys.erase(it);
        m_slots[static_cast<size_t>(n)].reset();
    }
    m_flatValid = false;
}

void OutlineGrid::removeNode(GridNode node)
{
    at(node);
    if (node == m_header)
        noNode();
    dropSubtree(node);
    notify(Change::Structure);
}

void OutlineGrid::collapse(GridNode node)
{
    at(node).expanded = false;
    notify(Change::Layout, node);
}

void OutlineGrid::setNodeText(GridNode node, int col, const QString& text)
{
    if (col < 0 || col >= m_cols)
        invalidRow(col);
    at(node).cells[static_cast<size_t>(col)].text = text;
    notify(Change::Cells, node);
}

int OutlineGrid::nodePicture(GridNode node) const
{
    return at(node).cells[0].picture;
}

void OutlineGrid::setNodePicture(GridNode node, int picture)
{
    at(node).cells[0].picture = picture;
    notify(Change::Cells, node);
}

bool OutlineGrid::contains(GridNode node) const
{
    return node >= 0 && static_cast<size_t>(node) < m_slots.size() && m_slots[static_cast<size_t>(node)];
}

void OutlineGrid::setMouseCell(int row, int col)
{
    m_mouseRow = row;
    m_mouseCol = col;
}

const std::vector<GridNode>& OutlineGrid::childrenOf(GridNode node) const
{
    return node == kNoNode ? m_top : at(node).children;
}

GridNode OutlineGrid::parentOf(GridNode node) const
{
    return at(node).parent;
}

int OutlineGrid::indexInParent(GridNode node) const
{
    return at(node).index;
}

const OutlineGrid::Cell& OutlineGrid::cellOf(GridNode node, int col) const
{
    return at(node).cells[static_cast<size_t>(col)];
}

bool OutlineGrid::isExpanded(GridNode node) const
{
    return at(node).expanded;
}

void OutlineGrid::setExpanded(GridNode node, bool expanded)
{
    at(node).expanded = expanded;
}

bool OutlineGrid::isColHidden(int col) const
{
    return col >= 0 && col < m_cols && m_hidden[static_cast<size_t>(col)];
}

int OutlineGrid::colWidthHint(int col) const
{
    return col >= 0 && col < m_cols ? m_widths[static_cast<size_t>(col)] : 0;
}

QString OutlineGrid::headerText(int col) const
{
    return col >= 0 && col < m_cols ? at(m_header).cells[static_cast<size_t>(col)].text : QString();
}

void OutlineGrid::setChangeListener(std::function<void(Change, GridNode)> listener)
{
    m_listener = std::move(listener);
}
