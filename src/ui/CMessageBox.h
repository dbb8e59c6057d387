#pragma once
// The application's own message boxes: a Yes/No question and a notice with OK.
#include "ui/CFramelessDialog.h"

class QLabel;

class CMessageBox : public CFramelessDialog {
    Q_OBJECT
public:
    explicit CMessageBox(QDialog* parent = nullptr, Qt::WindowFlags flags = Qt::Dialog | Qt::FramelessWindowHint);

    // A question with "No" and "Yes"; the answer is 1 for Yes, 0 for No or when
    // the box is closed any other way.
    void InitQuestionDialog(QString text, bool unused = false);
    // A notice (why something failed) with one "OK" button.
    void InitMessageDialog(QString title, QString text);
    int GetMessageBoxRet() const { return m_nRet; }
    QString Text() const;

public slots:
    void btnSlotOK();
    void btnSlotNO();

private:
    void BuildFrame(const QString& title, const QString& text, const char* icon);

    int m_nRet = 0;
    QLabel* m_text = nullptr;
    class QHBoxLayout* m_buttonRow = nullptr;
};
