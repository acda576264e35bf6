#include "platform/qt/QtFolderTree.h"

#include "diag/RuntimeError.h"
#include "platform/HostPath.h"

#include <QEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QScopedValueRollback>
#include <QScrollBar>

QtFolderTree::QtFolderTree(QWidget* parent) : QTreeView(parent), m_model(new QFileSystemModel(this))
{
    setObjectName(QStringLiteral("lstFolders"));
    setAccessibleName(tr("Folders"));
    m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    m_model->setReadOnly(true);
    m_model->setRootPath(QStringLiteral("/"));
    setModel(m_model);
    for (int c = 1; c < m_model->columnCount(); ++c)
        hideColumn(c);
    header()->hide();
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { onSelectionChanged(); });
    // Folders load in the background and are sorted afterwards; each step can move the row.
    connect(m_model, &QFileSystemModel::directoryLoaded, this, [this] { keepInView(); });
    connect(m_model, &QAbstractItemModel::layoutChanged, this, [this] { keepInView(); });
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this] { keepInView(); });
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this] { m_keepInView = QPersistentModelIndex(); });
}

void QtFolderTree::SelectFolder(const QString& path, int, bool raiseEvent)
{
    const std::optional<HostLocation> location = HostPath::Resolve(path);
    if (!location || !QFileInfo(location->hostPath()).isDir())
        Raise(ErrorNumber::PathNotFound, QStringLiteral("Path not found: ") + path,
              QStringLiteral("FolderView"));
    m_selectedHostPath = location->hostPath();
    {
        const QScopedValueRollback<bool> quiet(m_selecting, true);
        const QModelIndex index = m_model->index(m_selectedHostPath);
        m_keepInView = index;
        if (index.isValid())
            setCurrentIndex(index);
        keepInView();
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

void QtFolderTree::onSelectionChanged()
{
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (m_selecting || selected.isEmpty())
        return;
    m_keepInView = QPersistentModelIndex();
    m_selectedHostPath = m_model->filePath(selected.constFirst());
    if (m_afterSelect)
        m_afterSelect();
}

void QtFolderTree::keepInView()
{
    if (m_keepInView.isValid())
        scrollTo(m_keepInView, QAbstractItemView::PositionAtCenter); // expands the folders above it
}

bool QtFolderTree::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::Wheel)
        m_keepInView = QPersistentModelIndex();
    return QTreeView::viewportEvent(event);
}

void QtFolderTree::keyPressEvent(QKeyEvent* event)
{
    m_keepInView = QPersistentModelIndex();
    QTreeView::keyPressEvent(event);
}

void QtFolderTree::resizeEvent(QResizeEvent* event)
{
    QTreeView::resizeEvent(event);
    keepInView();
}
