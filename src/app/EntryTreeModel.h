#pragma once

#include "viewer/EntryTree.h"

#include <QAbstractItemModel>
#include <QDateTime>
#include <QIcon>

#include <vector>

// One entry of a package, as the viewer's tree shows it.
struct EntryRow
{
    QString name{}; // "/"-separated, as the archive gives it
    quint64 size = 0;
    QDateTime modified{};
    QString state{};  // "intact", "damaged: <why>", "refused: <why>"
    QString unsafe{}; // why the name could step out of its folder, else empty
    bool problem = false;
    bool folder = false;
    qsizetype entry = -1; // the index the window reads the entry by
};

// The entries of a package as a tree built once from their names (EntryTree: each node keeps its own
// part of a name only). A name that could step out of its folder (".." components, an absolute
// path) is never split: it stands whole at the top, marked. Two entries of the same name stay two
// rows. Columns: Name, Size, Modified, State.
class EntryTreeModel final : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum Column
    {
        Name,
        Size,
        Modified,
        State,
        Columns,
    };
    static constexpr int EntryRole = Qt::UserRole + 1; // EntryRow::entry; -1 for a folder made from names
    static constexpr int SortRole = Qt::UserRole + 2;  // sizes and times as numbers

    EntryTreeModel(std::vector<EntryRow> rows, QObject* parent);

    // The first row of that entry index, or an invalid index.
    QModelIndex indexOfEntry(qsizetype entry) const;
    // Marks the rows a filter by name leaves in view (EntryTree::shownFor); an empty text, all.
    void setNameFilter(const QString& text);
    bool shownByFilter(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    using Node = EntryTree::Node; // its source is the row in m_rows

    int nodeOf(const QModelIndex& index) const;
    QVariant display(const Node& node, int column) const;
    QVariant sortKey(const Node& node, int column) const;

    std::vector<EntryRow> m_rows;
    EntryTree m_tree;
    std::vector<bool> m_shown; // by node; empty while no filter is set
    QIcon m_folderIcon;
    QIcon m_fileIcon;
    QIcon m_unsafeIcon;
};
