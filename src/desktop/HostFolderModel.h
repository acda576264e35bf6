#pragma once

#include <QAbstractItemModel>

#include <memory>
#include <vector>

// The host's folders for the folder tree: "/" at the top, each folder's subfolders listed when
// it is first expanded and again whenever it is expanded, in listing order (by name, compared
// case-blind), hidden ones left out unless asked for by path. Names are the host's bytes: a
// folder whose name is not UTF-8 is listed like any other (shown with a replacement character
// where a byte is not text), and its path stays byte-exact.
class HostFolderModel final : public QAbstractItemModel
{
    Q_OBJECT

public:
    explicit HostFolderModel(QObject* parent = nullptr);
    ~HostFolderModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    // The row of an existing host folder, its ancestors listed as needed; invalid for a path
    // that names no folder.
    QModelIndex index(const QString& hostPath);
    QString filePath(const QModelIndex& index) const;
    // Lists a folder again: subfolders made since appear, removed ones go, the others stay.
    void refresh(const QModelIndex& index);

private:
    struct Folder;

    Folder* folderOf(const QModelIndex& index) const;
    QModelIndex indexOf(const Folder* folder) const;
    void list(Folder* folder);
    Folder* childNamed(Folder* folder, const QString& name);
    void insertChild(Folder* folder, const QString& name);

    std::unique_ptr<Folder> m_top; // holds "/" as its one child
};
