#pragma once
// The main window: the file-type page, the media page and the result page in
// one stack; it owns the engine of the current scan and runs the scan and the
// search on worker threads behind the progress dialog.
#include "engine/CLogFileManager.h"
#include "ui/CWorkWindow.h"

#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class IResultPageHost;
class QCheckBox;
class QLabel;
class QPushButton;
class QStackedLayout;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

Q_DECLARE_METATYPE(_PARTITION_ITEM_)

class DRUI : public CWorkWindow {
    Q_OBJECT
public:
    // Makes the engine for a chosen area; the window owns what it returns.
    typedef std::function<IFileRecoveryParse*(const _PARTITION_ITEM_&)> EngineMaker;

    enum { PAGE_FILE_TYPE = 0, PAGE_MEDIA = 1, PAGE_RESULT = 2 };

    explicit DRUI(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~DRUI() override;
    void Init();

    // What the result page and the preview and recovery workers work on.
    IFileRecoveryParse* GetEngine() const override { return m_pEngine; }
    const std::vector<__SEARCH_FILE_INFO__>& GetSearchResults() const { return m_vecSearchResult; }
    const _PARTITION_ITEM_& GetPartitionItem() const override { return m_partitionItem; }
    // FILE_CATEGORY_FLAG bits of the ticked category boxes.
    unsigned GetCheckedCategories() const;
    // The wide search key composed from the ticked boxes.
    std::wstring BuildCheckedSearchKey() const;

    // Pieces every page shares: the grey bar with close and minimise, the heading
    // with the About/Support/Help buttons, and the footer with the version.
    QWidget* CreateHeaderBar(QWidget* parent);
    QWidget* CreateHeading(QWidget* parent);
    QWidget* CreateFooterBar(QWidget* parent);
    QPushButton* CreateButton(int kind, int x, QWidget* parent);

    // Replaces the factory's deep engine (tests, tools). An empty maker restores it.
    void SetEngineMaker(EngineMaker maker) { m_engineMaker = std::move(maker); }
    // Why the last scan could not run, empty when it ran.
    QString GetScanError() const { return m_strScanError; }
    // What the user must know about the last scan's list: stopped early, sectors
    // that could not be read. Empty when the scan read everything to its end.
    QString GetScanNotice() const;
    // Replaces the file dialog of "Open disk image..." (tests).
    void SetImageChooser(std::function<QString()> chooser) { m_chooseImage = std::move(chooser); }
    // Replaces the question asking whether to resume an interrupted scan (tests):
    // true resumes, false starts again.
    void SetResumeChooser(std::function<bool(const _LOG_FILE_INFO_&)> chooser) { m_chooseResume = std::move(chooser); }
    // The scan log's record of an interrupted deep scan of the area; false when none.
    static bool FindInterruptedScan(const _PARTITION_ITEM_& item, _LOG_FILE_INFO_& record);

    // Widgets the tests drive.
    QStackedLayout* GetStackedLayout() const { return m_pStackedLayout; }
    QTreeWidget* GetDiskTree() const { return m_pDiskTree; }
    QPushButton* GetScanButton() const { return m_pScanButton; }
    QPushButton* GetStartButton() const { return m_pStartButton; }
    QCheckBox* GetCategoryBox(int i) const { return m_pCategoryBox[i]; }
    QCheckBox* GetRecoverAllBox() const { return m_pRecoverAllBox; }
    QWidget* GetResultPage() const { return m_pResultPage; }
    QPushButton* GetOpenImageButton() const { return m_pOpenImageButton; }

    // Work functions of the scan and the search (worker thread).
    static void _ScanProcess(void* ctx, int& ret);
    static void _SearchProcess(void* ctx, int& ret);
    int Scan(wchar_t* path, int& ret);

public slots:
    void btnSlot();
    void btnSlotBack();
    void btnSlotScan();
    void btnOpenImageSlot();
    // Lists the disks again, keeping the selected area when it is still there.
    void RefreshDiskTree();
    void btnCloseSlot();
    void btnMinSlot();
    void btnAboutSlot();
    void btnSupportSlot();
    void btnHelpSlot();
    void btnOpenUrl(QString url);
    void diskItemClick(QTreeWidgetItem* item, int column);
    void diskItemDoubleClick(QTreeWidgetItem* item, int column);
    void CheckBoxStatChange(int state);
    void CheckBoxAllStatChange(int state);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* InitLayout1Widget();
    QWidget* InitLayout2Widget();
    QWidget* InitLayout3Widget();
    QTreeWidget* CreateDiskTree();
    void PollDevices();
    void UpdateScanButton();
    // With found files on screen, asks before they are dismissed; true to go on.
    bool ConfirmDismissResults(const QString& question);
    void DestroyEngine();
    IFileRecoveryParse* MakeEngine(const _PARTITION_ITEM_& item);
    // Why no engine could be made for the area: the platform's error text.
    QString DescribeOpenFailure(const _PARTITION_ITEM_& item) const;
    // Holds the area against other processes while its engine lives: they would
    // write over its results. Why it cannot be had, empty when held.
    QString TakeAreaLock(const _PARTITION_ITEM_& item);

    _PARTITION_ITEM_ m_partitionItem;
    IFileRecoveryParse* m_pEngine = nullptr;
    std::unique_ptr<CScanAreaLock> m_pAreaLock;
    EngineMaker m_engineMaker;
    std::vector<__SEARCH_FILE_INFO__> m_vecSearchResult;
    QString m_strScanError;
    SCAN_OUTCOME m_outcome;
    bool m_bResumeScan = false;
    std::wstring m_strSearchKey; // the kinds ticked when the scan began
    std::vector<int> m_imageDisks; // opened by the user, in order
    std::string m_strDeviceSignature;
    QTimer* m_pDevicePoll = nullptr;
    std::function<QString()> m_chooseImage;
    std::function<bool(const _LOG_FILE_INFO_&)> m_chooseResume;

    QStackedLayout* m_pStackedLayout = nullptr;
    QWidget* m_pLayout1Widget = nullptr;
    QWidget* m_pLayout2Widget = nullptr;
    QWidget* m_pLayout3Widget = nullptr;
    QWidget* m_pResultPage = nullptr;
    std::unique_ptr<IResultPageHost> m_pResultHost;
    QTreeWidget* m_pDiskTree = nullptr;
    QPushButton* m_pScanButton = nullptr;
    QPushButton* m_pStartButton = nullptr;
    QPushButton* m_pOpenImageButton = nullptr;
    QLabel* m_pScanNotice = nullptr;
    QCheckBox* m_pCategoryBox[6] = {};
    QCheckBox* m_pRecoverAllBox = nullptr;
    bool m_bPartialSelection = false;
    int m_nDragX = 0;
    int m_nDragY = 0;
};
