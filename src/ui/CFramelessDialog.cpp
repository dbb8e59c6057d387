#include "ui/CFramelessDialog.h"

#include <QMouseEvent>

CFramelessDialog::CFramelessDialog(QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags) {}

void CFramelessDialog::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
        event->accept();
    } else if (event->button() == Qt::RightButton) {
        close();
    }
}

void CFramelessDialog::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        event->accept();
    }
}
