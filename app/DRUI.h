// The application's only main window: a frameless window holding the pages
// in a stacked layout (page 1 the kinds of file to look for, page 2 the
// medium to scan, page 3 the results of the last scan), the engine of the
// current scan, and the state of the operations run on it.
//
// The class is split into source files by concern:
//   DRUI.cpp          construction, Init, navigation, window chrome, title bar, help pages
//   DRUIPages.cpp     pages 1 and 2: the kind check boxes, the disk tree
//   DRUIScanFlow.cpp  the Scan button and what it starts
#pragma once

#include "app/PartitionItemMeta.h"
#include "core/IFileRecoveryParse.h"

#include <QMainWindow>

#include <memory>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QStackedLayout;
class QTreeWidget;
class QTreeWidgetItem;

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
    void diskItemClick(QTreeWidgetItem* item, int column);
    void diskItemDoubleClick(QTreeWidgetItem* item, int column);
    void CheckBoxStatChange(int nStat);
    void CheckBoxAllStatChange(int nStat);

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

    std::vector<unsigned char> m_previewBuf; // raw first bytes of the previewed file
    int m_nPreviewBufLen;
    std::vector<char> m_previewTextBuf; // the dump text made from them

    int m_nDragX; // pointer position relative to the window's corner at the last left press
    int m_nDragY;
};
