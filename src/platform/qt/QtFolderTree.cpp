#include "platform/qt/QtFolderTree.h"

#include "diag/RuntimeError.h"
#include "platform/HostName.h"
#include "platform/HostPath.h"

#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QScopedValueRollback>

QtFolderTree::QtFolderTree(QWidget* parent) : QTreeView(parent), m_model(new QFileSystemModel(this))
{
    setObjectName(QStringLiteral("lstFolders"));
    m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    m_model->setReadOnly(true);
    m_model->setRootPath(QStringLiteral("/"));
    setModel(m_model);
    for (int c = 1; c < m_model->columnCount(); ++c)
        hideColumn(c);
    header()->hide();
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { onCurrentChanged(current); });
}

void QtFolderTree::SelectFolder(const QString& path, int, bool raiseEvent)
{
    const std::optional<HostLocation> location = HostPath::Resolve(path);
    if (!location || !HostName::IsDirectory(location->hostPath()))
        Raise(ErrorNumber::PathNotFound, QStringLiteral("Path not found: ") + path,
              QStringLiteral("FolderView"));
    m_selectedHostPath = location->hostPath();
    {
        const QScopedValueRollback<bool> quiet(m_selecting, true);
        const QModelIndex index = m_model->index(m_selectedHostPath);
        if (index.isValid()) {
            setCurrentIndex(index);
            scrollTo(index);
        }
    }
    if (raiseEvent && m_afterSelect)
        m_afterSelect();
}

QString QtFolderTree::SelectedFolderPath() const
{
    return m_selectedHostPath.isEmpty() ? QString() : HostPath::ToWindows(m_selectedHostPath);
}

void QtFolderTree::SetAfterSelectHandler(std::function<void()> handler)
{
    m_afterSelect = std::move(handler);
}

void QtFolderTree::onCurrentChanged(const QModelIndex& current)
{
    if (m_selecting)
        return;
    m_selectedHostPath = current.isValid() ? m_model->filePath(current) : QString();
    if (m_afterSelect)
        m_afterSelect();
}
