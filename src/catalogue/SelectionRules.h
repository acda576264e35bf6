#pragma once

#include "outside/ITreeGrid.h"

class IMessageBox;

// The click rules of the file grid: a click on column 0 flips the row between included and
// excluded, passes the new state down to every row below it and recomputes the rows above it.
class SelectionRules
{
public:
    SelectionRules(ITreeGrid& grid, IMessageBox& messageBox, QString programName);

    // Mouse button released over the grid: button, shift and position are not looked at; the
    // grid's own notion of the cell under the pointer decides.
    void grdFiles_Mouseup(int button, int shift, double x, double y);
    void SelectChildren(GridNode row, const bool& exclude);
    void SelectParent(GridNode row, bool include);

private:
    bool childrenDiffer(GridNode parent, int picture) const;

    ITreeGrid& m_grid;
    IMessageBox& m_messageBox;
    const QString m_programName;
};
