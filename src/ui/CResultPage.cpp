#include "ui/CResultPage.h"

#include "engine/DisplayFormat.h"
#include "platform/TextCodec.h"
#include "ui/CPreviewProcess.h"
#include "ui/CRecoveryProcess.h"
#include "ui/FileNodeMetaType.h"
#include "ui/FileTypeIcon.h"
#include "ui/IResultPageHost.h"
#include "ui/PreviewFormat.h"
#include "ui/UiStyles.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstring>

namespace {
const int kRoleCategory = Qt::UserRole;
const int kRoleExtension = Qt::UserRole + 1;
const int kRowHeight = 22;

QString FileSizeText(unsigned long long bytes) {
    return QString::fromStdString(GetFileSizeString(static_cast<long long>(bytes)));
}

QString NodeName(const _FILE_NODE_& node) {
    char name[sizeof node.szFileName + 1];
    std::memcpy(name, node.szFileName, sizeof node.szFileName);
    name[sizeof node.szFileName] = 0;
    return QString::fromStdWString(Ansi2Unicode(name));
}

// Check states the page sets itself are not user ticks.
struct ProgrammaticChange {
    explicit ProgrammaticChange(int& depth) : m_depth(depth) { ++m_depth; }
    ~ProgrammaticChange() { --m_depth; }
    int& m_depth;
};

bool IsExtensionRow(const QTreeWidgetItem* row) { return row && row->data(0, kRoleExtension).isValid(); }
} // namespace

CResultPage::CResultPage(IResultPageHost* host, QWidget* parent) : QWidget(parent), m_host(host) {
    InitLayout();
}

CResultPage::~CResultPage() = default;

void CResultPage::InitLayout() {
    RegisterFileNodeMetaType();
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
    row->addWidget(CreateTree());
    auto* right = new QVBoxLayout();
    right->setSpacing(4);
    m_preview = new QLabel(body);
    m_preview->setFixedSize(PREVIEW_WIDTH, PREVIEW_HEIGHT);
    m_preview->setStyleSheet(QStringLiteral("background-color: white; border: 1px solid rgb(200, 200, 200);"));
    m_preview->setAlignment(Qt::AlignCenter);
    right->addWidget(m_preview);
    right->addWidget(CreateTable(), 1);
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

void CResultPage::SetResults(const std::vector<__SEARCH_FILE_INFO__>& results) {
    m_results = results;
    m_selection.clear();
    m_lastTreeItem = nullptr;
    m_stripText->setText(QStringLiteral("Select Desired Files to Recover\nFound %1 recoverable files after the scan. "
                                        "Please preview and choose the files you want to recover.")
                             .arg(static_cast<qulonglong>(m_results.size())));
    m_table->setRowCount(0);
    m_preview->clear();
    m_groups.Build(m_results);
    m_tree->blockSignals(true);
    m_tree->clear();
    for (int category = 0; category < RESULT_CATEGORY_COUNT; ++category) {
        if (m_groups.Count(category) == 0) continue;
        auto* top = new QTreeWidgetItem(m_tree, {CFileTypeGroups::CategoryText(category, m_groups.Count(category))});
        top->setData(0, kRoleCategory, category);
        top->setCheckState(0, Qt::Unchecked);
        for (const auto& group : m_groups.Map(category)) {
            auto* child = new QTreeWidgetItem(
                top, {CFileTypeGroups::ExtensionText(group.first, static_cast<int>(group.second.size()))});
            child->setData(0, kRoleCategory, category);
            // The key travels with the row: an extension may itself contain blanks.
            child->setData(0, kRoleExtension, group.first);
            child->setIcon(0, QIcon(GetExtendNameIcon(group.first)));
            child->setCheckState(0, Qt::Unchecked);
        }
    }
    m_tree->expandAll();
    m_tree->blockSignals(false);
    UpdateSelectionInfo();
}

QTreeWidget* CResultPage::CreateTree() {
    m_tree = new QTreeWidget(this);
    m_tree->setColumnCount(1);
    m_tree->setHeaderLabels({QString()});
    m_tree->setMinimumSize(250, 410);
    m_tree->setMaximumWidth(250);
    m_tree->setItemsExpandable(true);
    connect(m_tree, &QTreeWidget::itemClicked, this, &CResultPage::treeItemClick);
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &CResultPage::treeItemSelectChanged);
    connect(m_tree, &QTreeWidget::itemChanged, this, &CResultPage::treeItemChanged);
    return m_tree;
}

QTableWidget* CResultPage::CreateTable() {
    m_table = new QTableWidget(0, 2, this);
    m_table->setColumnWidth(0, 400);
    m_table->setColumnWidth(1, 300);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size")});
    m_table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->setVisible(false);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setMinimumSize(300, 205);
    connect(m_table, &QTableWidget::cellClicked, this, &CResultPage::tableItemPress);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &CResultPage::tableItemSelectChanged);
    connect(m_table, &QTableWidget::itemChanged, this, &CResultPage::tableItemChanged);
    return m_table;
}

std::vector<const __SEARCH_FILE_INFO__*> CResultPage::RecordsUnder(QTreeWidgetItem* row) const {
    std::vector<const __SEARCH_FILE_INFO__*> records;
    if (!row) return records;
    int category = row->data(0, kRoleCategory).toInt();
    if (IsExtensionRow(row)) {
        for (const auto& hit : m_groups.Records(category, row->data(0, kRoleExtension).toString()))
            records.push_back(&hit);
    } else if (category >= 0 && category < RESULT_CATEGORY_COUNT) {
        for (const auto& group : m_groups.Map(category))
            for (const auto& hit : group.second) records.push_back(&hit);
    }
    return records;
}

void CResultPage::UpdateTreeInfo(QTreeWidgetItem* row, int /*column*/) {
    ProgrammaticChange guard(m_nProgrammatic);
    m_table->setRowCount(0);
    if (!row) return;
    if (IsExtensionRow(row)) {
        const QString extension = row->data(0, kRoleExtension).toString();
        const QIcon icon(GetExtendNameIcon(extension));
        const auto records = RecordsUnder(row);
        m_table->setRowCount(static_cast<int>(records.size()));
        for (int i = 0; i < static_cast<int>(records.size()); ++i) {
            const _FILE_NODE_& node = *records[static_cast<size_t>(i)];
            const QVariant data = QVariant::fromValue(node);
            auto* name = new QTableWidgetItem(icon, NodeName(node));
            name->setData(Qt::UserRole, data);
            name->setFlags((name->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
            name->setCheckState(Qt::Unchecked);
            auto* size = new QTableWidgetItem(FileSizeText(node.u64FileSize));
            size->setData(Qt::UserRole, data);
            m_table->setItem(i, 0, name);
            m_table->setItem(i, 1, size);
            m_table->setRowHeight(i, kRowHeight);
        }
        // The preview's modal dialog lets the table repaint: it is complete by then.
        if (m_table->rowCount() > 0) tableItemClick(m_table->item(0, 0));
    }

    ApplyTreeCheckState(row);
}

void CResultPage::ApplyTreeCheckState(QTreeWidgetItem* row) {
    ProgrammaticChange guard(m_nProgrammatic);
    const Qt::CheckState state = row->checkState(0);
    if (state == Qt::Checked || state == Qt::Unchecked) {
        SetTreeChildCheckState(row, state);
        SetTreeParentCheckState(row);
        for (const __SEARCH_FILE_INFO__* hit : RecordsUnder(row)) {
            if (state == Qt::Checked)
                m_selection[GetSelectionKey(*hit)] = *hit;
            else
                m_selection.erase(GetSelectionKey(*hit));
        }
    }
    // The table may show this row or one of its children: its ticks follow the map.
    for (int i = 0; i < m_table->rowCount(); ++i) {
        const _FILE_NODE_ node = m_table->item(i, 0)->data(Qt::UserRole).value<_FILE_NODE_>();
        m_table->item(i, 0)->setCheckState(m_selection.count(GetSelectionKey(node)) ? Qt::Checked : Qt::Unchecked);
    }
    UpdateSelectionInfo();
}

void CResultPage::treeItemChanged(QTreeWidgetItem* row, int column) {
    // A tick the user made, with the mouse or the keyboard: the map follows at once.
    if (m_nProgrammatic == 0 && row && column == 0) ApplyTreeCheckState(row);
}

void CResultPage::tableItemChanged(QTableWidgetItem* cell) {
    if (m_nProgrammatic == 0 && cell && cell->column() == 0) tableItemPress(cell->row(), 0);
}

void CResultPage::SetTreeChildCheckState(QTreeWidgetItem* row, int state) {
    if (!row) return;
    for (int i = 0; i < row->childCount(); ++i) {
        QTreeWidgetItem* child = row->child(i);
        child->setCheckState(0, state != 0 ? Qt::Checked : Qt::Unchecked);
        SetTreeChildCheckState(child, state);
    }
}

void CResultPage::SetTreeParentCheckState(QTreeWidgetItem* row) {
    for (QTreeWidgetItem* parent = row ? row->parent() : nullptr; parent; parent = parent->parent()) {
        int checked = 0, unchecked = 0;
        for (int i = 0; i < parent->childCount(); ++i) {
            Qt::CheckState s = parent->child(i)->checkState(0);
            if (s == Qt::Checked) ++checked;
            if (s == Qt::Unchecked) ++unchecked;
        }
        if (checked == parent->childCount())
            parent->setCheckState(0, Qt::Checked);
        else if (unchecked == parent->childCount())
            parent->setCheckState(0, Qt::Unchecked);
        else
            parent->setCheckState(0, Qt::PartiallyChecked);
    }
}

void CResultPage::treeItemSelectChanged() {
    const QList<QTreeWidgetItem*> selected = m_tree->selectedItems();
    if (selected.isEmpty()) return;
    m_lastTreeItem = selected.first();
    UpdateTreeInfo(m_lastTreeItem, 0);
}

void CResultPage::treeItemClick(QTreeWidgetItem* row, int /*column*/) {
    if (row && row == m_lastTreeItem) {
        // A click on the row already shown, e.g. on its check box: apply its new state.
        const QList<QTreeWidgetItem*> selected = m_tree->selectedItems();
        if (!selected.isEmpty()) {
            m_lastTreeItem = selected.first();
            UpdateTreeInfo(m_lastTreeItem, 0);
        }
    }
    if (row) m_tree->setCurrentItem(row);
}

void CResultPage::tableItemPress(int row, int /*column*/) {
    ProgrammaticChange guard(m_nProgrammatic);
    QTableWidgetItem* cell = m_table->item(row, 0);
    if (!cell) return;
    const _FILE_NODE_ node = cell->data(Qt::UserRole).value<_FILE_NODE_>();
    int checkedRows = 0;
    for (int i = 0; i < m_table->rowCount(); ++i)
        if (m_table->item(i, 0)->checkState() == Qt::Checked) ++checkedRows;
    if (cell->checkState() == Qt::Checked) {
        m_selection[GetSelectionKey(node)] = node;
        if (m_lastTreeItem)
            m_lastTreeItem->setCheckState(0, checkedRows == m_table->rowCount() ? Qt::Checked
                                                                               : Qt::PartiallyChecked);
    } else {
        m_selection.erase(GetSelectionKey(node));
        if (m_lastTreeItem) m_lastTreeItem->setCheckState(0, checkedRows > 0 ? Qt::PartiallyChecked : Qt::Unchecked);
    }
    SetTreeParentCheckState(m_lastTreeItem);
    UpdateSelectionInfo();
}

void CResultPage::tableItemSelectChanged() {
    const QList<QTableWidgetItem*> selected = m_table->selectedItems();
    if (!selected.isEmpty()) tableItemClick(selected.first());
}

void CResultPage::tableItemClick(QTableWidgetItem* cell) {
    _FILE_NODE_ record{};
    if (cell) {
        const QVariant data = cell->data(Qt::UserRole);
        if (data.canConvert<_FILE_NODE_>()) record = data.value<_FILE_NODE_>();
    }
    CPreviewProcess preview(record);
    if (m_host) m_host->RunPreview(preview);
    ShowPreview(preview);
}

void CResultPage::ShowPreview(const CPreviewProcess& preview) {
    const QString picture = preview.PicturePath();
    if (!picture.isEmpty()) {
        if (!QFileInfo::exists(picture)) return;
        QImage image(picture);
        m_preview->setAlignment(Qt::AlignCenter);
        if (image.isNull()) {
            m_preview->setPixmap(QPixmap());
            return;
        }
        const QSize size = PreviewPictureSize(image.size());
        m_preview->setPixmap(QPixmap::fromImage(
            size == image.size() ? image : image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        return;
    }
    m_preview->setFont(QFont(QStringLiteral("Arial"), 11, QFont::Normal));
    m_preview->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_preview->setText(WinHexBufData(&preview.Record(), preview.Data(), preview.Length()));
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
    m_selectLabel->setText(SelectionText(m_selection));
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
