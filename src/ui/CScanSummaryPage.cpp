#include "ui/CScanSummaryPage.h"

#include "ui/DRUI.h"
#include "ui/UiStyles.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CScanSummaryPage::CScanSummaryPage(DRUI* owner, QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(owner->CreateHeaderBar(this));
    column->addWidget(owner->CreateHeading(this));

    auto* strip = new QWidget(this);
    strip->setStyleSheet(light_strip_style);
    strip->setFixedHeight(70);
    auto* stripRow = new QHBoxLayout(strip);
    stripRow->setContentsMargins(24, 6, 24, 6);
    auto* icon = new QLabel(strip);
    icon->setPixmap(QIcon(":/image/recover_file.png").pixmap(48, 48));
    stripRow->addWidget(icon);
    m_pSummary = new QLabel(QString("Select Desired Files to Recover\nFound %1 recoverable files after the scan.")
                                .arg(owner->GetSearchResults().size()),
                            strip);
    m_pSummary->setObjectName("summaryLabel");
    m_pSummary->setFont(QFont("Arial", 12));
    stripRow->addWidget(m_pSummary, 1);
    column->addWidget(strip);
    column->addStretch(1);

    auto* buttons = new QHBoxLayout();
    buttons->setContentsMargins(24, 4, 24, 8);
    auto* back = new QPushButton("Back", this);
    back->setFont(QFont("Arial", 14, QFont::Bold));
    back->setFixedSize(140, 40);
    back->setCursor(Qt::PointingHandCursor);
    back->setStyleSheet(main_button_style);
    connect(back, &QPushButton::clicked, owner, &DRUI::btnSlotBack);
    buttons->addWidget(back);
    buttons->addStretch(1);
    column->addLayout(buttons);
    column->addWidget(owner->CreateFooterBar(this));
}

QString CScanSummaryPage::SummaryText() const { return m_pSummary->text(); }
