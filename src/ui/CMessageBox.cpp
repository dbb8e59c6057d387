#include "ui/CMessageBox.h"

#include "ui/UiStyles.h"

#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

CMessageBox::CMessageBox(QDialog* parent, Qt::WindowFlags flags) : CFramelessDialog(parent, flags) {
    setWindowTitle("Orvale");
    setFixedSize(400, 150);
}

void CMessageBox::BuildFrame(const QString& title, const QString& text, const char* iconName) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto* header = new QWidget(this);
    header->setStyleSheet(backGroud_style);
    auto* headerLayout = new QVBoxLayout(header);
    headerLayout->setContentsMargins(4, 4, 8, 4);
    auto* titleLabel = new QLabel(title, header);
    titleLabel->setFont(QFont("Arial", 12));
    titleLabel->setStyleSheet("color: white;");
    headerLayout->addWidget(titleLabel);

    auto* body = new QHBoxLayout();
    body->setContentsMargins(16, 0, 16, 0);
    auto* icon = new QLabel(header);
    icon->setPixmap(QPixmap(iconName));
    body->addWidget(icon);
    m_text = new QLabel(text, header);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setWordWrap(true);
    m_text->setStyleSheet("color: white;");
    body->addWidget(m_text, 1);
    headerLayout->addLayout(body, 1);
    outer->addWidget(header, 1);

    auto* bar = new QWidget(this);
    bar->setStyleSheet("background-color: rgb(220, 220, 220);");
    bar->setFixedHeight(44);
    m_buttonRow = new QHBoxLayout(bar);
    m_buttonRow->setContentsMargins(12, 6, 12, 6);
    m_buttonRow->addStretch(1);
    outer->addWidget(bar);
}

void CMessageBox::InitQuestionDialog(QString text, bool) {
    BuildFrame("  Question", text, ":/image/question.png");
    auto* no = new QPushButton("No", this);
    auto* yes = new QPushButton("Yes", this);
    for (QPushButton* b : {no, yes}) {
        b->setStyleSheet(dialog_button_style);
        b->setCursor(Qt::PointingHandCursor);
        b->setAutoDefault(false);
        m_buttonRow->addWidget(b);
    }
    yes->setDefault(true); // Enter answers Yes; Escape and a right-button press answer No
    connect(no, &QPushButton::clicked, this, &CMessageBox::btnSlotNO);
    connect(yes, &QPushButton::clicked, this, &CMessageBox::btnSlotOK);
}

void CMessageBox::InitMessageDialog(QString title, QString text) {
    BuildFrame("  " + title, text, ":/image/notice.png");
    auto* ok = new QPushButton("OK", this);
    ok->setStyleSheet(dialog_button_style);
    ok->setCursor(Qt::PointingHandCursor);
    m_buttonRow->addWidget(ok);
    connect(ok, &QPushButton::clicked, this, &CMessageBox::btnSlotOK);
}

QString CMessageBox::Text() const { return m_text ? m_text->text() : QString(); }

void CMessageBox::btnSlotOK() {
    m_nRet = 1;
    close();
}

void CMessageBox::btnSlotNO() {
    m_nRet = 0;
    close();
}
