#pragma once

#include "outside/IFolderTree.h"

#include <QPersistentModelIndex>
#include <QTreeView>

class HostFolderModel;

// The folder tree: folders of the host's file system, whatever bytes their names hold; selecting
// one (by the user or by path) raises after-select, which runs and finishes before selectFolder
// returns. Only a selection is a selection: the current row that Qt gives the tree when it first
// gets focus is not one. A folder selected by path is kept in view as the tree is laid out and
// its folders are listed, until the person takes over the tree.
class QtFolderTree final : public QTreeView, public IFolderTree
{
    Q_OBJECT

public:
    explicit QtFolderTree(QWidget* parent = nullptr);

    // A path that names no folder is refused with a run-time error, and nothing is selected.
    void selectFolder(const QString& path, int flags, bool raiseEvent) override;
    QString selectedFolderPath() const override;
    void setAfterSelectHandler(std::function<void()> handler) override;

protected:
    bool viewportEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void onSelectionChanged();
    void keepInView();

    HostFolderModel* m_model;
    QString m_selectedHostPath;
    QPersistentModelIndex m_keepInView; // the folder selected by path, until the person takes over
    std::function<void()> m_afterSelect;
    bool m_selecting = false;
};
