#pragma once
// A frameless dialog: dragged with the left mouse button, closed by a right-button press.
#include <QDialog>
#include <QPoint>

class CFramelessDialog : public QDialog {
    Q_OBJECT
public:
    explicit CFramelessDialog(QWidget* parent = nullptr,
                              Qt::WindowFlags flags = Qt::Dialog | Qt::FramelessWindowHint);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QPoint m_dragOffset;
};
