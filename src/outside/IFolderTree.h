#pragma once

#include <QString>

#include <functional>

// The folder tree: selects a folder by its path and tells its selected folder's path. Its
// after-select handler runs, and finishes, inside selectFolder.
class IFolderTree
{
public:
    virtual ~IFolderTree() = default;
    virtual void selectFolder(const QString& path, int flags, bool raiseEvent) = 0;
    // The selected node's file-system path, Windows-style; empty when it has none.
    virtual QString selectedFolderPath() const = 0;
    virtual void setAfterSelectHandler(std::function<void()> handler) = 0;
};
