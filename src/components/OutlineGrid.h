#pragma once

#include "outside/ITreeGrid.h"

#include <QHash>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

// The tree-grid's model, free of any widget: rows in an outline tree, each row with its texts,
// pictures, colours and key. Row numbers follow the tree in pre-order (row 0 is the header); they
// are worked out again only after the tree has changed, so adding tens of thousands of rows
// costs no row counting. A view shows the same rows through the tree accessors below.
class OutlineGrid final : public ITreeGrid
{
public:
    struct Cell
    {
        QString text;
        int picture = 0;
        GridColor back = GridColor::Default;
        GridColor fore = GridColor::Default;
    };

    enum class Change
    {
        Structure, // rows added, removed or re-ordered
        Cells,     // texts, pictures or colours of rows that stay
        Layout,    // hidden columns, column widths, collapsed nodes
    };

    OutlineGrid();
    ~OutlineGrid() override;

    int rows() const override;
    void setRows(int rows) override;
    int cols() const override { return m_cols; }
    void setCols(int cols) override;
    QString textMatrix(int row, int col) const override;
    void setTextMatrix(int row, int col, const QString& text) override;
    int cellPicture(int row, int col) const override;
    void setCellPicture(int row, int col, int picture) override;
    void setCellColors(int row1, int col1, int row2, int col2, GridColor back, GridColor fore) override;
    void setColHidden(int col, bool hidden) override;
    void autoSize(int col1, int col2) override;

    int mouseRow() const override { return m_mouseRow; }
    int mouseCol() const override { return m_mouseCol; }
    void select(int row, int col) override;
    int row() const override { return m_row; }

    void setIsNode(int row, bool isNode) override;
    GridNode nodeOfRow(int row) const override;
    GridNode nodeByKey(const QString& key) const override;
    QString nodeKey(GridNode node) const override;
    int nodeRow(GridNode node) const override;
    int nodeLevel(GridNode node) const override;
    int nodeChildren(GridNode node) const override;
    GridNode nodeParent(GridNode node) const override;
    GridNode nodeFirstChild(GridNode node) const override;
    GridNode nodeNextSibling(GridNode node) const override;
    GridNode addNode(GridNode parent, const QString& text, const QString& key) override;
    void removeNode(GridNode node) override;
    void collapse(GridNode node) override;
    void setNodeText(GridNode node, int col, const QString& text) override;
    int nodePicture(GridNode node) const override;
    void setNodePicture(GridNode node, int picture) override;

    // What a view needs besides the grid operations.
    bool contains(GridNode node) const;
    void setMouseCell(int row, int col);
    const std::vector<GridNode>& topRows() const { return m_top; } // rows below the header
    const std::vector<GridNode>& childrenOf(GridNode node) const;
    GridNode parentOf(GridNode node) const;
    int indexInParent(GridNode node) const;
    const Cell& cellOf(GridNode node, int col) const;
    bool isExpanded(GridNode node) const;
    void setExpanded(GridNode node, bool expanded);
    bool isColHidden(int col) const;
    int colWidthHint(int col) const; // in characters, from the last autoSize
    QString headerText(int col) const;
    void setChangeListener(std::function<void(Change, GridNode)> listener);

private:
    struct RowData;

    RowData& at(GridNode node);
    const RowData& at(GridNode node) const;
    GridNode rowNode(int row) const; // any row, node or not
    Cell& cellAt(int row, int col);
    const Cell& cellAt(int row, int col) const;
    const std::vector<GridNode>& flat() const;
    GridNode newRow(GridNode parent, int level);
    void dropSubtree(GridNode node);
    void freeSubtree(GridNode node); // already detached
    void detach(GridNode node);
    void notify(Change change, GridNode node = kNoNode);
    [[noreturn]] static void invalidRow(int row);

    std::vector<std::unique_ptr<RowData>> m_slots; // indexed by node handle; empty when removed
    GridNode m_header = kNoNode;
    std::vector<GridNode> m_top; // rows after the header, in order
    QHash<QString, GridNode> m_keys;
    int m_cols = 3;
    std::vector<bool> m_hidden;
    std::vector<int> m_widths;
    int m_mouseRow = -1;
    int m_mouseCol = -1;
    int m_row = -1;
    mutable std::vector<GridNode> m_flat;
    mutable std::vector<int> m_rowOf;
    mutable bool m_flatValid = false;
    std::function<void(Change, GridNode)> m_listener;
};
