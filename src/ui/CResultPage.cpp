#include "ui/CResultPage.h"

#include "engine/DisplayFormat.h"
#include "ui/CPreviewProcess.h"
#include "ui/CRecoveryProcess.h"
#include "ui/FileTypeIcon.h"
#include "ui/IResultPageHost.h"
#include "ui/PreviewFormat.h"
#include "ui/UiStyles.h"

#include <QCheckBox>
#include <QDateTime>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <map>

#ifdef ORVALE_HAVE_QTPDF
#include <QPdfDocument>
#endif

namespace {
const int kRoleItem = Qt::UserRole;      // tree rows: their ITEM_FILES
const int kRoleKind = Qt::UserRole + 1;  // tree rows: ITEM_KIND
const int kRoleLabel = Qt::UserRole + 2; // tree rows: the text before the count
const int kRoleRecord = Qt::UserRole;    // table rows: the hit's position
const int kRoleSort = Qt::UserRole + 1;  // table cells: the number they sort by
const int kRowHeight = 22;

QString FileSizeText(unsigned long long bytes) {
    return QString::fromStdString(GetFileSizeString(static_cast<long long>(bytes)));
}

// Sizes and dates sort as numbers, names ignoring case, the rest as text.
class SortItem : public QTableWidgetItem {
public:
    using QTableWidgetItem::QTableWidgetItem;
    bool operator<(const QTableWidgetItem& other) const override {
        const QVariant a = data(kRoleSort), b = other.data(kRoleSort);
        if (a.isValid() && b.isValid()) return a.toLongLong() < b.toLongLong();
        return text().compare(other.text(), Qt::CaseInsensitive) < 0;
    }
};

struct ProgrammaticChange {
    explicit ProgrammaticChange(int& depth) : m_depth(depth) { ++m_depth; }
    ~ProgrammaticChange() { --m_depth; }
    int& m_depth;
};

void ForEachItem(QTreeWidget* tree, const std::function<void(QTreeWidgetItem*)>& visit) {
    std::function<void(QTreeWidgetItem*)> walk = [&](QTreeWidgetItem* item) {
        visit(item);
        for (int i = 0; i < item->childCount(); ++i) walk(item->child(i));
    };
    for (int i = 0; i < tree->topLevelItemCount(); ++i) walk(tree->topLevelItem(i));
}
} // namespace

CResultPage::CResultPage(IResultPageHost* host, QWidget* parent) : QWidget(parent), m_host(host) { InitLayout(); }

CResultPage::~CResultPage() = default;

void CResultPage::InitLayout() {
    m_chooseDirectory = [this]() {
        return QFileDialog::getExistingDirectory(
            this, QString(), QStringLiteral("/"),
            QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks | QFileDialog::DontUseNativeDialog);
    };
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* strip = new QWidget(this);
    strip->setStyleSheet(QLatin1String(light_strip_style));
    strip->setFixedHeight(70);
    auto* stripLayout = new QHBoxLayout(strip);
    stripLayout->setContentsMargins(20, 0, 20, 0);
    auto* stripIcon = new QLabel(strip);
    stripIcon->setPixmap(QIcon(QStringLiteral(":/image/recover_file.png")).pixmap(48, 48));
    stripLayout->addWidget(stripIcon);
    m_stripText = new QLabel(strip);
    m_stripText->setFont(QFont(QStringLiteral("Arial"), 12));
    stripLayout->addWidget(m_stripText, 1);
    layout->addWidget(strip);

    auto* body = new QWidget(this);
    auto* bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(10, 4, 10, 4);
    bodyLayout->setSpacing(4);

    auto* row = new QHBoxLayout();
    row->setSpacing(6);
    m_views = new QTabWidget(body);
    m_views->setMinimumSize(260, 410);
    m_views->setMaximumWidth(280);
    m_tree = CreateTree(QStringLiteral("File types"));
    m_folderTree = CreateTree(QStringLiteral("Original folders"));
    m_views->addTab(m_tree, QStringLiteral("Types"));
    m_views->addTab(m_folderTree, QStringLiteral("Folders"));
    connect(m_views, &QTabWidget::currentChanged, this, [this] { ShowFiles(CurrentTree()->currentItem(), true); });
    row->addWidget(m_views);

    auto* right = new QVBoxLayout();
    right->setSpacing(4);
    auto* filters = new QHBoxLayout();
    m_filterEdit = new QLineEdit(body);
    m_filterEdit->setPlaceholderText(QStringLiteral("Filter by name: part of it, or a pattern such as *.jpg"));
    m_filterEdit->setClearButtonEnabled(true);
    m_deletedOnly = new QCheckBox(QStringLiteral("Deleted only"), body);
    m_healthyOnly = new QCheckBox(QStringLiteral("Healthy only"), body);
    m_shownLabel = new QLabel(body);
    filters->addWidget(m_filterEdit, 1);
    filters->addWidget(m_deletedOnly);
    filters->addWidget(m_healthyOnly);
    filters->addWidget(m_shownLabel);
    connect(m_filterEdit, &QLineEdit::textChanged, this, &CResultPage::ApplyFilter);
    connect(m_deletedOnly, &QCheckBox::toggled, this, &CResultPage::ApplyFilter);
    connect(m_healthyOnly, &QCheckBox::toggled, this, &CResultPage::ApplyFilter);
    right->addLayout(filters);

    auto* split = new QSplitter(Qt::Vertical, body);
    m_previewStack = new QStackedWidget(split);
    m_previewStack->setMinimumHeight(120);
    m_previewText = new QPlainTextEdit(m_previewStack);
    m_previewText->setReadOnly(true);
    m_previewText->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_previewText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_previewPicture = new QLabel(m_previewStack);
    m_previewPicture->setAlignment(Qt::AlignCenter);
    m_previewPicture->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    m_previewPicture->setStyleSheet(QStringLiteral("background-color: white; border: 1px solid rgb(200, 200, 200);"));
    m_previewPicture->installEventFilter(this);
    m_previewStack->addWidget(m_previewText);
    m_previewStack->addWidget(m_previewPicture);
    split->addWidget(m_previewStack);
    split->addWidget(CreateTable());
    split->setSizes({220, 260});
    right->addWidget(split, 1);
    row->addLayout(right, 1);
    bodyLayout->addLayout(row, 1);

    auto* buttons = new QHBoxLayout();
    m_selectLabel = new QLabel(body);
    m_selectLabel->setFont(QFont(QStringLiteral("Arial"), 12, QFont::Bold));
    buttons->addWidget(m_selectLabel, 1);
    m_keepTree = new QCheckBox(QStringLiteral("Keep folder structure"), body);
    m_keepTree->setChecked(true);
    m_keepTree->setToolTip(QStringLiteral("Recreate each file's original folders inside its category folder"));
    buttons->addWidget(m_keepTree);
    m_btnBack = new QPushButton(QStringLiteral("Back"), body);
    m_btnRecover = new QPushButton(QStringLiteral("Recover"), body);
    for (QPushButton* b : {m_btnBack, m_btnRecover}) {
        b->setFixedSize(140, 40);
        b->setFont(QFont(QStringLiteral("Arial"), 14, QFont::Bold));
        b->setCursor(Qt::PointingHandCursor);
        buttons->addWidget(b);
    }
    m_btnBack->setStyleSheet(QLatin1String(main_button_style));
    connect(m_btnBack, &QPushButton::clicked, this, &CResultPage::BackClicked);
    connect(m_btnRecover, &QPushButton::clicked, this, &CResultPage::btnRecovery);
    bodyLayout->addLayout(buttons);
    layout->addWidget(body, 1);

    SetResults(std::vector<__SEARCH_FILE_INFO__>());
}

QTreeWidget* CResultPage::CreateTree(const QString& header) {
    auto* tree = new QTreeWidget(this);
    tree->setColumnCount(1);
    tree->setHeaderLabels({header});
    // Long volume and folder names scroll instead of being cut.
    tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tree->header()->setStretchLastSection(false);
    connect(tree, &QTreeWidget::currentItemChanged, this,
            [this, tree](QTreeWidgetItem* item) {
                if (tree == CurrentTree()) ShowFiles(item, true);
            });
    connect(tree, &QTreeWidget::itemChanged, this, &CResultPage::OnTreeItemChanged);
    return tree;
}

QTableWidget* CResultPage::CreateTable() {
    m_table = new QTableWidget(0, COL_COUNT, this);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Folder"), QStringLiteral("Size"),
                                        QStringLiteral("Modified"), QStringLiteral("Status"), QStringLiteral("Health"),
                                        QStringLiteral("Source")});
    const int widths[COL_COUNT] = {180, 120, 70, 110, 60, 55, 100};
    for (int c = 0; c < COL_COUNT; ++c) m_table->setColumnWidth(c, widths[c]);
    m_table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setSortIndicator(COL_NAME, Qt::AscendingOrder);
    m_table->verticalHeader()->setVisible(false);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSortingEnabled(true);
    m_table->setMinimumSize(300, 160);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &CResultPage::OnTableSelection);
    connect(m_table, &QTableWidget::itemChanged, this,
            [this](QTableWidgetItem* cell) { OnTableItemChanged(cell->row(), cell->column()); });
    return m_table;
}

QTreeWidgetItem* CResultPage::NewItem(QTreeWidget* tree, QTreeWidgetItem* parent, int kind, const QString& label) {
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
    item->setData(0, kRoleItem, static_cast<int>(m_itemFiles.size()));
    item->setData(0, kRoleKind, kind);
    item->setData(0, kRoleLabel, label);
    item->setCheckState(0, Qt::Unchecked);
    m_itemFiles.emplace_back();
    return item;
}

void CResultPage::SetResults(const std::vector<__SEARCH_FILE_INFO__>& results) {
    ProgrammaticChange guard(m_nProgrammatic);
    m_results = results;
    m_rows = BuildResultRows(
        m_results, [this](const _FILE_NODE_& node) { return m_host ? m_host->FolderOf(node) : QString(); },
        !m_host || m_host->AreaHasFileSystem(), m_host ? m_host->AreaStartSector() : 0);
    m_ticked.assign(m_results.size(), 0);
    m_visible.assign(m_results.size(), 1);
    m_selection.clear();
    m_itemFiles.clear();
    m_stripText->setText(QStringLiteral("Select Desired Files to Recover\nFound %1 recoverable files after the scan. "
                                        "Please preview and choose the files you want to recover.")
                             .arg(static_cast<qulonglong>(m_results.size())));
    m_table->setRowCount(0);
    ClearPreview();
    for (QTreeWidget* tree : {m_tree, m_folderTree}) {
        tree->blockSignals(true);
        tree->clear();
    }
    BuildTypeTree();
    BuildFolderTree();
    for (QTreeWidget* tree : {m_tree, m_folderTree}) {
        tree->expandAll();
        tree->blockSignals(false);
    }
    ApplyFilter();
}

void CResultPage::BuildTypeTree() {
    m_groups.Build(m_results);
    for (int category = 0; category < RESULT_CATEGORY_COUNT; ++category) {
        if (m_groups.Count(category) == 0) continue;
        QTreeWidgetItem* top = NewItem(m_tree, nullptr, KIND_CATEGORY, CFileTypeGroups::CategoryName(category));
        top->setData(0, kRoleLabel, category);
        for (const auto& group : m_groups.Map(category)) {
            QTreeWidgetItem* child = NewItem(m_tree, top, KIND_EXTENSION, group.first);
            child->setIcon(0, QIcon(GetExtendNameIcon(group.first)));
            ITEM_FILES& files = m_itemFiles[static_cast<size_t>(child->data(0, kRoleItem).toInt())];
            files.direct = group.second;
            files.all = group.second;
            ITEM_FILES& parent = m_itemFiles[static_cast<size_t>(top->data(0, kRoleItem).toInt())];
            parent.all.insert(parent.all.end(), group.second.begin(), group.second.end());
        }
        ITEM_FILES& files = m_itemFiles[static_cast<size_t>(top->data(0, kRoleItem).toInt())];
        files.direct = files.all;
    }
}

void CResultPage::BuildFolderTree() {
    // Volumes in order: the file system, lost volumes by their start, then the carved files.
    std::map<std::pair<int, uint64_t>, QString> volumes;
    std::map<QString, std::map<QString, std::vector<int>>> folders; // volume -> folder -> files
    for (int i = 0; i < static_cast<int>(m_rows.size()); ++i) {
        const RESULT_ROW& row = m_rows[static_cast<size_t>(i)];
        if (row.name.isEmpty()) continue;
        volumes.emplace(std::make_pair(row.source, row.volumeSector), row.volume);
        folders[row.volume][row.folder].push_back(i);
    }
    for (const auto& volume : volumes) {
        QTreeWidgetItem* top = NewItem(m_folderTree, nullptr, KIND_FOLDER, volume.second);
        std::map<QString, QTreeWidgetItem*> made{{QString(), top}};
        std::function<QTreeWidgetItem*(const QString&)> itemOf = [&](const QString& path) {
            auto it = made.find(path);
            if (it != made.end()) return it->second;
            const int slash = path.lastIndexOf('/');
            QTreeWidgetItem* parent = itemOf(slash < 0 ? QString() : path.left(slash));
            QTreeWidgetItem* item = NewItem(m_folderTree, parent, KIND_FOLDER, path.mid(slash + 1));
            made.emplace(path, item);
            return item;
        };
        for (const auto& folder : folders[volume.second]) {
            QTreeWidgetItem* item = itemOf(folder.first);
            m_itemFiles[static_cast<size_t>(item->data(0, kRoleItem).toInt())].direct = folder.second;
            for (QTreeWidgetItem* up = item; up; up = up->parent()) {
                ITEM_FILES& files = m_itemFiles[static_cast<size_t>(up->data(0, kRoleItem).toInt())];
                files.all.insert(files.all.end(), folder.second.begin(), folder.second.end());
            }
        }
    }
}

void CResultPage::ApplyFilter() {
    ProgrammaticChange guard(m_nProgrammatic);
    m_filter = CResultFilter(m_filterEdit->text(), m_deletedOnly->isChecked(), m_healthyOnly->isChecked());
    for (size_t i = 0; i < m_rows.size(); ++i) m_visible[i] = !m_rows[i].name.isEmpty() && m_filter.Accepts(m_rows[i]);
    for (QTreeWidget* tree : {m_tree, m_folderTree}) ForEachItem(tree, [this](QTreeWidgetItem* item) { UpdateItemTexts(item); });
    RefreshTicks(); // and the selection's summary
    UpdateShownInfo();
    ShowFiles(CurrentTree()->currentItem(), false);
}

void CResultPage::UpdateItemTexts(QTreeWidgetItem* item) {
    int shown = 0;
    for (int record : m_itemFiles[static_cast<size_t>(item->data(0, kRoleItem).toInt())].all) shown += m_visible[static_cast<size_t>(record)];
    const QVariant label = item->data(0, kRoleLabel);
    switch (item->data(0, kRoleKind).toInt()) {
    case KIND_CATEGORY: item->setText(0, CFileTypeGroups::CategoryText(label.toInt(), shown)); break;
    case KIND_EXTENSION: item->setText(0, CFileTypeGroups::ExtensionText(label.toString(), shown)); break;
    default: item->setText(0, QStringLiteral("%1 (%2)").arg(label.toString()).arg(shown)); break;
    }
    item->setHidden(shown == 0);
}

QTreeWidget* CResultPage::CurrentTree() const { return m_views->currentIndex() == 1 ? m_folderTree : m_tree; }

int CResultPage::RecordOfRow(int row) const {
    const QTableWidgetItem* cell = m_table->item(row, COL_NAME);
    return cell ? cell->data(kRoleRecord).toInt() : -1;
}

void CResultPage::ShowFiles(QTreeWidgetItem* item, bool previewFirst) {
    std::vector<int> records;
    if (item && !item->isHidden())
        for (int record : m_itemFiles[static_cast<size_t>(item->data(0, kRoleItem).toInt())].direct)
            if (m_visible[static_cast<size_t>(record)]) records.push_back(record);
    const int keep = m_previewRecord;
    FillTable(records);
    int row = -1;
    for (int r = 0; r < m_table->rowCount() && row < 0; ++r)
        if (RecordOfRow(r) == keep) row = r;
    if (row < 0 && previewFirst && m_table->rowCount() > 0) row = 0;
    if (row >= 0) {
        m_table->selectRow(row);
        m_table->scrollToItem(m_table->item(row, COL_NAME));
    } else {
        ClearPreview();
    }
}

void CResultPage::FillTable(const std::vector<int>& records) {
    ProgrammaticChange guard(m_nProgrammatic);
    const QSignalBlocker block(m_table);
    m_table->setSortingEnabled(false);
    m_table->clearSelection();
    m_table->setRowCount(static_cast<int>(records.size()));
    for (int r = 0; r < static_cast<int>(records.size()); ++r) {
        const int record = records[static_cast<size_t>(r)];
        const __SEARCH_FILE_INFO__& hit = m_results[static_cast<size_t>(record)];
        const RESULT_ROW& info = m_rows[static_cast<size_t>(record)];
        const int dot = info.name.lastIndexOf('.');
        auto* name = new SortItem(QIcon(GetExtendNameIcon(dot < 0 ? QString() : info.name.mid(dot + 1))), info.name);
        name->setData(kRoleRecord, record);
        name->setFlags((name->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
        name->setCheckState(m_ticked[static_cast<size_t>(record)] ? Qt::Checked : Qt::Unchecked);
        auto* size = new SortItem(FileSizeText(hit.u64FileSize));
        size->setData(kRoleSort, static_cast<qlonglong>(hit.u64FileSize));
        // FAT keeps the day alone.
        auto* modified = new SortItem(info.modified < 0 ? QString()
                                                        : QDateTime::fromSecsSinceEpoch(info.modified, Qt::UTC)
                                                              .toString(info.modified % 86400 ? QStringLiteral("yyyy-MM-dd HH:mm")
                                                                                              : QStringLiteral("yyyy-MM-dd")));
        modified->setData(kRoleSort, static_cast<qlonglong>(info.modified));
        const QString folder = info.source == SOURCE_CARVED ? QString() : QStringLiteral("/") + info.folder;
        QTableWidgetItem* cells[COL_COUNT] = {
            name, new SortItem(folder), size, modified,
            new SortItem(info.deleted ? QStringLiteral("Deleted") : QStringLiteral("Live")),
            new SortItem(info.healthy ? QStringLiteral("Good") : QStringLiteral("Damaged")),
            new SortItem(SourceText(info.source))};
        cells[COL_FOLDER]->setToolTip(info.volume + folder);
        for (int c = 0; c < COL_COUNT; ++c) m_table->setItem(r, c, cells[c]);
        m_table->setRowHeight(r, kRowHeight);
    }
    m_table->setSortingEnabled(true);
}

void CResultPage::SetTicked(int record, bool ticked) {
    if (record < 0 || record >= static_cast<int>(m_results.size())) return;
    m_ticked[static_cast<size_t>(record)] = ticked;
    const __SEARCH_FILE_INFO__& hit = m_results[static_cast<size_t>(record)];
    if (ticked)
        m_selection[GetSelectionKey(hit)] = hit;
    else
        m_selection.erase(GetSelectionKey(hit));
}

int CResultPage::RefreshItemTicks(QTreeWidgetItem* item) {
    int shown = 0, ticked = 0;
    for (int record : m_itemFiles[static_cast<size_t>(item->data(0, kRoleItem).toInt())].all) {
        if (!m_visible[static_cast<size_t>(record)]) continue;
        ++shown;
        ticked += m_ticked[static_cast<size_t>(record)] ? 1 : 0;
    }
    item->setCheckState(0, ticked == 0 ? Qt::Unchecked : ticked == shown ? Qt::Checked : Qt::PartiallyChecked);
    return ticked;
}

void CResultPage::RefreshTicks() {
    ProgrammaticChange guard(m_nProgrammatic);
    for (QTreeWidget* tree : {m_tree, m_folderTree}) ForEachItem(tree, [this](QTreeWidgetItem* item) { RefreshItemTicks(item); });
    for (int r = 0; r < m_table->rowCount(); ++r) {
        const int record = RecordOfRow(r);
        if (record >= 0)
            m_table->item(r, COL_NAME)->setCheckState(m_ticked[static_cast<size_t>(record)] ? Qt::Checked : Qt::Unchecked);
    }
    UpdateSelectionInfo();
}

void CResultPage::OnTreeItemChanged(QTreeWidgetItem* item, int column) {
    // A tick the user made, with the mouse or the keyboard: it covers what the filter shows.
    if (m_nProgrammatic != 0 || !item || column != 0) return;
    const bool ticked = item->checkState(0) != Qt::Unchecked;
    for (int record : m_itemFiles[static_cast<size_t>(item->data(0, kRoleItem).toInt())].all)
        if (m_visible[static_cast<size_t>(record)]) SetTicked(record, ticked);
    RefreshTicks();
}

void CResultPage::OnTableItemChanged(int row, int column) {
    if (m_nProgrammatic != 0 || column != COL_NAME) return;
    SetTicked(RecordOfRow(row), m_table->item(row, COL_NAME)->checkState() == Qt::Checked);
    RefreshTicks();
}

void CResultPage::OnTableSelection() {
    const QList<QTableWidgetItem*> selected = m_table->selectedItems();
    const int record = selected.isEmpty() ? -1 : RecordOfRow(selected.first()->row());
    if (record < 0)
        ClearPreview();
    else if (record != m_previewRecord)
        PreviewRecord(record);
}

void CResultPage::PreviewRecord(int record) {
    m_previewRecord = record;
    CPreviewProcess preview(m_results[static_cast<size_t>(record)]);
    if (m_host) m_host->RunPreview(preview);
    // Another row may have been chosen while the preview ran.
    if (m_previewRecord == record) ShowPreview(preview);
}

void CResultPage::ClearPreview() {
    m_previewRecord = -1;
    m_previewImage = QImage();
    m_previewPicture->clear();
    m_previewText->clear();
    m_previewStack->setCurrentWidget(m_previewText);
}

void CResultPage::ShowPicture(const QImage& image) {
    m_previewImage = image;
    const QSize size = PreviewPictureSize(image.size(), m_previewStack->contentsRect().size());
    m_previewPicture->setPixmap(QPixmap::fromImage(
        size == image.size() ? image : image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    m_previewStack->setCurrentWidget(m_previewPicture);
}

bool CResultPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_previewPicture && event->type() == QEvent::Resize && !m_previewImage.isNull()) {
        const QSize size = PreviewPictureSize(m_previewImage.size(), m_previewStack->contentsRect().size());
        m_previewPicture->setPixmap(QPixmap::fromImage(m_previewImage.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    }
    return QWidget::eventFilter(watched, event);
}

void CResultPage::ShowPreview(const CPreviewProcess& preview) {
    m_previewImage = QImage();
    const QString picture = preview.PicturePath();
    if (!picture.isEmpty()) {
        const QImage image(picture);
        if (!image.isNull()) return ShowPicture(image);
        m_previewText->setPlainText(QStringLiteral("This picture cannot be shown: its data does not decode."));
        m_previewStack->setCurrentWidget(m_previewText);
        return;
    }
#ifdef ORVALE_HAVE_QTPDF
    if (!preview.DocumentPath().isEmpty()) {
        QPdfDocument document;
        if (document.load(preview.DocumentPath()) == QPdfDocument::Error::None && document.pageCount() > 0) {
            const QSize page = document.pagePointSize(0).toSize();
            const QSize size = PreviewPictureSize(page * 4, m_previewStack->contentsRect().size());
            const QImage image = document.render(0, size.isEmpty() ? QSize(600, 800) : size);
            if (!image.isNull()) return ShowPicture(image);
        }
    }
#endif
    const unsigned char* data = preview.Data();
    const int length = preview.Length();
    QString text;
    if (length <= 0)
        text = QStringLiteral("No data could be read for this file.");
    else if (LooksLikeText(data, length))
        text = ::PreviewText(data, length);
    else
        text = HexDump(data, length);
    m_previewText->setPlainText(text);
    m_previewStack->setCurrentWidget(m_previewText);
}

QString CResultPage::SelectionText(const SelectionMap& selection) {
    unsigned long long total = 0;
    for (const auto& entry : selection) total += entry.second.u64FileSize;
    const int n = static_cast<int>(selection.size());
    return QStringLiteral("Select %1 in %2 %3")
        .arg(FileSizeText(total))
        .arg(n)
        .arg(n >= 2 ? QStringLiteral("files") : QStringLiteral("file"));
}

void CResultPage::UpdateSelectionInfo() {
    SetActionButtonEnabled(m_btnRecover, !m_selection.empty());
    // Ticked files the filter hides are recovered too: the user is told.
    int hidden = 0;
    for (size_t i = 0; i < m_ticked.size(); ++i) hidden += m_ticked[i] && !m_visible[i];
    m_selectLabel->setText(SelectionText(m_selection) +
                           (hidden ? QStringLiteral(", %1 hidden by the filter").arg(hidden) : QString()));
}

void CResultPage::UpdateShownInfo() {
    unsigned long long bytes = 0;
    int shown = 0;
    for (size_t i = 0; i < m_results.size(); ++i)
        if (m_visible[i]) {
            ++shown;
            bytes += m_results[i].u64FileSize;
        }
    m_shownLabel->setText(QStringLiteral("%1 of %2 files, %3").arg(shown).arg(m_results.size()).arg(FileSizeText(bytes)));
}

void CResultPage::btnRecovery() {
    if (m_selection.empty()) return;
    m_saveDir = QStringLiteral("/");
    const QString dir = m_chooseDirectory ? m_chooseDirectory() : QString();
    if (dir.isNull() || dir.isEmpty()) return;
    m_saveDir = dir;
    CRecoveryProcess recovery(m_selection, m_saveDir, m_keepTree->isChecked());
    if (m_host) m_host->RunRecovery(recovery, m_saveDir);
}
