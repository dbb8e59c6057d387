#include "ui/DRUI.h"

#include "engine/DisplayFormat.h"
#include "engine/FileCategories.h"
#include "platform/DeviceMap.h"
#include "ui/HelpPage.h"
#include "ui/IResultPageHost.h"
#include "ui/MediaList.h"
#include "ui/UiStyles.h"

#include <QCheckBox>
#include <QDebug>
#include <QDesktopServices>
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
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

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

QString PartitionName(const _PARTITION_ITEM_& item) {
    const unsigned char* p = item.szPartitionName;
    QString name;
    for (size_t i = 0; i + 1 < sizeof item.szPartitionName; i += 2) {
        char16_t unit = static_cast<char16_t>(p[i] | (p[i + 1] << 8));
        if (!unit) break;
        name.append(QChar(unit));
    }
    return name;
}
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
    m_pScanButton = new QPushButton("Scan", page);
    for (QPushButton* b : {back, m_pScanButton}) {
        b->setFont(Arial(14, true));
        b->setFixedSize(140, 40);
        b->setCursor(Qt::PointingHandCursor);
    }
    back->setStyleSheet(main_button_style);
    buttons->addWidget(back);
    buttons->addStretch(1);
    buttons->addWidget(m_pScanButton);
    connect(back, &QPushButton::clicked, this, &DRUI::btnSlotBack);
    connect(m_pScanButton, &QPushButton::clicked, this, &DRUI::btnSlotScan);
    column->addLayout(buttons);
    column->addWidget(CreateFooterBar(page));

    SetActionButtonEnabled(m_pScanButton, m_pDiskTree->currentItem() != nullptr);
    return page;
}

QTreeWidget* DRUI::CreateDiskTree() {
    auto* tree = new QTreeWidget();
    tree->setColumnCount(2);
    tree->setStyleSheet("QTreeWidget::item{height:30px};");
    tree->setColumnWidth(0, 700);
    tree->setColumnWidth(1, 100);
    tree->setHeaderLabels({"Name", "Size"});
    connect(tree, &QTreeWidget::itemClicked, this, &DRUI::diskItemClick);
    connect(tree, &QTreeWidget::itemDoubleClicked, this, &DRUI::diskItemDoubleClick);

    const QFont rowFont = Arial(14, true);
    auto addAreaRow = [&](QTreeWidgetItem* diskRow, const _PARTITION_ITEM_& item) {
        auto* row = new QTreeWidgetItem(diskRow);
        long long bytes = static_cast<long long>((item.u64EndSector - item.u64StartSector + 1) * 512);
        std::string sizeText = GetFileSizeString(bytes);
        row->setText(0, PartitionName(item));
        row->setText(1, QString::fromStdString(sizeText));
        row->setIcon(0, QIcon(":/image/drive.png"));
        row->setFont(0, rowFont);
        row->setFont(1, rowFont);
        row->setData(0, Qt::UserRole, QVariant::fromValue(item));
        qDebug("(*iterVec).szDiskName = %s u64Bytes = %s\n", item.szDiskName, sizeText.c_str());
        return row;
    };

    QList<QTreeWidgetItem*> diskRows;
    QTreeWidgetItem* current = nullptr;
    QTreeWidgetItem* lastWholeDisk = nullptr;
    for (const MEDIA_DISK& disk : ListMediaDisks()) {
        auto* diskRow = new QTreeWidgetItem();
        diskRow->setText(0, QString("Physical Driver %1").arg(disk.nDiskNo));
        diskRow->setIcon(0, QIcon(":/image/physical_drive.png"));
        diskRow->setFont(0, rowFont);
        for (const _PARTITION_ITEM_& item : disk.partitions) current = addAreaRow(diskRow, item);
        // The whole device from sector 0: lost partitions and cards without a table.
        if (disk.u64Sectors) lastWholeDisk = addAreaRow(diskRow, MakeWholeDiskItem(disk.nDiskNo, disk.u64Sectors));
        diskRows.append(diskRow);
    }
    tree->insertTopLevelItems(0, diskRows);
    for (QTreeWidgetItem* row : diskRows) row->setExpanded(true);
    // The last partition is preselected; a whole disk only when there is no partition.
    if (!current) current = lastWholeDisk;
    if (current) tree->setCurrentItem(current);
    tree->setMinimumSize(800, 410);
    return tree;
}

void DRUI::diskItemClick(QTreeWidgetItem* item, int) {
    if (!item) return;
    SetActionButtonEnabled(m_pScanButton, item->childCount() == 0);
}

void DRUI::diskItemDoubleClick(QTreeWidgetItem* item, int) {
    if (!item || item->childCount() != 0) return;
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
}

void DRUI::btnCloseSlot() { close(); }
void DRUI::btnMinSlot() { showMinimized(); }
void DRUI::btnAboutSlot() { btnOpenUrl(HelpPageUrl("about")); }
void DRUI::btnSupportSlot() { btnOpenUrl(HelpPageUrl("support")); }
void DRUI::btnHelpSlot() { btnOpenUrl(HelpPageUrl("help")); }
void DRUI::btnOpenUrl(QString url) { QDesktopServices::openUrl(QUrl(url)); }

void DRUI::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        QPoint offset = event->globalPosition().toPoint() - frameGeometry().topLeft();
        m_nDragX = offset.x();
        m_nDragY = offset.y();
        event->accept();
    } else if (event->button() == Qt::RightButton) {
        close();
    }
}

void DRUI::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) {
        move(event->globalPosition().toPoint() - QPoint(m_nDragX, m_nDragY));
        event->accept();
    }
}

void DRUI::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) return;
    QMainWindow::keyPressEvent(event);
}
