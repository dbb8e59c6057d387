#pragma once
// Per-file results of one recovery run: failures on top in red, successes below.
#include "ui/CFramelessDialog.h"

class QLabel;
class QTableWidget;

class CDetail : public CFramelessDialog {
    Q_OBJECT
public:
    explicit CDetail(QDialog* parent = nullptr, Qt::WindowFlags flags = Qt::Dialog | Qt::FramelessWindowHint);

    // failed: 0 for a saved file, else the error number of the failure (its reason
    // is shown when the number is a system error other than 1).
    void AddTableItem(QString name, int failed);
    QTableWidget* CreateTable();
    void InitDialog();

    int SuccessCount() const { return m_nSuccess; }
    int FailedCount() const { return m_nFailed; }
    QString LabelText() const;
    QTableWidget* Table() const { return m_table; }

public slots:
    void btnSlot();

private:
    void UpdateLabel();

    QLabel* m_label = nullptr;
    QTableWidget* m_table = nullptr;
    int m_nSuccess = 0;
    int m_nFailed = 0;
};
