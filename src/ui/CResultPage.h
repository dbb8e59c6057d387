#pragma once
// The result page: found files by type and by original folder, a sortable and
// filterable table of them, ticking, the selection summary, the preview pane and
// the Recover button.
#include "engine/FileNode.h"
#include "ui/CFileTypeGroups.h"
#include "ui/ResultRecords.h"
#include "ui/ResultSelection.h"

#include <QImage>
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

class CPreviewProcess;
class IResultPageHost;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

class CResultPage : public QWidget {
    Q_OBJECT
public:
    enum TABLE_COLUMN { COL_NAME = 0, COL_FOLDER, COL_SIZE, COL_MODIFIED, COL_STATUS, COL_HEALTH, COL_SOURCE, COL_COUNT };

    // Preview and recovery run by the host (not owned).
    explicit CResultPage(IResultPageHost* host, QWidget* parent = nullptr);
    ~CResultPage() override;

    // A new scan's hits: the trees and table are rebuilt, every row unticked, and the
    // selection emptied (records of an earlier scan belong to a destroyed engine).
    void SetResults(const std::vector<__SEARCH_FILE_INFO__>& results);

    // Replaces the destination question (a folder dialog) with another source.
    void SetDirectoryChooser(std::function<QString()> chooser) { m_chooseDirectory = std::move(chooser); }

    // Shows what a finished preview delivered: a picture, a PDF's first page, text or a hex dump.
    void ShowPreview(const CPreviewProcess& preview);
    void ClearPreview();

    const SelectionMap& Selection() const { return m_selection; }
    const std::vector<RESULT_ROW>& Rows() const { return m_rows; }
    QTreeWidget* Tree() const { return m_tree; }
    QTreeWidget* FolderTree() const { return m_folderTree; }
    QTabWidget* Views() const { return m_views; }
    QTableWidget* Table() const { return m_table; }
    QLineEdit* FilterBox() const { return m_filterEdit; }
    QCheckBox* DeletedOnlyBox() const { return m_deletedOnly; }
    QCheckBox* HealthyOnlyBox() const { return m_healthyOnly; }
    QLabel* ShownLabel() const { return m_shownLabel; }
    QStackedWidget* PreviewPane() const { return m_previewStack; }
    QPlainTextEdit* PreviewText() const { return m_previewText; }
    QLabel* PreviewPicture() const { return m_previewPicture; }
    QLabel* SelectionLabel() const { return m_selectLabel; }
    QPushButton* RecoverButton() const { return m_btnRecover; }
    QCheckBox* KeepTreeBox() const { return m_keepTree; }
    QPushButton* BackButton() const { return m_btnBack; }
    QString SaveDir() const { return m_saveDir; }

    // "Select %s in %d file" / "files" for a selection.
    static QString SelectionText(const SelectionMap& selection);

signals:
    void BackClicked();

public slots:
    void btnRecovery();
    void ApplyFilter();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct ITEM_FILES {
        std::vector<int> direct; // listed in the table when the row is chosen
        std::vector<int> all;    // ticked with the row
    };
    enum ITEM_KIND { KIND_CATEGORY = 0, KIND_EXTENSION, KIND_FOLDER };

    void InitLayout();
    QTreeWidget* CreateTree(const QString& header);
    QTableWidget* CreateTable();
    QTreeWidgetItem* NewItem(QTreeWidget* tree, QTreeWidgetItem* parent, int kind, const QString& label);
    void BuildTypeTree();
    void BuildFolderTree();
    // The chosen row's files that pass the filter; keeps the record shown when it is still listed.
    void ShowFiles(QTreeWidgetItem* item, bool previewFirst);
    void FillTable(const std::vector<int>& records);
    void UpdateItemTexts(QTreeWidgetItem* item);
    void SetTicked(int record, bool ticked);
    // Tree rows and table rows take their tick states from the selection.
    void RefreshTicks();
    int RefreshItemTicks(QTreeWidgetItem* item);
    void UpdateSelectionInfo();
    void UpdateShownInfo();
    void OnTreeItemChanged(QTreeWidgetItem* item, int column);
    void OnTableItemChanged(int row, int column);
    void OnTableSelection();
    void PreviewRecord(int record);
    void ShowPicture(const QImage& image);
    QTreeWidget* CurrentTree() const;
    int RecordOfRow(int row) const;

    IResultPageHost* m_host;
    std::vector<__SEARCH_FILE_INFO__> m_results;
    std::vector<RESULT_ROW> m_rows;
    std::vector<char> m_visible;
    std::vector<char> m_ticked;
    std::vector<ITEM_FILES> m_itemFiles;
    CFileTypeGroups m_groups;
    CResultFilter m_filter;
    SelectionMap m_selection;
    QTabWidget* m_views = nullptr;
    QTreeWidget* m_tree = nullptr;
    QTreeWidget* m_folderTree = nullptr;
    QTableWidget* m_table = nullptr;
    QLineEdit* m_filterEdit = nullptr;
    QCheckBox* m_deletedOnly = nullptr;
    QCheckBox* m_healthyOnly = nullptr;
    QLabel* m_shownLabel = nullptr;
    QStackedWidget* m_previewStack = nullptr;
    QPlainTextEdit* m_previewText = nullptr;
    QLabel* m_previewPicture = nullptr;
    QImage m_previewImage;
    int m_previewRecord = -1;
    QLabel* m_selectLabel = nullptr;
    QLabel* m_stripText = nullptr;
    QPushButton* m_btnRecover = nullptr;
    QCheckBox* m_keepTree = nullptr;
    QPushButton* m_btnBack = nullptr;
    int m_nProgrammatic = 0; // depth of the page's own check-state changes
    QString m_saveDir;
    std::function<QString()> m_chooseDirectory;
};
