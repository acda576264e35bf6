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

    virtual int rows() const = 0;
    virtual void setRows(int rows) = 0;
    virtual int cols() const = 0;
    virtual void setCols(int cols) = 0;
    virtual QString textMatrix(int row, int col) const = 0;
    virtual void setTextMatrix(int row, int col, const QString& text) = 0;
    virtual int cellPicture(int row, int col) const = 0;
    virtual void setCellPicture(int row, int col, int picture) = 0;
    virtual void setCellColors(int row1, int col1, int row2, int col2, GridColor back, GridColor fore) = 0;
    virtual void setColHidden(int col, bool hidden) = 0;
    virtual void autoSize(int col1, int col2) = 0;

    virtual int mouseRow() const = 0;
    virtual int mouseCol() const = 0;
    virtual void select(int row, int col) = 0;
    virtual int row() const = 0;

    // Makes the row a node of the outline tree (a top-level row becomes a root node, level 0).
    virtual void setIsNode(int row, bool isNode) = 0;
    virtual GridNode nodeOfRow(int row) const = 0;
    virtual GridNode nodeByKey(const QString& key) const = 0; // kNoNode when no node has the key
    virtual QString nodeKey(GridNode node) const = 0;
    virtual int nodeRow(GridNode node) const = 0;
    virtual int nodeLevel(GridNode node) const = 0;
    virtual int nodeChildren(GridNode node) const = 0;
    virtual GridNode nodeParent(GridNode node) const = 0;
    virtual GridNode nodeFirstChild(GridNode node) const = 0;
    virtual GridNode nodeNextSibling(GridNode node) const = 0;
    // Adds a node with its column-0 text and key as the last child of parent.
    virtual GridNode addNode(GridNode parent, const QString& text, const QString& key) = 0;
    virtual void removeNode(GridNode node) = 0;
    virtual void collapse(GridNode node) = 0;

    // The cells of a node's row, without counting rows: what loads and clicks use.
    virtual void setNodeText(GridNode node, int col, const QString& text) = 0;
    virtual int nodePicture(GridNode node) const = 0; // column 0
    virtual void setNodePicture(GridNode node, int picture) = 0;
};
