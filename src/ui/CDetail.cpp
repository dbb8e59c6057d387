#include "ui/CDetail.h"

#include "ui/UiStyles.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cstring>

namespace {
const int kRowHeight = 22;
} // namespace

CDetail::CDetail(QDialog* parent, Qt::WindowFlags flags) : CFramelessDialog(parent, flags) {
    setFixedSize(600, 400);
    InitDialog();
}

void CDetail::InitDialog() {
    setWindowTitle(QStringLiteral("Orvale"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QWidget(this);
    header->setStyleSheet(QLatin1String(backGroud_style));
    header->setFixedHeight(70);
    auto* headerLayout = new QHBoxLayout(header);
    m_label = new QLabel(header);
    m_label->setStyleSheet(QStringLiteral("color: white;"));
    m_label->setFont(QFont(QStringLiteral("Arial"), 11));
    headerLayout->addWidget(m_label);
    layout->addWidget(header);

    layout->addWidget(CreateTable(), 1);

    auto* footer = new QWidget(this);
    auto* footerLayout = new QHBoxLayout(footer);
    m_openFolder = new QPushButton(QStringLiteral("Open folder"), footer);
    m_openFolder->setFlat(true);
    m_openFolder->setCursor(Qt::PointingHandCursor);
    m_openFolder->setFixedSize(120, 30);
    m_openFolder->setStyleSheet(QLatin1String(dialog_button_style));
    m_openFolder->hide();
    connect(m_openFolder, &QPushButton::clicked, this, [this] {
        QUrl url = QUrl::fromLocalFile(m_folder);
        if (m_openUrl) m_openUrl(url);
        else QDesktopServices::openUrl(url);
    });
    footerLayout->addWidget(m_openFolder);
    footerLayout->addStretch(1);
    auto* ok = new QPushButton(QStringLiteral("OK"), footer);
    ok->setFlat(true);
    ok->setCursor(Qt::PointingHandCursor);
    ok->setFixedSize(100, 30);
    ok->setStyleSheet(QLatin1String(dialog_button_style));
    connect(ok, &QPushButton::clicked, this, &CDetail::btnSlot);
    footerLayout->addWidget(ok);
    layout->addWidget(footer);
    UpdateLabel();
}

void CDetail::SetFolder(const QString& folder) {
    m_folder = folder;
    m_openFolder->setVisible(!folder.isEmpty());
}

QTableWidget* CDetail::CreateTable() {
    m_table = new QTableWidget(0, 2, this);
    m_table->setColumnWidth(0, 380);
    m_table->setColumnWidth(1, 200);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Status")});
    m_table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->setVisible(false);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    return m_table;
}

void CDetail::AddTableItem(QString name, int failed) {
    int row = failed == 0 ? m_table->rowCount() : 0;
    m_table->insertRow(row);
    auto* nameItem = new QTableWidgetItem(name);
    nameItem->setToolTip(name);
    QString status = QStringLiteral("Success");
    if (failed != 0) {
        status = QStringLiteral("Failed");
        // 1 is what a plain "failed" flag reads as; other positive values are errno.
        if (failed > 1) status += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(failed)));
    }
    auto* statusItem = new QTableWidgetItem(status);
    if (failed != 0) {
        nameItem->setForeground(QColor(255, 0, 0));
        statusItem->setForeground(QColor(255, 0, 0));
        ++m_nFailed;
    } else {
        ++m_nSuccess;
    }
    m_table->setItem(row, 0, nameItem);
    m_table->setItem(row, 1, statusItem);
    m_table->setRowHeight(row, kRowHeight);
    UpdateLabel();
}

QString CDetail::OutcomeText(int total) const {
    QString text = QStringLiteral("  Recovered %1 of %2 files").arg(m_nSuccess).arg(total);
    if (m_nFailed > 0) {
        // Failures sit on top of the table.
        const QString first = QFileInfo(m_table->item(0, 0)->text()).fileName();
        const QString reason = m_table->item(0, 1)->text().mid(QStringLiteral("Failed").size());
        text += QStringLiteral("\n  %1 failed, the first: %2%3").arg(m_nFailed).arg(first, reason);
        text += QStringLiteral("\n  Detail lists every failure first.");
    }
    if (m_nSuccess + m_nFailed < total)
        text += QStringLiteral("\n  Stopped before the other %1.").arg(total - m_nSuccess - m_nFailed);
    return text;
}

QString CDetail::LabelText() const { return m_label->text(); }

void CDetail::UpdateLabel() {
    m_label->setText(QString::asprintf("  Recovery Detail\n  Recovered: %d  Failed: %d\n", m_nSuccess, m_nFailed));
}

void CDetail::btnSlot() { close(); }
