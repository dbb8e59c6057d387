#pragma once
// The result page when no result browser is built in: how many files the scan
// and search found, and the way back to the media page.
#include <QWidget>

class DRUI;
class QLabel;

class CScanSummaryPage : public QWidget {
    Q_OBJECT
public:
    CScanSummaryPage(DRUI* owner, QWidget* parent = nullptr);
    QString SummaryText() const;

private:
    QLabel* m_pSummary = nullptr;
};
