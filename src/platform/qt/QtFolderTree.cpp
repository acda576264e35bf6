#include "platform/qt/QtFolderTree.h"

#include "diag/RuntimeError.h"
#include "platform/HostName.h"
#include "platform/HostPath.h"
#include "platform/qt/HostFolderModel.h"

#include <QHeaderView>
#include <QScopedValueRollback>

QtFolderTree::QtFolderTree(QWidget* parent) : QTreeView(parent), m_model(new HostFolderModel(this))
{
    setObjectName(QStringLiteral("lstFolders"));
    setModel(m_model);
    // A folder opened again shows the subfolders made or removed meanwhile.
    connect(this, &QTreeView::expanded, m_model, &HostFolderModel::refresh);
    header()->hide();
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { onCurrentChanged(current); });
}

void QtFolderTree::SelectFolder(const QString& path, int, bool raiseEvent)
{
    HostPath::Miss miss = HostPath::Miss::None;
    const std::optional<HostLocation> location = HostPath::Resolve(path, &miss);
    if (!location || !HostName::IsDirectory(location->hostPath()))
        Raise(ErrorNumber::PathNotFound,
              (miss == HostPath::Miss::TooLong ? HostPath::MissReason(miss)
                                               : QStringLiteral("Path not found")) +
                  QStringLiteral(": ") + path,
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
