#include "desktop/QtFolderTree.h"

#include "base/RuntimeError.h"
#include "desktop/HostFolderModel.h"
#include "diag/ErrorTrap.h"
#include "platform/HostName.h"
#include "platform/HostPath.h"

#include <QEvent>
#include <QHeaderView>
#include <QScopedValueRollback>
#include <QScrollBar>

QtFolderTree::QtFolderTree(QWidget* parent) : QTreeView(parent), m_model(new HostFolderModel(this))
{
    setObjectName(QStringLiteral("lstFolders"));
    setAccessibleName(tr("Folders"));
    setModel(m_model);
    // A folder opened again shows the subfolders made or removed meanwhile.
    connect(this, &QTreeView::expanded, m_model,
            guarded([this](const QModelIndex& index) { m_model->refresh(index); }));
    header()->hide();
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            guarded([this] { onSelectionChanged(); }));
    // Folders listed or made since can move the row.
    connect(m_model, &QAbstractItemModel::layoutChanged, this, guarded([this] { keepInView(); }));
    connect(m_model, &QAbstractItemModel::rowsInserted, this, guarded([this] { keepInView(); }));
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
            guarded([this] { m_keepInView = QPersistentModelIndex(); }));
}

void QtFolderTree::selectFolder(const QString& path, int, bool raiseEvent)
{
    HostPath::Miss miss = HostPath::Miss::None;
    const std::optional<HostLocation> location = HostPath::resolve(path, &miss);
    if (!location || !HostName::isDirectory(location->hostPath()))
        raiseError(ErrorNumber::PathNotFound,
                   (miss == HostPath::Miss::TooLong ? HostPath::missReason(miss)
                                                    : QStringLiteral("Path not found")) +
                       QStringLiteral(": ") + path,
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

QString QtFolderTree::selectedFolderPath() const
{
    return m_selectedHostPath.isEmpty() ? QString() : HostPath::toWindows(m_selectedHostPath);
}

void QtFolderTree::setAfterSelectHandler(std::function<void()> handler)
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
    return guarded([&] {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::Wheel)
            m_keepInView = QPersistentModelIndex();
        return QTreeView::viewportEvent(event);
    })();
}

void QtFolderTree::keyPressEvent(QKeyEvent* event)
{
    guarded([&] {
        m_keepInView = QPersistentModelIndex();
        QTreeView::keyPressEvent(event);
    })();
}

void QtFolderTree::resizeEvent(QResizeEvent* event)
{
    guarded([&] {
        QTreeView::resizeEvent(event);
        keepInView();
    })();
}
