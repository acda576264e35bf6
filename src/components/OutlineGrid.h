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

    int Rows() const override;
    void SetRows(int rows) override;
    int Cols() const override { return m_cols; }
    void SetCols(int cols) override;
    QString TextMatrix(int row, int col) const override;
    void SetTextMatrix(int row, int col, const QString& text) override;
    int CellPicture(int row, int col) const override;
    void SetCellPicture(int row, int col, int picture) override;
    void SetCellColors(int row1, int col1, int row2, int col2, GridColor back, GridColor fore) override;
    void SetColHidden(int col, bool hidden) override;
    void AutoSize(int col1, int col2) override;

    int MouseRow() const override { return m_mouseRow; }
    int MouseCol() const override { return m_mouseCol; }
    void Select(int row, int col) override;
    int Row() const override { return m_row; }

    void SetIsNode(int row, bool isNode) override;
    GridNode NodeOfRow(int row) const override;
    GridNode NodeByKey(const QString& key) const override;
    QString NodeKey(GridNode node) const override;
    int NodeRow(GridNode node) const override;
    int NodeLevel(GridNode node) const override;
    int NodeChildren(GridNode node) const override;
    GridNode NodeParent(GridNode node) const override;
    GridNode NodeFirstChild(GridNode node) const override;
    GridNode NodeNextSibling(GridNode node) const override;
    GridNode AddNode(GridNode parent, const QString& text, const QString& key) override;
    void RemoveNode(GridNode node) override;
    void Collapse(GridNode node) override;
    void SetNodeText(GridNode node, int col, const QString& text) override;
    int NodePicture(GridNode node) const override;
    void SetNodePicture(GridNode node, int picture) override;

    // What a view needs besides the grid operations.
    bool Contains(GridNode node) const;
    void SetMouseCell(int row, int col);
    const std::vector<GridNode>& TopRows() const { return m_top; } // rows below the header
    const std::vector<GridNode>& ChildrenOf(GridNode node) const;
    GridNode ParentOf(GridNode node) const;
    int IndexInParent(GridNode node) const;
    const Cell& CellOf(GridNode node, int col) const;
    bool IsExpanded(GridNode node) const;
    void SetExpanded(GridNode node, bool expanded);
    bool IsColHidden(int col) const;
    int ColWidthHint(int col) const; // in characters, from the last AutoSize
    QString HeaderText(int col) const;
    void SetChangeListener(std::function<void(Change, GridNode)> listener);

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
