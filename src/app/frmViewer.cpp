#include "app/frmViewer.h"

#include "app/EntryFilterProxy.h"
#include "app/EntryTreeModel.h"
#include "app/TextTableModel.h"
#include "base/ShownText.h"
#include "desktop/QtDesktop.h"
#include "diag/ErrorTrap.h"
#include "viewer/CaseReport.h"
#include "viewer/EntryPager.h"
#include "viewer/PackageFindings.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <deque>
#include <optional>

// What the window shows: a package opened alone, or a case folder and the package of one of its
// hosts.
struct frmViewer::Content
{
    QString path;
    std::optional<PackageFindings> package;
    std::optional<CaseReport> caseFolder;
    const PackageFindings* shown = nullptr; // in the entry tree and the package's panes
};

namespace {

constexpr int kExpandLimit = 2000; // folders opened at once: a filter that matches much opens only these
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

QString number(quint64 value)
{
    return QLocale().toString(value);
}

QLabel* plainLabel(QWidget* parent, const QString& name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QString entryState(const EntryReport& report, const ZipEntry& entry)
{
    if (!entry.refused.isEmpty())
        return frmViewer::tr("refused: %1").arg(entry.refused);
    if (!report.problem.isEmpty())
        return frmViewer::tr("damaged: %1").arg(report.problem);
    return report.checked || entry.isFolder() ? frmViewer::tr("intact") : frmViewer::tr("not read");
}

std::vector<EntryRow> entryRows(const PackageFindings* package)
{
    std::vector<EntryRow> rows;
    if (!package)
        return rows;
    rows.reserve(package->entries.size());
    for (size_t i = 0; i < package->entries.size(); ++i) {
        const EntryReport& report = package->entries[i];
        const ZipEntry& entry = package->entry(report);
        rows.push_back({entry.name.toString(), entry.size, entry.modified, entryState(report, entry),
                        entry.unsafe, !report.problem.isEmpty() || !entry.refused.isEmpty(), entry.isFolder(),
                        qsizetype(i)});
    }
    return rows;
}

QString problemCount(qsizetype count)
{
    return count == 1 ? frmViewer::tr("Damaged: 1 problem")
                      : frmViewer::tr("Damaged: %1 problems").arg(count);
}

QString encodingName(EntryEncoding encoding)
{
    switch (encoding) {
    case EntryEncoding::Utf8:
        return frmViewer::tr("UTF-8 text");
    case EntryEncoding::Latin1:
        return frmViewer::tr("Latin-1 text");
    case EntryEncoding::Utf16LE:
        return frmViewer::tr("UTF-16 LE text");
    case EntryEncoding::Utf16BE:
        return frmViewer::tr("UTF-16 BE text");
    case EntryEncoding::Binary:
        break;
    }
    return frmViewer::tr("binary");
}

QString checksumNote(const std::optional<ChecksumCheck>& checksum)
{
    if (!checksum)
        return {};
    if (!checksum->problem.isEmpty())
        return frmViewer::tr("The checksum file %1 cannot be used: %2")
            .arg(checksum->file, checksum->problem);
    return checksum->matches()
               ? frmViewer::tr("The package matches its checksum file %1.").arg(checksum->file)
               : frmViewer::tr("The package does not match its checksum file %1.").arg(checksum->file);
}

} // namespace

std::unique_ptr<frmViewer> frmViewer::open(const QString& path, QString* error, QWidget* owner)
{
    auto content = std::make_unique<Content>();
    content->path = path;
    if (isFolder(path)) {
        content->caseFolder = readCase(path);
        if (!content->caseFolder->readable()) {
            *error = content->caseFolder->openError;
            return nullptr;
        }
    } else {
        content->package = readPackage(path);
        const PackageFindings& package = *content->package;
        if (!package.readable()) {
            *error = tr("cannot open %1: %2").arg(path, package.openError);
            return nullptr;
        }
        if (package.zip->entries().empty() && !package.damage.isEmpty()) { // no zip archive at all
            *error = tr("cannot read %1: %2").arg(path, package.damage.constFirst());
            return nullptr;
        }
        content->shown = &*content->package;
    }
    return std::unique_ptr<frmViewer>(new frmViewer(std::move(content), owner));
}

frmViewer::frmViewer(std::unique_ptr<Content> content, QWidget* owner)
    : QMainWindow(owner, Qt::Window), m_content(std::move(content))
{
    setObjectName(QStringLiteral("frmViewer"));
    setWindowIcon(programIcon());
    // "[*]" in a title is Qt's mark for unsaved changes; doubled, it is shown as it is.
    setWindowTitle(tr("%1 - Package Viewer")
                       .arg(shownText(QFileInfo(QDir::cleanPath(m_content->path)).fileName())
                                .replace(QLatin1String("[*]"), QLatin1String("[*][*]"))));

    auto* client = new QWidget(this);
    auto* box = new QVBoxLayout(client);
    m_path = plainLabel(client, QStringLiteral("lblPath"));
    m_path->setText(shownText(m_content->path));
    box->addWidget(m_path);
    auto* statusLine = new QHBoxLayout;
    m_status = plainLabel(client, QStringLiteral("lblStatus"));
    QFont bold = m_status->font();
    bold.setBold(true);
    m_status->setFont(bold);
    statusLine->addWidget(m_status, 1);
    m_damageButton = new QPushButton(tr("Show Damage"), client);
    m_damageButton->setObjectName(QStringLiteral("cmdDamage"));
    statusLine->addWidget(m_damageButton);
    box->addLayout(statusLine);

    auto* splitter = new QSplitter(Qt::Horizontal, client);
    splitter->setObjectName(QStringLiteral("splViewer"));
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(buildEntriesSide());
    m_tabs = new QTabWidget(splitter);
    m_tabs->setObjectName(QStringLiteral("tabViewer"));
    if (m_content->caseFolder)
        m_tabs->addTab(buildHostsPane(), tr("&Hosts"));
    m_tabs->addTab(buildEntryPane(), tr("&Entry"));
    QWidget* manifest = buildPane(QStringLiteral("Manifest"), tr("&Manifest"));
    m_manifestFields = addTable(manifest, QStringLiteral("ManifestFields"));
    m_manifestFiles = addTable(manifest, QStringLiteral("ManifestFiles"));
    m_leftOut = addTable(buildPane(QStringLiteral("LeftOut"), tr("&Left out")), QStringLiteral("LeftOut"));
    QWidget* masking = buildPane(QStringLiteral("Masking"), tr("Mas&king"));
    m_masked = addTable(masking, QStringLiteral("Masking"));
    m_notChecked = addTable(masking, QStringLiteral("NotChecked"));
    m_logs = addTable(buildPane(QStringLiteral("Logs"), tr("L&ogs")), QStringLiteral("Logs"));
    QWidget* damage = buildPane(QStringLiteral("Damage"), tr("&Damage"));
    m_damageNote = plainLabel(damage, QStringLiteral("lblDamage"));
    m_damageText = new QPlainTextEdit(damage); // one problem a line, to be read whole and copied
    m_damageText->setObjectName(QStringLiteral("txtDamage"));
    m_damageText->setReadOnly(true);
    m_damageText->setUndoRedoEnabled(false);
    damage->layout()->addWidget(m_damageNote);
    damage->layout()->addWidget(m_damageText);
    splitter->addWidget(m_tabs);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    box->addWidget(splitter, 1);
    setCentralWidget(client);
    connect(m_damageButton, &QPushButton::clicked, this,
            [this, damage] { m_tabs->setCurrentWidget(damage); });

    auto* find = new QAction(this);
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, [this] { m_filter->setFocus(Qt::ShortcutFocusReason); });
    auto* close = new QAction(this);
    close->setShortcut(QKeySequence::Close);
    connect(close, &QAction::triggered, this, &QWidget::close);
    addActions({find, close});

    showStatus();
    if (m_content->caseFolder) {
        const auto& hosts = m_content->caseFolder->hosts;
        const auto collected = std::find_if(hosts.begin(), hosts.end(), [](const CaseHost& host) {
            return host.package && host.package->readable();
        });
        selectHost(collected == hosts.end() ? 0 : int(collected - hosts.begin()));
    }
    if (!m_model) // a package alone, or a case without hosts
        fillPackagePanes();

    const QRect screen = (owner ? owner->screen() : QGuiApplication::primaryScreen())->availableGeometry();
    resize(std::min(1100, screen.width() * 9 / 10), std::min(720, screen.height() * 9 / 10));
}

frmViewer::~frmViewer()
{
    // The views go first, while the models and the reports they show still exist.
    delete takeCentralWidget();
}

QWidget* frmViewer::buildEntriesSide()
{
    auto* side = new QWidget(this);
    auto* box = new QVBoxLayout(side);
    box->setContentsMargins(0, 0, 0, 0);
    m_shownPackage = plainLabel(side, QStringLiteral("lblShownPackage"));
    m_shownPackage->setVisible(m_content->caseFolder.has_value());
    box->addWidget(m_shownPackage);
    m_filter = new QLineEdit(side);
    m_filter->setObjectName(QStringLiteral("txtFilter"));
    m_filter->setPlaceholderText(tr("Filter by name"));
    m_filter->setClearButtonEnabled(true);
    box->addWidget(m_filter);
    m_proxy = new EntryFilterProxy(this); // a folder that matches shows what it holds
    m_tree = new QTreeView(side);
    m_tree->setObjectName(QStringLiteral("treEntries"));
    m_tree->setUniformRowHeights(true);
    m_tree->setModel(m_proxy);
    m_tree->header()->setSortIndicator(-1, Qt::AscendingOrder); // the archive's order until a click
    m_tree->setSortingEnabled(true);
    m_tree->header()->setStretchLastSection(false); // the name column takes the room (sizeColumns)
    m_tree->setTextElideMode(Qt::ElideMiddle);
    box->addWidget(m_tree, 1);
    // The columns follow the rows in view and the pane's width; a name column the person sized by
    // hand keeps the width it was given.
    connect(m_tree, &QTreeView::expanded, this, guarded([this] { sizeColumnsSoon(); }));
    connect(m_tree, &QTreeView::collapsed, this, guarded([this] { sizeColumnsSoon(); }));
    connect(m_tree->verticalScrollBar(), &QScrollBar::valueChanged, this, guarded([this] {
                if (m_tree->columnWidth(EntryTreeModel::Name) < leastNameWidth())
                    sizeColumnsSoon(); // a deeper row came into view
            }));
    connect(m_tree->header(), &QHeaderView::sectionResized, this, guarded([this](int column) {
                if (column == EntryTreeModel::Name && !m_applyingWidths &&
                    QGuiApplication::mouseButtons() != Qt::NoButton)
                    m_nameSizedByHand = true;
            }));
    m_treeViewport = m_tree->viewport();
    m_treeViewport->installEventFilter(this);
    connect(m_filter, &QLineEdit::textChanged, this,
            guarded([this](const QString& text) { filterEntries(text); }));
    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            guarded([this](const QModelIndex& current) { showEntry(current); }));
    return side;
}

QWidget* frmViewer::buildEntryPane()
{
    auto* pane = new QWidget(this);
    pane->setObjectName(QStringLiteral("paneEntry"));
    auto* box = new QVBoxLayout(pane);
    m_entryName = plainLabel(pane, QStringLiteral("lblEntry"));
    box->addWidget(m_entryName);
    m_entryText = new QPlainTextEdit(pane);
    m_entryText->setObjectName(QStringLiteral("txtEntry"));
    m_entryText->setReadOnly(true);
    m_entryText->setUndoRedoEnabled(false);
    m_entryText->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_entryText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    box->addWidget(m_entryText, 1);
    auto* pages = new QHBoxLayout;
    m_previous = new QPushButton(tr("&Previous Page"), pane);
    m_previous->setObjectName(QStringLiteral("cmdPreviousPage"));
    m_pageLabel = plainLabel(pane, QStringLiteral("lblPage"));
    m_pageLabel->setAlignment(Qt::AlignCenter);
    m_next = new QPushButton(tr("&Next Page"), pane);
    m_next->setObjectName(QStringLiteral("cmdNextPage"));
    pages->addWidget(m_previous);
    pages->addWidget(m_pageLabel, 1);
    pages->addWidget(m_next);
    box->addLayout(pages);
    const auto turn = [this](void (EntryPager::*step)()) {
        return guarded([this, step] {
            if (!m_pager)
                return;
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
            const auto restore = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
            (m_pager.get()->*step)();
            showPage();
        });
    };
    connect(m_previous, &QPushButton::clicked, this, turn(&EntryPager::previous));
    connect(m_next, &QPushButton::clicked, this, turn(&EntryPager::next));
    return pane;
}

QWidget* frmViewer::buildPane(const QString& name, const QString& title)
{
    auto* pane = new QWidget(this);
    pane->setObjectName(QStringLiteral("pane") + name);
    new QVBoxLayout(pane);
    m_tabs->addTab(pane, title);
    return pane;
}

frmViewer::TablePane frmViewer::addTable(QWidget* pane, const QString& name)
{
    TablePane added;
    added.note = plainLabel(pane, QStringLiteral("lbl") + name);
    added.table = new QTableView(pane);
    added.table->setObjectName(QStringLiteral("tbl") + name);
    added.table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    added.table->setSelectionBehavior(QAbstractItemView::SelectRows);
    added.table->setWordWrap(false);
    added.table->setTextElideMode(Qt::ElideMiddle);
    added.table->verticalHeader()->hide();
    added.table->horizontalHeader()->setStretchLastSection(true);
    added.table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    added.table->verticalHeader()->setDefaultSectionSize(added.table->fontMetrics().lineSpacing() + 6);
    added.note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* box = static_cast<QVBoxLayout*>(pane->layout());
    box->addWidget(added.note);
    box->addWidget(added.table, 1);
    return added;
}

void frmViewer::fill(TablePane& pane, const QString& note, const QStringList& headers,
                     std::vector<QStringList>&& rows)
{
    pane.note->setText(note);
    pane.note->setVisible(!note.isEmpty());
    pane.table->setVisible(!rows.empty());
    QAbstractItemModel* old = pane.table->model();
    pane.table->setModel(new TextTableModel(headers, std::move(rows), pane.table));
    delete old;
    pane.table->resizeColumnsToContents();
    const int widest = pane.table->fontMetrics().averageCharWidth() * 50; // a long path is cut in its middle
    for (int column = 0; column < int(headers.size()); ++column)
        pane.table->setColumnWidth(column, std::min(pane.table->columnWidth(column), widest));
}

QWidget* frmViewer::buildHostsPane()
{
    auto* pane = new QWidget(this);
    pane->setObjectName(QStringLiteral("paneHosts"));
    new QVBoxLayout(pane);
    const CaseReport& caseFolder = *m_content->caseFolder;
    TablePane hosts = addTable(pane, QStringLiteral("Hosts"));
    m_hosts = hosts.table;
    m_hosts->setSelectionMode(QAbstractItemView::SingleSelection);
    std::vector<QStringList> rows;
    for (const CaseHost& host : caseFolder.hosts) {
        QString package = host.record.package;
        if (!host.problem.isEmpty())
            package = package.isEmpty() ? host.problem : tr("%1 (%2)").arg(package, host.problem);
        const bool manifest = host.package && host.package->manifest.present;
        rows.push_back({host.record.host, host.shownState(), host.record.reason,
                        manifest ? host.package->manifest.value(QStringLiteral("Version")) : QString(),
                        package});
    }
    fill(hosts, tr("%1 hosts; choose one to see its package.").arg(caseFolder.hosts.size()),
         {tr("Host"), tr("State"), tr("Reason"), tr("Version"), tr("Package")}, std::move(rows));
    connect(m_hosts->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            guarded([this](const QModelIndex& current) { showPackage(current.row()); }));

    m_differences = addTable(pane, QStringLiteral("Differences"));
    std::vector<QStringList> differences;
    for (const VersionSpread& spread : caseFolder.differences)
        for (const auto& [host, value] : spread.byHost)
            differences.push_back({spread.field, host, value});
    fill(m_differences,
         differences.empty() ? tr("Every host reports the same versions.")
                             : tr("Versions that differ between hosts:"),
         {tr("Field"), tr("Host"), tr("Value")}, std::move(differences));
    return pane;
}

void frmViewer::showStatus()
{
    const QStringList& damage =
        m_content->caseFolder ? m_content->caseFolder->damage : m_content->package->damage;
    m_status->setText(damage.isEmpty() ? tr("Intact") : problemCount(damage.size()));
    m_damageButton->setVisible(!damage.isEmpty());
    QStringList shown;
    for (const QString& problem : damage)
        shown.append(shownText(problem));
    m_damageText->setPlainText(shown.join(QLatin1Char('\n')));
    m_damageText->setVisible(!damage.isEmpty());
    QString note = damage.isEmpty() ? tr("Intact: every entry was read and nothing is damaged.")
                                    : problemCount(damage.size()) + QLatin1Char('.');
    if (m_content->package)
        if (const QString checksum = checksumNote(m_content->package->checksum); !checksum.isEmpty())
            note += QLatin1Char(' ') + checksum;
    m_damageNote->setText(note);
}

void frmViewer::selectHost(int row)
{
    if (!m_hosts || row < 0 || row >= m_hosts->model()->rowCount())
        return;
    m_hosts->setCurrentIndex(m_hosts->model()->index(row, 0));
    showPackage(row); // also when it was current already
}

void frmViewer::showPackage(int host)
{
    const auto& hosts = m_content->caseFolder->hosts;
    if (host < 0 || host >= int(hosts.size()))
        return;
    const CaseHost& chosen = hosts[size_t(host)];
    const bool readable = chosen.package && chosen.package->readable();
    QString why = chosen.problem;
    if (why.isEmpty())
        why = chosen.record.reason.isEmpty() ? stateName(chosen.record.state) : chosen.record.reason;
    m_shownPackage->setText(
        shownText(readable ? tr("The package of %1: %2").arg(chosen.record.host, chosen.package->path)
                           : tr("%1 has no package to show: %2").arg(chosen.record.host, why)));
    const PackageFindings* shown = readable ? &*chosen.package : nullptr;
    if (shown == m_content->shown && m_model)
        return;
    m_content->shown = shown;
    fillPackagePanes();
}

void frmViewer::fillPackagePanes()
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restore = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
    const PackageFindings* package = m_content->shown;
    EntryTreeModel* old = m_model;
    m_model = new EntryTreeModel(entryRows(package), this);
    m_proxy->setEntries(m_model);
    delete old;
    filterEntries(m_filter->text());
    sizeColumnsSoon();
    showEntry({});

    const QString none = tr("No package is shown.");
    if (!package) {
        for (TablePane* pane :
             {&m_manifestFields, &m_manifestFiles, &m_leftOut, &m_masked, &m_notChecked, &m_logs})
            fill(*pane, pane == &m_manifestFiles || pane == &m_notChecked ? QString() : none, {},
                 std::vector<QStringList>());
        return;
    }

    const Manifest& manifest = package->manifest;
    std::vector<QStringList> fields;
    for (const Manifest::Field& field : manifest.fields)
        fields.push_back({field.key, field.value});
    fill(m_manifestFields,
         manifest.present ? tr("The version manifest:")
                          : tr("This package has no version manifest (TSVERSION.TXT)."),
         {tr("Field"), tr("Value")}, std::move(fields));
    std::vector<QStringList> files;
    for (const QString& file : manifest.files)
        files.push_back({file});
    fill(m_manifestFiles, files.empty() ? QString() : tr("The files it lists (%1):").arg(files.size()),
         {tr("File")}, std::move(files));

    std::vector<QStringList> leftOut;
    for (const LeftOut& left : package->leftOut)
        leftOut.push_back({left.path, left.reason});
    fill(m_leftOut,
         leftOut.empty() ? tr("Nothing was left out.")
                         : tr("%1 files were left out of the package:").arg(leftOut.size()),
         {tr("Path"), tr("Reason")}, std::move(leftOut));

    const MaskingReport& masking = package->masking;
    std::vector<QStringList> masked;
    for (const MaskingReport::File& file : masking.files)
        masked.push_back(
            {file.entry, QString::number(file.values), QString::number(file.names), file.encoding});
    QString maskingNote = tr("This package was not masked");
    if (masking.present) {
        maskingNote = tr("%1 text files were checked; values were masked in %2 of them.")
                          .arg(masking.filesChecked)
                          .arg(masking.files.size());
        if (masking.namesReplaced)
            maskingNote += QLatin1Char(' ') + tr("Names were replaced by placeholders.");
    }
    fill(m_masked, maskingNote, {tr("Entry"), tr("Values masked"), tr("Names replaced"), tr("Encoding")},
         std::move(masked));
    std::vector<QStringList> notChecked;
    for (const QString& file : masking.notChecked)
        notChecked.push_back({file});
    fill(m_notChecked,
         notChecked.empty()
             ? QString()
             : tr("Not checked, as they could not be read as text (%1):").arg(notChecked.size()),
         {tr("File")}, std::move(notChecked));

    std::vector<QStringList> logs;
    for (const EntryReport& report : package->entries)
        if (report.log)
            logs.push_back({package->entry(report).name.toString(), report.log->first.toString(kTimeFormat),
                            report.log->last.toString(kTimeFormat),
                            report.log->fromStamps ? tr("time stamps") : tr("the entry's date")});
    fill(m_logs, logs.empty() ? tr("This package holds no log files.") : tr("%1 log files:").arg(logs.size()),
         {tr("Log"), tr("First"), tr("Last"), tr("From")}, std::move(logs));
}

// The tree's columns for the rows in view (a view measures only once it is laid out): each fits
// its contents, and the name takes the room the others leave in the pane. Where the pane is too
// narrow for them all, the state goes past its edge first, then the date; the names are elided,
// in the middle, only where the pane cannot hold them and their sizes, and never below the width
// that shows the deepest row in view with a part of its name. Past that the tree scrolls.
void frmViewer::sizeColumns()
{
    QHeaderView* header = m_tree->header();
    m_applyingWidths = true;
    const auto applied = qScopeGuard([this] { m_applyingWidths = false; });
    for (const int column :
         {EntryTreeModel::Name, EntryTreeModel::Size, EntryTreeModel::Modified, EntryTreeModel::State})
        if (column != EntryTreeModel::Name || !m_nameSizedByHand)
            m_tree->resizeColumnToContents(column);
    if (m_nameSizedByHand)
        return;
    m_nameWanted = header->sectionSize(EntryTreeModel::Name);
    const int pane = m_tree->viewport()->width();
    const int size = header->sectionSize(EntryTreeModel::Size);
    const int others =
        size + header->sectionSize(EntryTreeModel::Modified) + header->sectionSize(EntryTreeModel::State);
    header->resizeSection(EntryTreeModel::Name,
                          std::max({pane - others, std::min(m_nameWanted, pane - size), leastNameWidth()}));
}

// The width below which a name column cuts a name of the rows in view to almost nothing.
int frmViewer::leastNameWidth() const
{
    return std::min(m_nameWanted, deepestIndentInView() + m_tree->iconSize().width() +
                                      fontMetrics().averageCharWidth() * 16);
}

// Sizes the columns once the events at hand are done: expanding a thousand folders sizes them once.
void frmViewer::sizeColumnsSoon()
{
    if (m_sizingColumns || !m_columnsSized)
        return;
    m_sizingColumns = true;
    QTimer::singleShot(0, this, guarded([this] {
                           m_sizingColumns = false;
                           sizeColumns();
                       }));
}

// How far the deepest row on the screen is indented.
int frmViewer::deepestIndentInView() const
{
    int deepest = 0;
    const int bottom = m_tree->viewport()->height();
    for (QModelIndex row = m_tree->indexAt(QPoint(0, 0));
         row.isValid() && m_tree->visualRect(row).top() < bottom; row = m_tree->indexBelow(row)) {
        int depth = 1;
        for (QModelIndex parent = row.parent(); parent.isValid(); parent = parent.parent())
            ++depth;
        deepest = std::max(deepest, depth);
    }
    return deepest * m_tree->indentation();
}

void frmViewer::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_columnsSized) { // once the layout has given the tree its size
        m_columnsSized = true;
        sizeColumnsSoon();
    }
}

bool frmViewer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_treeViewport && event->type() == QEvent::Resize)
        sizeColumnsSoon();
    return QMainWindow::eventFilter(watched, event);
}

void frmViewer::filterEntries(const QString& text)
{
    m_proxy->setNameFilter(text);
    m_tree->collapseAll();
    // Open the folders, level by level: all those the filter leaves, or without one the top level.
    std::deque<QModelIndex> waiting{QModelIndex()};
    int opened = 0;
    while (!waiting.empty() && opened < kExpandLimit) {
        const QModelIndex parent = waiting.front();
        waiting.pop_front();
        for (int row = 0, rows = m_proxy->rowCount(parent); row < rows && opened < kExpandLimit; ++row) {
            const QModelIndex child = m_proxy->index(row, 0, parent);
            if (!m_proxy->hasChildren(child))
                continue;
            m_tree->expand(child);
            ++opened;
            if (!text.isEmpty())
                waiting.push_back(child);
        }
    }
    if (m_tree->currentIndex().isValid())
        m_tree->scrollTo(m_tree->currentIndex());
    sizeColumnsSoon();
}

bool frmViewer::selectEntry(const QString& name)
{
    const PackageFindings* package = m_content->shown;
    if (!package)
        return false;
    for (size_t i = 0; i < package->entries.size(); ++i) {
        if (package->entry(package->entries[i]).name != name)
            continue;
        QModelIndex index = m_proxy->mapFromSource(m_model->indexOfEntry(qsizetype(i)));
        if (!index.isValid()) { // hidden by the filter
            m_filter->clear();
            index = m_proxy->mapFromSource(m_model->indexOfEntry(qsizetype(i)));
        }
        m_tree->setCurrentIndex(index);
        m_tree->scrollTo(index);
        return true;
    }
    return false;
}

void frmViewer::showEntry(const QModelIndex& current)
{
    m_pager.reset();
    m_entryText->clear();
    m_pageLabel->clear();
    m_previous->setEnabled(false);
    m_next->setEnabled(false);
    const PackageFindings* package = m_content->shown;
    const qlonglong index = current.isValid() ? current.data(EntryTreeModel::EntryRole).toLongLong() : -1;
    if (!package || index < 0) {
        m_entryName->setText(current.isValid() ? tr("%1: a folder").arg(current.data().toString())
                                               : tr("Choose an entry to see what it holds."));
        return;
    }
    const EntryReport& report = package->entries[size_t(index)];
    const ZipEntry& entry = package->entry(report);
    QString header =
        shownText(entry.name.toString()) + QStringLiteral("\n") + shownText(entryState(report, entry));
    if (!entry.unsafe.isEmpty())
        header += tr("; unsafe name, never followed: %1").arg(shownText(entry.unsafe));
    m_entryName->setText(header);
    if (entry.isFolder() || !entry.refused.isEmpty()) {
        m_pageLabel->setText(entry.isFolder() ? tr("a folder") : tr("not read"));
        return;
    }
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restore = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
    m_pager = std::make_unique<EntryPager>(package->zip, entry);
    showPage();
}

void frmViewer::showPage()
{
    const EntryPager& pager = *m_pager;
    m_entryText->setPlainText(pager.text());
    const quint64 total = pager.size();
    const quint64 from = pager.offset();
    const quint64 to = from + quint64(pager.bytes().size());
    const QString of = total == ~quint64(0) ? tr("of unknown size") : tr("of %1").arg(number(total));
    QString where = pager.bytes().isEmpty()
                        ? (from == 0 ? tr("empty") : tr("no bytes from %1").arg(number(from + 1)))
                        : tr("bytes %1–%2 %3").arg(number(from + 1), number(to), of);
    if (pager.encoding() == EntryEncoding::Binary)
        where = tr("binary, %1 bytes: %2 in hex")
                    .arg(total == ~quint64(0) ? tr("unknown") : number(total), where);
    else
        where = encodingName(pager.encoding()) + QStringLiteral(", ") + where;
    if (!pager.error().isEmpty())
        where += QStringLiteral("; ") + tr("read as far as it goes: %1").arg(shownText(pager.error()));
    m_pageLabel->setText(where);
    m_previous->setEnabled(pager.hasPrevious());
    m_next->setEnabled(pager.hasNext());
}
