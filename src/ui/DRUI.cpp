#include "ui/DRUI.h"

#include "engine/DisplayFormat.h"
#include "engine/FileCategories.h"
#include "platform/DeviceMap.h"
#include "ui/CMessageBox.h"
#include "ui/HelpPage.h"
#include "ui/IResultPageHost.h"
#include "ui/MediaList.h"
#include "ui/UiStyles.h"

#include <QApplication>
#include <QCheckBox>
#include <QDebug>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFont>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStackedLayout>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

namespace {
struct CATEGORY_TILE {
    const char* text;
    const char* icon;
    const char* colour;
};
const CATEGORY_TILE kTiles[6] = {
    {"Photo", ":/image/photo.png", "background-color: rgb(180, 160, 200);"},
    {"Music", ":/image/music.png", "background-color: rgb(250, 181, 160);"},
    {"Video", ":/image/video.png", "background-color: rgb(152, 215 ,245);"},
    {"Document", ":/image/document.png", "background-color: rgb(255, 181, 197);"},
    {"Archive", ":/image/archive.png", "background-color: rgb(255, 205, 75);"},
    {"Other", ":/image/other.png", "background-color: rgb(162, 218, 85);"},
};
// Category bit of each tile, in tile order.
const unsigned kTileCategory[6] = {CATEGORY_PHOTO, CATEGORY_MUSIC,   CATEGORY_VIDEO,
                                   CATEGORY_DOCUMENT, CATEGORY_ARCHIVE, CATEGORY_OTHER};

QFont Arial(int size, bool bold) {
    QFont font("Arial", size);
    font.setBold(bold);
    return font;
}

// Where an area row keeps its device and first sector, to find it again after a
// refresh: by path, since a disk's number moves when a device before it comes or goes.
constexpr int kRoleDisk = Qt::UserRole + 1;
constexpr int kRoleStart = Qt::UserRole + 2;
constexpr int kDevicePollMs = 2000;

QString Utf8(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }
} // namespace

DRUI::DRUI(QWidget* parent, Qt::WindowFlags flags) : CWorkWindow(parent, flags) {
    qRegisterMetaType<_PARTITION_ITEM_>("PARTITION_ITEM");
    std::memset(&m_partitionItem, 0, sizeof m_partitionItem);
    setObjectName("DRUIClass");
    auto* central = new QWidget(this);
    central->setObjectName("centralWidget");
    central->setStyleSheet("background-color: rgb(251, 252, 255);");
    setCentralWidget(central);
    setWindowTitle("Orvale");
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setFixedSize(1000, 660);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect desk = screen->geometry();
        move((desk.width() - width()) / 2, (desk.height() - height()) / 2);
    }
}

DRUI::~DRUI() {
    // The engine ends with the window; no worker runs once the event loop is over.
    DestroyEngine();
}

void DRUI::Init() {
    m_pLayout1Widget = InitLayout1Widget();
    m_pLayout2Widget = InitLayout2Widget();
    m_pStackedLayout = new QStackedLayout();
    m_pStackedLayout->addWidget(m_pLayout1Widget);
    m_pStackedLayout->addWidget(m_pLayout2Widget);
    m_pStackedLayout->setCurrentIndex(PAGE_FILE_TYPE);
    auto* box = new QVBoxLayout(centralWidget());
    box->setSpacing(0);
    box->setContentsMargins(0, 0, 0, 0);
    box->addLayout(m_pStackedLayout);

    // Cards and sticks come and go: the list follows while the media page is up.
    m_pDevicePoll = new QTimer(this);
    connect(m_pDevicePoll, &QTimer::timeout, this, &DRUI::PollDevices);
    m_pDevicePoll->start(kDevicePollMs);

    // The scan log and the result stores write below these; failures show up there.
    MakeDirectories(GetSupportDirPath());
    MakeDirectories(GetScanLogDirPath());
}

unsigned DRUI::GetCheckedCategories() const {
    unsigned flags = 0;
    for (int i = 0; i < 6; ++i)
        if (m_pCategoryBox[i] && m_pCategoryBox[i]->checkState() == Qt::Checked) flags |= kTileCategory[i];
    return flags;
}

std::wstring DRUI::BuildCheckedSearchKey() const { return BuildSearchKey(GetCheckedCategories()); }

QWidget* DRUI::CreateHeaderBar(QWidget* parent) {
    auto* bar = new QWidget(parent);
    bar->setStyleSheet(header_bar_style);
    bar->setFixedHeight(28);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(8, 2, 6, 2);
    row->setSpacing(4);
    row->addStretch(1);
    auto* min = new QPushButton(bar);
    min->setIcon(QIcon(":/image/minimize.png"));
    auto* close = new QPushButton(bar);
    close->setIcon(QIcon(":/image/close.png"));
    for (QPushButton* b : {min, close}) {
        b->setFlat(true);
        b->setCursor(Qt::PointingHandCursor);
        b->setFixedSize(24, 24);
        b->setStyleSheet("QPushButton{border: none;} QPushButton:hover{background-color: rgb(160, 160, 160);}");
        row->addWidget(b);
    }
    min->setObjectName("minimizeButton");
    close->setObjectName("closeButton");
    connect(min, &QPushButton::clicked, this, &DRUI::btnMinSlot);
    connect(close, &QPushButton::clicked, this, &DRUI::btnCloseSlot);
    return bar;
}

QWidget* DRUI::CreateHeading(QWidget* parent) {
    auto* heading = new QWidget(parent);
    heading->setStyleSheet(type_page_style);
    heading->setFixedHeight(64);
    auto* row = new QHBoxLayout(heading);
    row->setContentsMargins(24, 4, 16, 4);
    auto* text = new QLabel("\tOrvale\nRecover photos, videos, audios, documents, emails, archives", heading);
    text->setFont(Arial(17, true));
    text->setStyleSheet("color: white;");
    row->addWidget(text, 1);
    // Kinds 0, 1, 2 are laid out right to left, 30 pixels apart.
    auto* buttons = new QWidget(heading);
    buttons->setFixedSize(100, 30);
    for (int kind = 0; kind < 3; ++kind) CreateButton(kind, 70 - 30 * kind, buttons);
    row->addWidget(buttons, 0, Qt::AlignRight | Qt::AlignTop);
    return heading;
}

QPushButton* DRUI::CreateButton(int kind, int x, QWidget* parent) {
    static const char* const icons[3] = {":/image/about.png", ":/image/support.png", ":/image/help.png"};
    static const char* const tips[3] = {"About", "Support", "Help"};
    if (kind < 0 || kind > 2) return nullptr;
    auto* button = new QPushButton(parent);
    button->setIcon(QIcon(icons[kind]));
    button->setIconSize(QSize(22, 22));
    button->setToolTip(tips[kind]);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet("QPushButton{border: none;}");
    button->setGeometry(x, 2, 26, 26);
    if (kind == 0) connect(button, &QPushButton::clicked, this, &DRUI::btnAboutSlot);
    else if (kind == 1) connect(button, &QPushButton::clicked, this, &DRUI::btnSupportSlot);
    else connect(button, &QPushButton::clicked, this, &DRUI::btnHelpSlot);
    return button;
}

QWidget* DRUI::CreateFooterBar(QWidget* parent) {
    auto* footer = new QLabel(QString("  ") + kVersionText, parent);
    footer->setStyleSheet(QString(backGroud_style) + "color: white;");
    footer->setFixedHeight(26);
    return footer;
}

QWidget* DRUI::InitLayout1Widget() {
    delete m_pLayout1Widget;
    auto* page = new QWidget();
    page->setStyleSheet(type_page_style);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(CreateHeaderBar(page));
    column->addWidget(CreateHeading(page));

    auto* tiles = new QHBoxLayout();
    column->addStretch(1);
    tiles->setContentsMargins(30, 0, 30, 30);
    tiles->setSpacing(16);
    for (int i = 0; i < 6; ++i) {
        auto* tile = new QWidget(page);
        tile->setObjectName(QString("tile%1").arg(i));
        tile->setAttribute(Qt::WA_StyledBackground, true);
        tile->setStyleSheet(QString("#tile%1{%2 border-radius: 8px;} QLabel{background: transparent;} %3")
                                .arg(i)
                                .arg(kTiles[i].colour, check_box_style));
        tile->setFixedSize(140, 200);
        auto* inside = new QVBoxLayout(tile);
        inside->setContentsMargins(8, 18, 8, 12);
        auto* icon = new QLabel(tile);
        icon->setPixmap(QIcon(kTiles[i].icon).pixmap(72, 72));
        icon->setAlignment(Qt::AlignCenter);
        inside->addWidget(icon, 1);
        auto* text = new QLabel(kTiles[i].text, tile);
        text->setFont(Arial(15, true));
        text->setStyleSheet("color: white;");
        text->setAlignment(Qt::AlignCenter);
        inside->addWidget(text);
        auto* box = new QCheckBox(tile);
        box->setChecked(true);
        box->setCursor(Qt::PointingHandCursor);
        inside->addWidget(box, 0, Qt::AlignCenter);
        m_pCategoryBox[i] = box;
        connect(box, &QCheckBox::stateChanged, this, &DRUI::CheckBoxStatChange);
        tiles->addWidget(tile);
    }
    column->addLayout(tiles);

    auto* controls = new QHBoxLayout();
    controls->setContentsMargins(40, 10, 30, 30);
    m_pRecoverAllBox = new QCheckBox(" Recover All", page);
    m_pRecoverAllBox->setChecked(true);
    m_pRecoverAllBox->setFont(Arial(18, true));
    m_pRecoverAllBox->setStyleSheet(QString(check_box_style) + "QCheckBox{color: white;}");
    m_pRecoverAllBox->setCursor(Qt::PointingHandCursor);
    connect(m_pRecoverAllBox, &QCheckBox::stateChanged, this, &DRUI::CheckBoxAllStatChange);
    controls->addWidget(m_pRecoverAllBox);
    controls->addStretch(1);
    m_pStartButton = new QPushButton("Start", page);
    m_pStartButton->setFont(Arial(25, true));
    m_pStartButton->setFlat(true);
    m_pStartButton->setCursor(Qt::PointingHandCursor);
    m_pStartButton->setFixedSize(220, 64);
    SetActionButtonEnabled(m_pStartButton, true);
    connect(m_pStartButton, &QPushButton::clicked, this, &DRUI::btnSlot);
    controls->addWidget(m_pStartButton);
    column->addLayout(controls);
    column->addStretch(1);
    column->addWidget(CreateFooterBar(page));
    return page;
}

QWidget* DRUI::InitLayout2Widget() {
    delete m_pLayout2Widget;
    auto* page = new QWidget();
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(CreateHeaderBar(page));
    column->addWidget(CreateHeading(page));

    auto* strip = new QWidget(page);
    strip->setStyleSheet(light_strip_style);
    strip->setFixedHeight(70);
    auto* stripRow = new QHBoxLayout(strip);
    stripRow->setContentsMargins(24, 6, 24, 6);
    auto* icon = new QLabel(strip);
    icon->setPixmap(QIcon(":/image/scan_files.png").pixmap(48, 48));
    stripRow->addWidget(icon);
    auto* text = new QLabel("Select Media For Recovery\nPlease select a storage device below to scan for photos, "
                            "audios, videos, documents, emails, etc.",
                            strip);
    text->setFont(Arial(12, false));
    stripRow->addWidget(text, 1);
    column->addWidget(strip);

    auto* treeRow = new QHBoxLayout();
    treeRow->setContentsMargins(24, 8, 24, 4);
    m_pDiskTree = CreateDiskTree();
    m_pDiskTree->setParent(page);
    treeRow->addWidget(m_pDiskTree);
    column->addLayout(treeRow, 1);

    auto* buttons = new QHBoxLayout();
    buttons->setContentsMargins(24, 4, 24, 8);
    auto* back = new QPushButton("Back", page);
    auto* refresh = new QPushButton("Refresh", page);
    m_pOpenImageButton = new QPushButton("Open disk image...", page);
    m_pScanButton = new QPushButton("Scan", page);
    for (QPushButton* b : {back, refresh, m_pOpenImageButton, m_pScanButton}) {
        b->setFont(Arial(14, true));
        b->setFixedSize(140, 40);
        b->setCursor(Qt::PointingHandCursor);
    }
    m_pOpenImageButton->setFixedWidth(200);
    for (QPushButton* b : {back, refresh, m_pOpenImageButton}) b->setStyleSheet(main_button_style);
    refresh->setObjectName("refreshButton");
    buttons->addWidget(back);
    buttons->addStretch(1);
    buttons->addWidget(refresh);
    buttons->addWidget(m_pOpenImageButton);
    buttons->addWidget(m_pScanButton);
    connect(back, &QPushButton::clicked, this, &DRUI::btnSlotBack);
    connect(refresh, &QPushButton::clicked, this, &DRUI::RefreshDiskTree);
    connect(m_pOpenImageButton, &QPushButton::clicked, this, &DRUI::btnOpenImageSlot);
    connect(m_pScanButton, &QPushButton::clicked, this, &DRUI::btnSlotScan);
    column->addLayout(buttons);
    column->addWidget(CreateFooterBar(page));

    UpdateScanButton();
    return page;
}

QTreeWidget* DRUI::CreateDiskTree() {
    auto* tree = new QTreeWidget();
    tree->setColumnCount(5);
    tree->setStyleSheet("QTreeWidget::item{height:30px};");
    tree->setHeaderLabels({"Name", "File system", "Label", "Size", "Start sector"});
    const int widths[] = {300, 120, 200, 110, 120};
    for (int i = 0; i < 5; ++i) tree->setColumnWidth(i, widths[i]);
    tree->setMinimumSize(800, 410);
    connect(tree, &QTreeWidget::currentItemChanged, this, [this] { UpdateScanButton(); });
    connect(tree, &QTreeWidget::itemClicked, this, &DRUI::diskItemClick);
    connect(tree, &QTreeWidget::itemDoubleClicked, this, &DRUI::diskItemDoubleClick);
    m_pDiskTree = tree;
    RefreshDiskTree();
    return tree;
}

void DRUI::RefreshDiskTree() {
    if (!m_pDiskTree) return;
    m_strDeviceSignature = MediaDevicesSignature();
    // The selection survives a refresh when its area is still listed.
    QTreeWidgetItem* was = m_pDiskTree->currentItem();
    const bool hadArea = was && was->data(0, Qt::UserRole).isValid();
    const QString wasDisk = hadArea ? was->data(0, kRoleDisk).toString() : QString();
    const qulonglong wasStart = hadArea ? was->data(0, kRoleStart).toULongLong() : 0;

    m_pDiskTree->clear();
    const QFont rowFont = Arial(13, true);
    QTreeWidgetItem* keep = nullptr;
    QTreeWidgetItem* lastPartition = nullptr;
    QTreeWidgetItem* lastWholeDisk = nullptr;
    QTreeWidgetItem* openedImage = nullptr;
    for (const MEDIA_DISK& disk : ListMediaDisks(m_imageDisks)) {
        qDebug("disk %d %s: %llu sectors, %zu areas%s%s", disk.nDiskNo, disk.path.c_str(),
               static_cast<unsigned long long>(disk.u64Sectors), disk.areas.size(), disk.error.empty() ? "" : ", ",
               disk.error.c_str());
        auto* diskRow = new QTreeWidgetItem(m_pDiskTree);
        const QString size = QString::fromStdString(GetFileSizeString(static_cast<long long>(disk.u64Sectors * 512)));
        diskRow->setText(0, Utf8(disk.name) + "   " + (disk.error.empty() ? size : "cannot be scanned: " + Utf8(disk.error)));
        diskRow->setToolTip(0, Utf8(disk.path));
        diskRow->setIcon(0, QIcon(":/image/physical_drive.png"));
        diskRow->setFont(0, rowFont);
        diskRow->setFirstColumnSpanned(true);
        if (!disk.error.empty()) diskRow->setDisabled(true);
        for (const MEDIA_AREA& area : disk.areas) {
            auto* row = new QTreeWidgetItem(diskRow);
            const _PARTITION_ITEM_& item = area.item;
            // A damaged table may claim sectors past the disk's end: only those that exist are scanned.
            const uint64_t last = std::min<uint64_t>(item.u64EndSector, disk.u64Sectors - 1);
            const long long bytes = last >= item.u64StartSector ? static_cast<long long>((last - item.u64StartSector + 1) * 512) : 0;
            row->setText(0, area.nNumber ? QString("Partition %1").arg(area.nNumber) : QString("Whole Disk"));
            row->setText(1, Utf8(area.fsType));
            row->setText(2, bytes ? Utf8(area.label) : QString("past the disk's end"));
            row->setDisabled(bytes == 0);
            row->setText(3, QString::fromStdString(GetFileSizeString(bytes)));
            row->setText(4, QString::number(static_cast<qulonglong>(item.u64StartSector)));
            row->setIcon(0, QIcon(":/image/drive.png"));
            for (int c = 0; c < 5; ++c) row->setFont(c, rowFont);
            row->setData(0, Qt::UserRole, QVariant::fromValue(item));
            row->setData(0, kRoleDisk, Utf8(disk.path));
            row->setData(0, kRoleStart, static_cast<qulonglong>(item.u64StartSector));
            if (!bytes) continue; // never preselected
            if (hadArea && Utf8(disk.path) == wasDisk && item.u64StartSector == wasStart) keep = row;
            if (area.nNumber) lastPartition = row;
            else lastWholeDisk = row;
            if (!openedImage && !m_imageDisks.empty() && disk.nDiskNo == m_imageDisks.back()) openedImage = row;
        }
        diskRow->setExpanded(true);
    }
    // An image just opened is what the user wants next; else the last partition,
    // a whole disk only when there is no partition.
    QTreeWidgetItem* current = keep ? keep : openedImage ? openedImage : lastPartition ? lastPartition : lastWholeDisk;
    if (current) m_pDiskTree->setCurrentItem(current);
    UpdateScanButton();
}

void DRUI::PollDevices() {
    // Not under a dialog: a scan started from a row must not see its tree rebuilt.
    if (!m_pStackedLayout || m_pStackedLayout->currentIndex() != PAGE_MEDIA || QApplication::activeModalWidget()) return;
    if (MediaDevicesSignature() != m_strDeviceSignature) RefreshDiskTree();
}

void DRUI::btnOpenImageSlot() {
    const QString path = m_chooseImage ? m_chooseImage()
                                       : QFileDialog::getOpenFileName(this, "Open disk image", QString(),
                                                                      "Disk images (*.img *.dd *.raw *.bin);;All files (*)");
    if (path.isEmpty()) return;
    const int diskNo = RegisterImageDisk(path.toStdString());
    if (diskNo < 0) {
        CMessageBox box;
        box.InitMessageDialog("Open disk image", QString("%1 cannot be opened.").arg(path));
        box.exec();
        return;
    }
    m_imageDisks.erase(std::remove(m_imageDisks.begin(), m_imageDisks.end(), diskNo), m_imageDisks.end());
    m_imageDisks.push_back(diskNo);
    if (m_pDiskTree) m_pDiskTree->setCurrentItem(nullptr); // the image's row is selected, not the old one
    RefreshDiskTree();
}

void DRUI::UpdateScanButton() {
    QTreeWidgetItem* row = m_pDiskTree ? m_pDiskTree->currentItem() : nullptr;
    if (m_pScanButton) SetActionButtonEnabled(m_pScanButton, row && !row->isDisabled() && row->data(0, Qt::UserRole).isValid());
}

void DRUI::diskItemClick(QTreeWidgetItem*, int) { UpdateScanButton(); }

void DRUI::diskItemDoubleClick(QTreeWidgetItem* item, int) {
    if (!item || item->isDisabled() || !item->data(0, Qt::UserRole).isValid()) return;
    m_pDiskTree->setCurrentItem(item);
    btnSlotScan();
}

void DRUI::CheckBoxStatChange(int) {
    m_bPartialSelection = false;
    int checked = 0;
    for (QCheckBox* box : m_pCategoryBox)
        if (box && box->checkState() == Qt::Checked) ++checked;
    if (checked == 6) {
        m_pRecoverAllBox->setCheckState(Qt::Checked);
        return;
    }
    if (checked == 0) {
        m_pRecoverAllBox->setCheckState(Qt::Unchecked);
        return;
    }
    m_bPartialSelection = true;
    m_pRecoverAllBox->setCheckState(Qt::PartiallyChecked);
}

void DRUI::CheckBoxAllStatChange(int) {
    switch (m_pRecoverAllBox->checkState()) {
    case Qt::Unchecked:
        SetActionButtonEnabled(m_pStartButton, false);
        for (QCheckBox* box : m_pCategoryBox) box->setCheckState(Qt::Unchecked);
        break;
    case Qt::Checked:
        SetActionButtonEnabled(m_pStartButton, true);
        for (QCheckBox* box : m_pCategoryBox) box->setCheckState(Qt::Checked);
        break;
    case Qt::PartiallyChecked:
        if (m_bPartialSelection) SetActionButtonEnabled(m_pStartButton, true);
        else m_pRecoverAllBox->setCheckState(Qt::Checked);
        break;
    }
}

void DRUI::btnSlot() { m_pStackedLayout->setCurrentIndex(PAGE_MEDIA); }

void DRUI::btnSlotBack() {
    m_pStackedLayout->setCurrentIndex(m_pStackedLayout->currentIndex() == PAGE_RESULT ? PAGE_MEDIA : PAGE_FILE_TYPE);
    DestroyEngine();
}

void DRUI::DestroyEngine() {
    delete m_pEngine;
    m_pEngine = nullptr;
    // The results lived in the area's log folder; another process may scan it now.
    m_pAreaLock.reset();
}

void DRUI::btnCloseSlot() { close(); }
void DRUI::btnMinSlot() { showMinimized(); }
void DRUI::btnAboutSlot() { btnOpenUrl(HelpPageUrl("about")); }
void DRUI::btnSupportSlot() { btnOpenUrl(HelpPageUrl("support")); }
void DRUI::btnHelpSlot() { btnOpenUrl(HelpPageUrl("help")); }
void DRUI::btnOpenUrl(QString url) { QDesktopServices::openUrl(QUrl(url)); }

void DRUI::mousePressEvent(QMouseEvent* event) {
    // Only the left button drags; no button closes the main window and its results.
    if (event->button() == Qt::LeftButton) {
        QPoint offset = event->globalPosition().toPoint() - frameGeometry().topLeft();
        m_nDragX = offset.x();
        m_nDragY = offset.y();
        event->accept();
    }
}

void DRUI::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) {
        move(event->globalPosition().toPoint() - QPoint(m_nDragX, m_nDragY));
        event->accept();
    }
}

bool DRUI::ConfirmDismissResults(const QString& question) {
    if (!m_pStackedLayout || m_pStackedLayout->currentIndex() != PAGE_RESULT || m_vecSearchResult.empty()) return true;
    CMessageBox box;
    box.InitQuestionDialog(question);
    box.move(x() + width() / 2 - 200, y() + height() / 2 - 75);
    box.exec();
    return box.GetMessageBoxRet() == 1;
}

void DRUI::closeEvent(QCloseEvent* event) {
    if (!ConfirmDismissResults(QString("Quit? The %1 files found by this scan are not recovered yet.")
                                   .arg(static_cast<qulonglong>(m_vecSearchResult.size())))) {
        event->ignore();
        return;
    }
    event->accept();
}

void DRUI::keyPressEvent(QKeyEvent* event) {
    const int page = m_pStackedLayout ? m_pStackedLayout->currentIndex() : PAGE_FILE_TYPE;
    switch (event->key()) {
    case Qt::Key_Escape:
        // Back one page; never out of the window.
        if (page == PAGE_MEDIA || (page == PAGE_RESULT &&
                                   ConfirmDismissResults("Go back? The files found by this scan will be dismissed.")))
            btnSlotBack();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        QPushButton* button = page == PAGE_FILE_TYPE ? m_pStartButton : page == PAGE_MEDIA ? m_pScanButton : nullptr;
        if (button && button->isEnabled()) button->click();
        else QMainWindow::keyPressEvent(event);
        return;
    }
    default: QMainWindow::keyPressEvent(event);
    }
}
