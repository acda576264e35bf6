#include "desktop/GridItemModel.h"

#include "diag/ErrorTrap.h"

#include <QApplication>
#include <QPalette>
#include <QTimer>

GridItemModel::GridItemModel(OutlineGrid& grid, QObject* parent) : QAbstractItemModel(parent), m_grid(grid)
{
    m_grid.setChangeListener([this](OutlineGrid::Change change, GridNode node) { onChange(change, node); });
}

GridItemModel::~GridItemModel()
{
    m_grid.setChangeListener({});
}

const QPixmap& GridItemModel::picture(int number)
{
    static const std::array<QPixmap, 3> pictures{QPixmap(QStringLiteral(":/pictures/check-included.png")),
                                                 QPixmap(QStringLiteral(":/pictures/check-partly.png")),
                                                 QPixmap(QStringLiteral(":/pictures/check-excluded.png"))};
    static const QPixmap none;
    return number >= 1 && number <= 3 ? pictures[static_cast<size_t>(number - 1)] : none;
}

void GridItemModel::onChange(OutlineGrid::Change change, GridNode node)
{
    switch (change) {
    case OutlineGrid::Change::Structure:
        if (!m_resetPending) {
            m_resetPending = true;
            m_changedRows.clear();
            m_changedParents.clear();
            beginResetModel();
            QTimer::singleShot(0, this, guarded([this] { flush(); }));
        }
        break;
    case OutlineGrid::Change::Cells:
        if (!m_resetPending && node != kNoNode && m_grid.contains(node))
            noteCellChange(node);
        break;
    case OutlineGrid::Change::Layout:
        if (!m_resetPending)
            Q_EMIT layoutSettingsChanged();
        break;
    }
}

void GridItemModel::noteCellChange(GridNode node)
{
    const int row = m_grid.indexInParent(node);
    if (row < 0) { // the header row
        Q_EMIT headerDataChanged(Qt::Horizontal, 0, m_grid.cols() - 1);
        return;
    }
    if (m_changedRows.empty())
        QMetaObject::invokeMethod(this, guarded([this] { tellCellChanges(); }), Qt::QueuedConnection);
    const GridNode parent = m_grid.parentOf(node);
    RowRange* range = nullptr;
    if (!m_changedRows.empty() && m_changedRows.back().first == parent) {
        range = &m_changedRows.back().second;
    } else if (const auto it = m_changedParents.constFind(parent); it != m_changedParents.cend()) {
        range = &m_changedRows[*it].second;
    } else {
        m_changedParents.insert(parent, m_changedRows.size());
        m_changedRows.push_back({parent, RowRange{row, row}});
        return;
    }
    range->first = std::min(range->first, row);
    range->last = std::max(range->last, row);
}

void GridItemModel::tellCellChanges()
{
    const auto changed = std::exchange(m_changedRows, {});
    m_changedParents.clear();
    if (m_resetPending)
        return;
    for (const auto& [parent, rows] : changed) {
        if (parent != kNoNode && !m_grid.contains(parent))
            continue;
        const QModelIndex parentIndex = indexOf(parent);
        const int last = std::min(rows.last, rowCount(parentIndex) - 1);
        if (rows.first <= last)
            Q_EMIT dataChanged(index(rows.first, 0, parentIndex),
                               index(last, m_grid.cols() - 1, parentIndex));
    }
}

void GridItemModel::flush()
{
    if (!m_resetPending)
        return;
    m_resetPending = false;
    endResetModel();
    Q_EMIT layoutSettingsChanged();
}

GridNode GridItemModel::nodeOf(const QModelIndex& index) const
{
    if (!index.isValid())
        return kNoNode;
    const auto node = static_cast<GridNode>(index.internalId());
    return m_grid.contains(node) ? node : kNoNode;
}

QModelIndex GridItemModel::indexOf(GridNode node, int column) const
{
    if (!m_grid.contains(node))
        return {};
    return createIndex(m_grid.indexInParent(node), column, static_cast<quintptr>(node));
}

QModelIndex GridItemModel::index(int row, int column, const QModelIndex& parent) const
{
    if (m_resetPending || column < 0 || column >= m_grid.cols())
        return {};
    const GridNode parentNode = parent.isValid() ? nodeOf(parent) : kNoNode;
    if (parent.isValid() && parentNode == kNoNode)
        return {};
    const auto& children = m_grid.childrenOf(parentNode);
    if (row < 0 || static_cast<size_t>(row) >= children.size())
        return {};
    return createIndex(row, column, static_cast<quintptr>(children[static_cast<size_t>(row)]));
}

QModelIndex GridItemModel::parent(const QModelIndex& child) const
{
    const GridNode node = nodeOf(child);
    if (node == kNoNode)
        return {};
    const GridNode parentNode = m_grid.parentOf(node);
    return parentNode == kNoNode ? QModelIndex() : indexOf(parentNode);
}

int GridItemModel::rowCount(const QModelIndex& parent) const
{
    if (m_resetPending || parent.column() > 0)
        return 0;
    if (!parent.isValid())
        return static_cast<int>(m_grid.topRows().size());
    const GridNode node = nodeOf(parent);
    return node == kNoNode ? 0 : static_cast<int>(m_grid.childrenOf(node).size());
}

int GridItemModel::columnCount(const QModelIndex&) const
{
    return m_grid.cols();
}

QVariant GridItemModel::data(const QModelIndex& index, int role) const
{
    const GridNode node = nodeOf(index);
    if (node == kNoNode || index.column() >= m_grid.cols())
        return {};
    const OutlineGrid::Cell& cell = m_grid.cellOf(node, index.column());
    switch (role) {
    case Qt::DisplayRole:
        return cell.text;
    case Qt::DecorationRole:
        return cell.picture > 0 ? QVariant(picture(cell.picture)) : QVariant();
    // The picture's meaning, for assistive tools: the view shows the picture.
    case Qt::CheckStateRole:
        return cell.picture >= 1 && cell.picture <= 3
                   ? QVariant(std::array{Qt::Checked, Qt::PartiallyChecked, Qt::Unchecked}[cell.picture - 1])
                   : QVariant();
    case Qt::AccessibleDescriptionRole:
        return cell.picture >= 1 && cell.picture <= 3
                   ? QVariant(
                         std::array{tr("included"), tr("partly included"), tr("excluded")}[cell.picture - 1])
                   : QVariant();
    case Qt::BackgroundRole:
        if (cell.back == GridColor::SystemHighlight)
            return QApplication::palette().brush(QPalette::Highlight);
        if (cell.back == GridColor::White)
            return QBrush(Qt::white);
        return {};
    case Qt::ForegroundRole:
        if (cell.fore == GridColor::White)
            return QBrush(Qt::white);
        if (cell.fore == GridColor::SystemHighlight)
            return QApplication::palette().brush(QPalette::Highlight);
        return {};
    default:
        return {};
    }
}

Qt::ItemFlags GridItemModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags flags = QAbstractItemModel::flags(index);
    if (data(index, Qt::CheckStateRole).isValid())
        flags |= Qt::ItemIsUserCheckable; // so assistive tools read the state; clicks go to the grid's rules
    return flags;
}

QVariant GridItemModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return m_grid.headerText(section);
}
