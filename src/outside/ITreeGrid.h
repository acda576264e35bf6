#pragma once

#include <QString>

// The tree-grid: rows and columns of cells (row 0 is the header), each cell with a text, a
// picture and colours, and an outline tree over the rows. Nodes are addressed by handles that
// stay valid until the node is removed. Moving to a parent, child or sibling that is not there
// gives kNoNode; asking anything of kNoNode (or of a removed node) raises a run-time error.
using GridNode = int;
inline constexpr GridNode kNoNode = -1;

enum class GridColor
{
    Default,
    SystemHighlight,
    White,
};

class ITreeGrid
{
public:
    virtual ~ITreeGrid() = default;

    virtual int Rows() const = 0;
    virtual void SetRows(int rows) = 0;
    virtual int Cols() const = 0;
    virtual void SetCols(int cols) = 0;
    virtual QString TextMatrix(int row, int col) const = 0;
    virtual void SetTextMatrix(int row, int col, const QString& text) = 0;
    virtual int CellPicture(int row, int col) const = 0;
    virtual void SetCellPicture(int row, int col, int picture) = 0;
    virtual void SetCellColors(int row1, int col1, int row2, int col2, GridColor back, GridColor fore) = 0;
    virtual void SetColHidden(int col, bool hidden) = 0;
    virtual void AutoSize(int col1, int col2) = 0;

    virtual int MouseRow() const = 0;
    virtual int MouseCol() const = 0;
    virtual void Select(int row, int col) = 0;
    virtual int Row() const = 0;

    // Makes the row a node of the outline tree (a top-level row becomes a root node, level 0).
    virtual void SetIsNode(int row, bool isNode) = 0;
    virtual GridNode NodeOfRow(int row) const = 0;
    virtual GridNode NodeByKey(const QString& key) const = 0; // kNoNode when no node has the key
    virtual QString NodeKey(GridNode node) const = 0;
    virtual int NodeRow(GridNode node) const = 0;
    virtual int NodeLevel(GridNode node) const = 0;
    virtual int NodeChildren(GridNode node) const = 0;
    virtual GridNode NodeParent(GridNode node) const = 0;
    virtual GridNode NodeFirstChild(GridNode node) const = 0;
    virtual GridNode NodeNextSibling(GridNode node) const = 0;
    // Adds a node with its column-0 text and key as the last child of parent.
    virtual GridNode AddNode(GridNode parent, const QString& text, const QString& key) = 0;
    virtual void RemoveNode(GridNode node) = 0;
    virtual void Collapse(GridNode node) = 0;

    // The cells of a node's row, without counting rows: what loads and clicks use.
    virtual void SetNodeText(GridNode node, int col, const QString& text) = 0;
    virtual int NodePicture(GridNode node) const = 0; // column 0
    virtual void SetNodePicture(GridNode node, int picture) = 0;
};
