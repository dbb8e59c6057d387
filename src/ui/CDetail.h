#pragma once
// Per-file results of one recovery run: failures on top in red, successes below.
#include "ui/CFramelessDialog.h"

#include <QString>
#include <QUrl>
#include <functional>

class QLabel;
class QPushButton;
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
    // The end of a run of total files as the progress dialog states it: how many
    // came back, and when any failed, how many and the first of them.
    QString OutcomeText(int total) const;
    int FailedCount() const { return m_nFailed; }
    QString LabelText() const;
    QTableWidget* Table() const { return m_table; }

    // The folder the files went into: a button then opens it in the file manager.
    void SetFolder(const QString& folder);
    QPushButton* OpenFolderButton() const { return m_openFolder; }
    // How a folder is opened (the desktop's file manager unless replaced).
    void SetUrlOpener(std::function<bool(const QUrl&)> opener) { m_openUrl = std::move(opener); }

public slots:
    void btnSlot();

private:
    void UpdateLabel();

    QLabel* m_label = nullptr;
    QTableWidget* m_table = nullptr;
    QPushButton* m_openFolder = nullptr;
    QString m_folder;
    std::function<bool(const QUrl&)> m_openUrl;
    int m_nSuccess = 0;
    int m_nFailed = 0;
};
