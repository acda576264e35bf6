#pragma once

#include "outside/IFolderTree.h"

#include <QTreeView>

class HostFolderModel;

// The folder tree: folders of the host's file system, whatever bytes their names hold; selecting
// one (by the user or by path) raises after-select, which runs and finishes before SelectFolder
// returns.
class QtFolderTree final : public QTreeView, public IFolderTree
{
    Q_OBJECT

public:
    explicit QtFolderTree(QWidget* parent = nullptr);

    // A path that names no folder is refused with a run-time error, and nothing is selected.
    void SelectFolder(const QString& path, int flags, bool raiseEvent) override;
    QString SelectedFolderPath() const override;
    void SetAfterSelectHandler(std::function<void()> handler) override;

private:
    void onCurrentChanged(const QModelIndex& current);

    HostFolderModel* m_model;
    QString m_selectedHostPath;
    std::function<void()> m_afterSelect;
    bool m_selecting = false;
};
