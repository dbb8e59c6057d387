#pragma once
// The result page: found files by category and extension, ticking, the selection
// summary, the preview area and the Recover button.
#include "engine/FileNode.h"
#include "ui/CFileTypeGroups.h"
#include "ui/ResultSelection.h"

#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

class CPreviewProcess;
class IResultPageHost;
class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class QTreeWidget;
class QTreeWidgetItem;

class CResultPage : public QWidget {
    Q_OBJECT
public:
    enum { PREVIEW_WIDTH = 720, PREVIEW_HEIGHT = 200 };

    // Preview and recovery run by the host (not owned).
    explicit CResultPage(IResultPageHost* host, QWidget* parent = nullptr);
    ~CResultPage() override;

    // A new scan's hits: the tree and table are rebuilt, every row unticked, and the
    // selection emptied (records of an earlier scan belong to a destroyed engine).
    void SetResults(const std::vector<__SEARCH_FILE_INFO__>& results);

    // Replaces the destination question (a folder dialog) with another source.
    void SetDirectoryChooser(std::function<QString()> chooser) { m_chooseDirectory = std::move(chooser); }

    QTreeWidget* CreateTree();
    QTableWidget* CreateTable();
    void UpdateTreeInfo(QTreeWidgetItem* row, int column);
    static void SetTreeChildCheckState(QTreeWidgetItem* row, int state);
    static void SetTreeParentCheckState(QTreeWidgetItem* row);
    // Shows what a finished preview delivered: its picture, or its bytes as text.
    void ShowPreview(const CPreviewProcess& preview);

    const SelectionMap& Selection() const { return m_selection; }
    const CFileTypeGroups& Groups() const { return m_groups; }
    QTreeWidget* Tree() const { return m_tree; }
    QTableWidget* Table() const { return m_table; }
    QLabel* PreviewArea() const { return m_preview; }
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
    void treeItemClick(QTreeWidgetItem* row, int column);
    void treeItemSelectChanged();
    void tableItemPress(int row, int column);
    void tableItemSelectChanged();
    void tableItemClick(QTableWidgetItem* cell);
    void btnRecovery();
    void treeItemChanged(QTreeWidgetItem* row, int column);
    void tableItemChanged(QTableWidgetItem* cell);

private:
    void InitLayout();
    void UpdateSelectionInfo();
    // Propagates a tree row's tick to its children, parents, the map and the table.
    void ApplyTreeCheckState(QTreeWidgetItem* row);
    // Records behind a tree row: one extension's, or all of a category's.
    std::vector<const __SEARCH_FILE_INFO__*> RecordsUnder(QTreeWidgetItem* row) const;

    IResultPageHost* m_host;
    std::vector<__SEARCH_FILE_INFO__> m_results;
    CFileTypeGroups m_groups;
    SelectionMap m_selection;
    QTreeWidget* m_tree = nullptr;
    QTableWidget* m_table = nullptr;
    QLabel* m_preview = nullptr;
    QLabel* m_selectLabel = nullptr;
    QLabel* m_stripText = nullptr;
    QPushButton* m_btnRecover = nullptr;
    QCheckBox* m_keepTree = nullptr;
    QPushButton* m_btnBack = nullptr;
    QTreeWidgetItem* m_lastTreeItem = nullptr;
    int m_nProgrammatic = 0; // depth of the page's own check-state changes
    QString m_saveDir;
    std::function<QString()> m_chooseDirectory;
};
