#pragma once

#include "desktop/GridItemModel.h"

#include <QTreeView>

#include <functional>

// The tree-grid on screen: outline with expand and collapse, check pictures, column 2 hidden,
// columns sized to their contents and the last one stretched to the view's edge; descriptions
// elided in the middle where the file names need the room. A mouse button
// released over a cell tells the grid which cell it was and runs the click handler; a click on an
// expand/collapse indicator only expands or collapses. Space acts as a click on the current
// row's check picture. Each row's state reaches assistive tools as its check state.
class GridView final : public QTreeView
{
    Q_OBJECT

public:
    GridView(OutlineGrid& grid, QWidget* parent = nullptr);

    GridItemModel& gridModel() { return m_model; }
    void setMouseUpHandler(std::function<void(int button, int shift, double x, double y)> handler);
    // The grid row and column of a point in the viewport; -1 where there is none.
    std::pair<int, int> cellAt(const QPoint& viewportPoint) const;

protected:
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void setExpandedNode(const QModelIndex& index, bool expanded);
    void applyLayout();
    void applyExpansion(const QModelIndex& parent);
    void fitOutline();
    void keepFilenamesInView();
    int textWidth(int column) const;
    bool onIndicator(const QPoint& viewportPoint) const;

    GridItemModel m_model;
    std::function<void(int, int, double, double)> m_mouseUp;
    int m_namesWidth = 0; // what the Filename column needs for its widest name
    bool m_pressOnIndicator = false;
    bool m_layingOut = false;
};
