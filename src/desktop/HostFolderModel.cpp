#include "desktop/HostFolderModel.h"

#include "platform/DirectoryCache.h"
#include "platform/HostName.h"
#include "platform/Wildcard.h"

#include <QFileIconProvider>

#include <algorithm>

struct HostFolderModel::Folder
{
    QString name; // host name, bytes that are not UTF-8 kept as escapes
    QString hostPath;
    Folder* parent = nullptr;
    int row = 0;
    bool listed = false;
    std::vector<std::unique_ptr<Folder>> children;
};

namespace {

// Listing order: by name compared case-blind, then by bytes.
bool before(const QString& a, const QString& b)
{
    const int folded = foldName(a).compare(foldName(b));
    return folded != 0 ? folded < 0 : HostName::encode(a) < HostName::encode(b);
}

QString childPath(const QString& folder, const QString& name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// The subfolders a person browses: no hidden ones, no "." or "..".
std::vector<QString> visibleSubfolders(const QString& hostPath)
{
    std::vector<QString> names;
    if (const auto listing = DirectoryCache::list(hostPath))
        for (const DirectoryEntry& entry : listing->entries)
            if (entry.isDirectory && !entry.name.startsWith(QLatin1Char('.')))
                names.push_back(entry.name);
    return names;
}

// A name as a person reads it: a byte that is not text shows as a replacement character.
QString shownName(QString name)
{
    for (QChar& c : name)
        if (c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF)
            c = QChar::ReplacementCharacter;
    return name;
}

} // namespace

HostFolderModel::HostFolderModel(QObject* parent)
    : QAbstractItemModel(parent), m_top(std::make_unique<Folder>())
{
    auto root = std::make_unique<Folder>();
    root->name = QStringLiteral("/");
    root->hostPath = QStringLiteral("/");
    root->parent = m_top.get();
    m_top->children.push_back(std::move(root));
    m_top->listed = true;
}

HostFolderModel::~HostFolderModel() = default;

HostFolderModel::Folder* HostFolderModel::folderOf(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<Folder*>(index.internalPointer()) : m_top.get();
}

QModelIndex HostFolderModel::indexOf(const Folder* folder) const
{
    return folder == m_top.get() ? QModelIndex() : createIndex(folder->row, 0, const_cast<Folder*>(folder));
}

QModelIndex HostFolderModel::index(int row, int column, const QModelIndex& parent) const
{
    const Folder* folder = folderOf(parent);
    if (column != 0 || row < 0 || static_cast<size_t>(row) >= folder->children.size())
        return {};
    return createIndex(row, 0, folder->children[static_cast<size_t>(row)].get());
}

QModelIndex HostFolderModel::parent(const QModelIndex& child) const
{
    return child.isValid() ? indexOf(folderOf(child)->parent) : QModelIndex();
}

int HostFolderModel::rowCount(const QModelIndex& parent) const
{
    return parent.column() > 0 ? 0 : static_cast<int>(folderOf(parent)->children.size());
}

int HostFolderModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant HostFolderModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const Folder* folder = folderOf(index);
    switch (role) {
    case Qt::DisplayRole:
        return shownName(folder->name);
    case Qt::DecorationRole: {
        static const QIcon icon = QFileIconProvider().icon(QFileIconProvider::Folder);
        return icon;
    }
    case Qt::ToolTipRole:
        return shownName(folder->hostPath);
    default:
        return {};
    }
}

bool HostFolderModel::hasChildren(const QModelIndex& parent) const
{
    const Folder* folder = folderOf(parent);
    return !folder->listed || !folder->children.empty();
}

bool HostFolderModel::canFetchMore(const QModelIndex& parent) const
{
    return !folderOf(parent)->listed;
}

void HostFolderModel::fetchMore(const QModelIndex& parent)
{
    list(folderOf(parent));
}

void HostFolderModel::list(Folder* folder)
{
    if (folder->listed)
        return;
    folder->listed = true;
    const std::vector<QString> names = visibleSubfolders(folder->hostPath);
    if (names.empty())
        return;
    beginInsertRows(indexOf(folder), 0, static_cast<int>(names.size()) - 1);
    for (const QString& name : names) {
        auto child = std::make_unique<Folder>();
        child->name = name;
        child->hostPath = childPath(folder->hostPath, name);
        child->parent = folder;
        child->row = static_cast<int>(folder->children.size());
        folder->children.push_back(std::move(child));
    }
    endInsertRows();
}

void HostFolderModel::insertChild(Folder* folder, const QString& name)
{
    auto& children = folder->children;
    const auto at =
        std::lower_bound(children.begin(), children.end(), name,
                         [](const auto& child, const QString& n) { return before(child->name, n); });
    const int row = static_cast<int>(at - children.begin());
    beginInsertRows(indexOf(folder), row, row);
    auto child = std::make_unique<Folder>();
    child->name = name;
    child->hostPath = childPath(folder->hostPath, name);
    child->parent = folder;
    children.insert(children.begin() + row, std::move(child));
    for (size_t i = static_cast<size_t>(row); i < children.size(); ++i)
        children[i]->row = static_cast<int>(i);
    endInsertRows();
}

HostFolderModel::Folder* HostFolderModel::childNamed(Folder* folder, const QString& name)
{
    list(folder);
    for (const auto& child : folder->children)
        if (child->name == name)
            return child.get();
    // A hidden folder, or one made since the listing: shown once it is asked for.
    if (!HostName::isDirectory(childPath(folder->hostPath, name)))
        return nullptr;
    insertChild(folder, name);
    return childNamed(folder, name);
}

QModelIndex HostFolderModel::index(const QString& hostPath)
{
    if (!hostPath.startsWith(QLatin1Char('/')))
        return {};
    Folder* folder = m_top->children.front().get();
    for (const QString& name : hostPath.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        folder = childNamed(folder, name);
        if (!folder)
            return {};
    }
    return indexOf(folder);
}

QString HostFolderModel::filePath(const QModelIndex& index) const
{
    return index.isValid() ? folderOf(index)->hostPath : QString();
}

void HostFolderModel::refresh(const QModelIndex& index)
{
    Folder* folder = folderOf(index);
    if (!folder->listed || folder == m_top.get())
        return;
    const std::vector<QString> names = visibleSubfolders(folder->hostPath);
    auto& children = folder->children;
    for (int row = static_cast<int>(children.size()) - 1; row >= 0; --row) {
        const Folder& child = *children[static_cast<size_t>(row)];
        if (std::find(names.begin(), names.end(), child.name) != names.end() ||
            HostName::isDirectory(child.hostPath))
            continue;
        beginRemoveRows(index, row, row);
        children.erase(children.begin() + row);
        for (size_t i = static_cast<size_t>(row); i < children.size(); ++i)
            children[i]->row = static_cast<int>(i);
        endRemoveRows();
    }
    for (const QString& name : names)
        if (std::none_of(children.begin(), children.end(), [&](const auto& c) { return c->name == name; }))
            insertChild(folder, name);
}
