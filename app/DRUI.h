// The application's only main window: a frameless window holding the pages
// in a stacked layout (page 1 the kinds of file to look for, page 2 the
// medium to scan, page 3 the results of the last scan), the engine of the
// current scan, and the state of the operations run on it.
//
// The class is split into source files by concern:
//   DRUI.cpp                 construction, Init, navigation, window chrome, title bar, help pages
//   DRUIPages.cpp            pages 1 and 2: the kind check boxes, the disk tree
//   DRUIScanFlow.cpp         the worker-thread operations, the scan and the listing after it
//   DRUIResults.cpp          page 3: the results tree, the file table, the selection
//   DRUIPreviewRecovery.cpp  preview of one file, recovery of the ticked files
//
// Threads: every engine operation runs on a CMyThread while the user
// interface sits in the operation's modal SCANUI. The engine, the listing's
// hits and the recovery flow are touched by the worker only while its
// operation runs, and by the user-interface thread only between operations;
// the stop and end flags are the only state both threads use at once.
#pragma once

#include "app/PartitionItemMeta.h"
#include "core/IFileRecoveryParse.h"

#include <QMainWindow>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CFileTableModel;
class CMessageBox;
class CResultModel;
class QCheckBox;
class QLabel;
class QModelIndex;
class QPlainTextEdit;
class QPushButton;
class QStackedLayout;
class QStackedWidget;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;
class CProgressThrottle;
namespace tessaroo
{
class CRecoveryFlow;
}

class DRUI : public QMainWindow
{
    Q_OBJECT

  public:
    explicit DRUI(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~DRUI() override;

    // Allocates the preview buffers, builds pages 1 and 2 with page 1
    // current, and creates the application-support folders.
    void Init();

    // Page 2's list of disks and partitions, from partition discovery.
    QTreeWidget* CreateDiskTree();

    // Title-bar icon button index (0 about, 1 support, 2 help) at x in parent.
    QPushButton* CreateButton(int index, int x, QWidget* parent);

    // Kind check boxes of page 1, in this order.
    enum KIND
    {
        KIND_PHOTO,
        KIND_MUSIC,
        KIND_VIDEO,
        KIND_DOCUMENT,
        KIND_ARCHIVE,
        KIND_OTHER,
        KIND_COUNT
    };

    static constexpr int WINDOW_WIDTH = 1000;
    static constexpr int WINDOW_HEIGHT = 660;
    static constexpr int TITLE_HEIGHT = 80;
    // Pictures wider than this, or taller than the preview area, are scaled
    // down to fit it.
    static constexpr int PREVIEW_MAX_WIDTH = 700;

    // Operations, numbered as the progress dialog's modes.
    enum OPERATION
    {
        OPERATION_SCAN = 1,
        OPERATION_SEARCH = 2,
        OPERATION_PREVIEW = 3,
        OPERATION_RECOVERY = 4
    };
    // The cancel of an operation: its stop flag, which the engine learns
    // from its next callback (and the recovery flow at once).
    void RequestStop(int operation);
    bool IsStopRequested(int operation) const;
    // The operation's thread function has returned from the engine.
    bool IsOperationEnded(int operation) const;

    // Runs one scan of m_partitionItem on the calling thread (the worker).
    int Scan(wchar_t* pSaveDir, int& nProcess);

    // Page 3 from the listing's hits; replaces an earlier page 3.
    void InitLayout3Widget();
    QTreeWidget* CreateTree();
    QTableView* CreateTable();
    void SetTreeChildCheckState(QTreeWidgetItem* item, int state);
    void SetTreeParentCheckState(QTreeWidgetItem* item);
    // Shows the files of a tree row in the table (and previews the first).
    void UpdateTreeInfo(QTreeWidgetItem* item, int column);

    // The dump of a preview's first bytes, as the preview area shows it.
    static QString MakeDumpText(const unsigned char* buf, int len);
    void WinHexBufData(_FILE_NODE_* node, unsigned char* buf, int len);

  signals:
    void ScanProcessCallBack(int nProgress, int nPercent, int nRemaindSecond, QString u64CurSectorStr,
                             QString u64SectorCountStr, QString u64FindFileCountStr,
                             QString pRecoveryFileName);
    void RecoveryCallBack(int nProgress, int nPercent, int nErrorCode, QString pRecoveryFileName);
    void SearchCallBack(int nProgress, QString pRecoveryFileName);
    void PreViewCallBackForSlot(int nProgress, int nRet);
    // Emitted by every operation's thread function after it set its end
    // flag: a dialog whose operation ended without a completion report
    // (a failed scan, a refused recovery) closes on it instead of waiting.
    void OperationEnded(int operation, int result);

  public slots:
    void btnMinSlot();
    void btnCloseSlot();
    void btnSlot();
    void btnSlotBack();
    void btnSlotScan();
    void btnOpenUrl(QString strUrl);
    void btnHelpSlot();
    void btnSupportSlot();
    void btnAboutSlot();
    void btnRecovery();
    void diskItemClick(QTreeWidgetItem* item, int column);
    void diskItemDoubleClick(QTreeWidgetItem* item, int column);
    void CheckBoxStatChange(int nStat);
    void CheckBoxAllStatChange(int nStat);
    void treeItemClick(QTreeWidgetItem* item, int column);
    void treeItemSelectChanged();
    // A check box of the results tree changed (the user's click, or the
    // window's own propagation, which it ignores).
    void treeItemCheckChanged(QTreeWidgetItem* item, int column);
    // A file's check box in the table was toggled.
    void tableItemPress(int row, int column);
    // Previews the file of a table row.
    void tableItemClick(const QModelIndex& index);
    void tableItemSelectChanged();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    // Pieces every page shares: the dark title strip with the banner, the
    // title-bar buttons, and the version label.
    QWidget* CreateTitleStrip(QWidget* page);
    QLabel* CreateVersionLabel(QWidget* page);
    QWidget* CreatePage1();
    QWidget* CreatePage2();
    // Switches a button between its enabled and disabled looks.
    static void SetButtonLook(QPushButton* button, bool bEnabled);
    // Opens one of the local help pages (help.html, support.html, about.html).
    void OpenHelpPage(const char* szPage);

    // Where the outside world comes in; tests put their own in place.
    // The engine for the partition (called on the worker thread); the
    // volume's fast engine from the factory, null when none fits.
    virtual IFileRecoveryParse* CreateEngine(const _PARTITION_ITEM_& partition);
    // The recovery's destination; a null string when the user cancelled.
    virtual QString AskDestinationFolder();
    // Tells the user something that went wrong, in a modal message box.
    virtual void ShowMessage(const QString& strMessage);

    // Runs one operation on a worker thread behind its modal progress
    // dialog and returns when the dialog has closed and the thread is joined.
    typedef void (*OPERATION_FUNC)(void* ctx, int& result);
    void RunOperation(int operation, OPERATION_FUNC func);

    // Thread functions of the operations; ctx is the window.
    static void _ScanProcess(void* ctx, int& result);
    static void _SearchProcess(void* ctx, int& result);
    static void _PreviewProcess(void* ctx, int& result);
    static void _RecoveryProcess(void* ctx, int& result);
    void SearchProcess();
    void PreviewProcess();
    void RecoveryProcess();

    // Engine callbacks (worker thread; ctx is the window): queued signals
    // for the dialog, and the stop flag as the answer.
    static int ScanCallBack(void* ctx, int nProgress, int nPercent, int nRemaindSecond,
                            unsigned long long u64CurSector, unsigned long long u64SectorCount,
                            unsigned long long u64FindFileCount, wchar_t* name);
    static int SearchCallBack(void* ctx, int nProgress, wchar_t* name);
    static int PreViewCallBack(void* ctx, int nProgress, int nRet);
    static void RecoveryObserver(void* ctx, int nProgress, int nPercent, int nErrorCode,
                                 const std::string& target);

    // Page 3's pieces.
    QWidget* CreatePage3();
    QWidget* CreatePreviewArea(QWidget* page);
    void ShowPreviewText(const QString& text);
    void ShowPreviewResult();
    // The check state of a tree row applied to its files, rows and the
    // selection.
    void ApplyTreeCheckState(QTreeWidgetItem* item);
    // The files a tree row stands for (all of a group, or one extension).
    std::vector<size_t> FilesOfTreeRow(const QTreeWidgetItem* item) const;
    void SetTreeCheckState(QTreeWidgetItem* item, Qt::CheckState state);
    // An extension row's state from its files' selection, then its group's.
    void UpdateExtensionRowState(size_t hit);
    void UpdateSelectionInfo();

    QStackedLayout* m_pStackedLayout;
    QWidget* m_pPage1;
    QWidget* m_pPage2;
    QWidget* m_pPage3; // null until a scan has ended

    QTreeWidget* m_pDiskTree;
    QPushButton* m_pBtnScan;
    QPushButton* m_pBtnStart;
    QCheckBox* m_pCheckKind[KIND_COUNT];
    QCheckBox* m_pCheckAll;
    // Set when the select-all box went partial because of a kind box, so
    // that its handler can tell that from a user's click.
    bool m_bPartial;

    _PARTITION_ITEM_ m_partitionItem;              // the partition chosen for the scan
    std::unique_ptr<IFileRecoveryParse> m_pEngine; // engine of the last scan, null when none

    // Stop and end flags of the four operations.
    std::atomic<bool> m_bScanStop;
    std::atomic<bool> m_bScanEnd;
    std::atomic<bool> m_bSearchStop;
    std::atomic<bool> m_bSearchEnd;
    std::atomic<bool> m_bRecoveryStop;
    std::atomic<bool> m_bRecoveryEnd;
    std::atomic<bool> m_bPreviewStop;
    std::atomic<bool> m_bPreviewEnd;
    std::unique_ptr<CProgressThrottle> m_pThrottle; // reports of the running operation
    bool m_bOperationRunning;                       // a worker operation and its dialog are up

    int m_nScanResult;
    std::wstring m_strSearchKey;                      // the listing's pattern list, from page 1
    std::vector<__SEARCH_FILE_INFO__> m_searchResult; // the listing's hits

    // Page 3.
    std::unique_ptr<CResultModel> m_pResults;
    CFileTableModel* m_pTableModel;
    QTreeWidget* m_pResultTree;
    QTableView* m_pFileTable;
    QTreeWidgetItem* m_pLastTreeItem; // the row whose files the table shows
    std::map<std::pair<int, std::string>, QTreeWidgetItem*> m_extensionRows; // (group, key) -> row
    bool m_bUpdatingChecks; // the window itself is changing tree check states
    QStackedWidget* m_pPreviewArea;
    QLabel* m_pPreviewLabel;
    QPlainTextEdit* m_pPreviewText;
    QLabel* m_pSelectionLabel;
    QPushButton* m_pBtnRecover;

    // Preview.
    QString m_strPreviewName;
    _FILE_NODE_ m_previewNode;
    std::vector<wchar_t> m_imagePath;        // the picture PreView wrote, empty for a dump
    std::vector<unsigned char> m_previewBuf; // raw first bytes of the previewed file
    int m_nPreviewBufLen;
    unsigned int m_nPreviewStatus;

    bool m_bPreviewQueued; // a preview of the table's selected row is to run

    // Recovery.
    QString m_strSaveDir;
    std::string m_strDestination; // the same, UTF-8, for the worker
    std::vector<_FILE_NODE_> m_recoveryFiles;
    std::unique_ptr<tessaroo::CRecoveryFlow> m_pRecoveryFlow;
    int m_nRecoveryOutcome;

    int m_nDragX; // pointer position relative to the window's corner at the last left press
    int m_nDragY;
};
