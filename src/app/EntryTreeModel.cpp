#include "app/EntryTreeModel.h"

#include "base/ShownText.h"

#include <QApplication>
#include <QFont>
#include <QLocale>
#include <QStyle>
#include <QTextDocument>

namespace {

// The rows with their states made harmless to show, an unsafe name's reason added.
std::vector<EntryRow> shownRows(std::vector<EntryRow> rows)
{
    for (EntryRow& row : rows) {
        row.state = shownText(row.state);
        if (!row.unsafe.isEmpty())
            row.state += EntryTreeModel::tr("; unsafe name: %1").arg(shownText(row.unsafe));
    }
    return rows;
}

} // namespace

EntryTreeModel::EntryTreeModel(std::vector<EntryRow> rows, QObject* parent)
    : QAbstractItemModel(parent), m_rows(shownRows(std::move(rows))),
      m_tree(int(m_rows.size()), [this](int i) {
          const EntryRow& row = m_rows[size_t(i)];
          return EntryTree::Source{row.name, row.folder, !row.unsafe.isEmpty()};
      })
{
    const QStyle* style = QApplication::style();
    m_folderIcon = style->standardIcon(QStyle::SP_DirIcon);
    m_fileIcon = style->standardIcon(QStyle::SP_FileIcon);
    m_unsafeIcon = style->standardIcon(QStyle::SP_MessageBoxWarning);
}

QModelIndex EntryTreeModel::indexOfEntry(qsizetype entry) const
{
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].entry == entry) {
            const int node = m_tree.nodeOfSource(int(i));
            return createIndex(m_tree.node(node).row, 0, quintptr(node));
        }
    return {};
}

void EntryTreeModel::setNameFilter(const QString& text)
{
    m_shown = text.isEmpty() ? std::vector<bool>() : m_tree.shownFor(text);
}

bool EntryTreeModel::shownByFilter(const QModelIndex& index) const
{
    return m_shown.empty() || m_shown[size_t(nodeOf(index))];
}

int EntryTreeModel::nodeOf(const QModelIndex& index) const
{
    return index.isValid() ? int(index.internalId()) : 0;
}

QModelIndex EntryTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != Name)
        return {};
    const Node& node = m_tree.node(nodeOf(parent));
    if (row < 0 || row >= int(node.children.size()) || column < 0 || column >= Columns)
        return {};
    return createIndex(row, column, quintptr(node.children[size_t(row)]));
}

QModelIndex EntryTreeModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return {};
    const int parentNode = m_tree.node(nodeOf(child)).parent;
    if (parentNode <= 0)
        return {};
    return createIndex(m_tree.node(parentNode).row, 0, quintptr(parentNode));
}

int EntryTreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != Name)
        return 0;
    return int(m_tree.node(nodeOf(parent)).children.size());
}

int EntryTreeModel::columnCount(const QModelIndex&) const
{
    return Columns;
}

Qt::ItemFlags EntryTreeModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    const Node& node = m_tree.node(nodeOf(index));
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable |
           (node.children.empty() ? Qt::ItemNeverHasChildren : Qt::NoItemFlags);
}

QVariant EntryTreeModel::display(const Node& node, int column) const
{
    const EntryRow* row = node.source >= 0 ? &m_rows[size_t(node.source)] : nullptr;
    switch (column) {
    case Name:
        return node.name;
    case Size:
        if (!row || row->folder)
            return {};
        return row->size == ~quint64(0) ? tr("unknown") : QLocale().toString(row->size);
    case Modified:
        return row && row->modified.isValid() ? row->modified.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                              : QString();
    case State:
        return row ? row->state : QString();
    default:
        return {};
    }
}

QVariant EntryTreeModel::sortKey(const Node& node, int column) const
{
    const EntryRow* row = node.source >= 0 ? &m_rows[size_t(node.source)] : nullptr;
    switch (column) {
    case Size:
        return row && !row->folder ? row->size : quint64(0);
    case Modified:
        return row ? row->modified : QDateTime();
    default:
        return display(node, column);
    }
}

QVariant EntryTreeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const Node& node = m_tree.node(nodeOf(index));
    const EntryRow* row = node.source >= 0 ? &m_rows[size_t(node.source)] : nullptr;
    const bool marked = row && (row->problem || !row->unsafe.isEmpty());
    switch (role) {
    case Qt::DisplayRole:
        return display(node, index.column());
    case SortRole:
        return sortKey(node, index.column());
    case EntryRole:
        return qlonglong(row ? row->entry : -1);
    case Qt::DecorationRole:
        if (index.column() != Name)
            return {};
        return row && !row->unsafe.isEmpty() ? m_unsafeIcon : node.folder ? m_folderIcon : m_fileIcon;
    case Qt::ToolTipRole: // escaped: a tool tip takes what looks like markup for markup
        if (index.column() == Name && row)
            return Qt::convertFromPlainText(row->unsafe.isEmpty()
                                                ? shownText(row->name)
                                                : tr("%1\nUnsafe name, never followed: %2")
                                                      .arg(shownText(row->name), shownText(row->unsafe)));
        return Qt::convertFromPlainText(display(node, index.column()).toString());
    case Qt::FontRole:
        if (marked) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    case Qt::TextAlignmentRole:
        return index.column() == Size ? QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter))
                                      : QVariant();
    default:
        return {};
    }
}

QVariant EntryTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Name:
        return tr("Name");
    case Size:
        return tr("Size");
    case Modified:
        return tr("Modified");
    case State:
        return tr("State");
    default:
        return {};
    }
}
