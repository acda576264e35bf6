#pragma once

#include "components/OutlineGrid.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QPixmap>

#include <array>
#include <vector>

// Shows the outline grid to a QTreeView without copying its rows: indexes carry node handles.
// A change of the rows resets the model once, when the event loop next runs, so a load of
// thousands of rows costs one reset; changed cells are told the same way, one range of rows
// per parent, so a click that changes thirty thousand pictures costs a few notices.
class GridItemModel final : public QAbstractItemModel
{
    Q_OBJECT

public:
    explicit GridItemModel(OutlineGrid& grid, QObject* parent = nullptr);
    ~GridItemModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    GridNode nodeOf(const QModelIndex& index) const;
    QModelIndex indexOf(GridNode node, int column = 0) const;
    OutlineGrid& grid() { return m_grid; }
    const OutlineGrid& grid() const { return m_grid; }
    // Brings a pending reset forward, so the view shows the rows now.
    void flush();

    // The image list: pictures 1 to 3 are the check pictures.
    static const QPixmap& picture(int number);

Q_SIGNALS:
    void layoutSettingsChanged(); // hidden columns, widths, collapsed nodes

private:
    struct RowRange
    {
        int first;
        int last;
    };

    void onChange(OutlineGrid::Change change, GridNode node);
    void noteCellChange(GridNode node);
    void tellCellChanges();

    OutlineGrid& m_grid;
    bool m_resetPending = false;
    // Changed rows by parent since the event loop last ran; the parent of the last change is
    // looked at first, since a click changes the rows of one parent after another.
    std::vector<std::pair<GridNode, RowRange>> m_changedRows;
    QHash<GridNode, size_t> m_changedParents; // where each parent stands in m_changedRows
};
