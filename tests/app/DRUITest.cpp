// The main window: page 1's kind check boxes, page 2's disk tree from
// mapped image files, navigation and the frameless window's chrome.
#include "AppTestSupport.h"

#include "app/AppStyle.h"
#include "app/DRUI.h"
#include "app/StartUp.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <functional>
#include <vector>

using namespace apptest;

namespace
{
// Opens the protected state the tests look at.
class TestDRUI : public DRUI
{
  public:
    using DRUI::m_partitionItem;
    using DRUI::m_pEngine;
    using DRUI::m_pPage3;
    using DRUI::m_pStackedLayout;

    QCheckBox* Kind(int i) { return findChild<QCheckBox*>(KIND_NAMES[i]); }
    QCheckBox* All() { return findChild<QCheckBox*>("checkAll"); }
    QPushButton* Button(const char* name) { return findChild<QPushButton*>(name); }
    QTreeWidget* Tree() { return findChild<QTreeWidget*>("diskTree"); }
    int Page() { return m_pStackedLayout->currentIndex(); }

    static constexpr const char* KIND_NAMES[KIND_COUNT] = {"checkPhoto",    "checkMusic",   "checkVideo",
                                                           "checkDocument", "checkArchive", "checkOther"};
};

// An engine whose only job is to tell when it is destroyed.
class CFakeEngine : public IFileRecoveryParse
{
  public:
    explicit CFakeEngine(bool* pDestroyed) : m_pDestroyed(pDestroyed) {}
    ~CFakeEngine() override { *m_pDestroyed = true; }
    unsigned int Init(int, long long, long long, wchar_t) override { return 0; }
    unsigned int Init(wchar_t*, wchar_t) override { return 0; }
    unsigned int InitCallBack(SCAN_CALLBACK, RECOVERY_CALLBACK, void*, int) override { return 0; }
    unsigned int ScanDevice(wchar_t*) override { return 0; }
    unsigned int GetChildrenFileNode(_FILE_NODE_*, unsigned int, std::vector<_FILE_NODE_>&) override
    {
        return 0;
    }
    unsigned int GetChildrenFileCount(_FILE_NODE_*, unsigned int, unsigned int&) override { return 0; }
    unsigned int GetLostFileCount() override { return 0; }
    unsigned int GetFileNodeParentDirPath(_FILE_NODE_*, wchar_t*, int) override { return 0; }
    unsigned int SaveFileData(_FILE_NODE_*, wchar_t*, int) override { return 0; }
    unsigned int GetUnUsedSectorCount(unsigned long long&, unsigned long long&) override { return 0; }
    unsigned int InitSearchCallBack(SEARCH_CALLBACK, void*) override { return 0; }
    unsigned int SearchFileNode(wchar_t*, std::vector<__SEARCH_FILE_INFO__>&) override { return 0; }
    unsigned int BuildBitMapInfo() override { return 0; }
    unsigned int PreView(_FILE_NODE_*, wchar_t*, unsigned char*, int&, PREVIEW_CALLBACK, void*) override
    {
        return 0;
    }

  private:
    bool* m_pDestroyed;
};

bool IsStartLookEnabled(QPushButton* button)
{
    return button->isEnabled() &&
           button->styleSheet() == QString::fromLatin1(tessaroo::app::style::BUTTON_ENABLED);
}

bool IsStartLookDisabled(QPushButton* button)
{
    return !button->isEnabled() &&
           button->styleSheet() == QString::fromLatin1(tessaroo::app::style::BUTTON_DISABLED);
}

// --- page 1: kind check boxes ----------------------------------------------------

// A user's clicks, in order: 0-5 a kind box, 'A' the " Recover All" box.
struct CHECK_CASE
{
    const char* szName;
    std::vector<int> clicks;
    unsigned int uKindsChecked; // bit i set: kind i checked afterwards
    Qt::CheckState allState;
    bool bStartEnabled;
};

// Named in the test list by its name, not its bytes.
void PrintTo(const CHECK_CASE& c, std::ostream* os)
{
    *os << c.szName;
}

constexpr int ALL = 'A';
constexpr unsigned int ALL_KINDS = 0x3F;

class CheckBoxTest : public ::testing::TestWithParam<CHECK_CASE>
{
};

TEST_P(CheckBoxTest, SelectAllFollowsTheKinds)
{
    App();
    const CHECK_CASE& c = GetParam();
    TestDRUI w;
    w.Init();
    for (int click : c.clicks)
    {
        if (click == ALL)
            w.All()->click();
        else
            w.Kind(click)->click();
    }
    unsigned int kinds = 0;
    for (int i = 0; i < DRUI::KIND_COUNT; ++i)
        kinds |= w.Kind(i)->isChecked() ? (1u << i) : 0u;
    EXPECT_EQ(kinds, c.uKindsChecked);
    EXPECT_EQ(w.All()->checkState(), c.allState);
    QPushButton* start = w.Button("startButton");
    if (c.bStartEnabled)
        EXPECT_TRUE(IsStartLookEnabled(start));
    else
        EXPECT_TRUE(IsStartLookDisabled(start));
}

INSTANTIATE_TEST_SUITE_P(
    Page1, CheckBoxTest,
    ::testing::Values(
        CHECK_CASE{"AllCheckedAtStart", {}, ALL_KINDS, Qt::Checked, true},
        CHECK_CASE{"OneUncheckedIsPartial", {2}, ALL_KINDS & ~4u, Qt::PartiallyChecked, true},
        CHECK_CASE{"AllSixUncheckedDisablesStart", {0, 1, 2, 3, 4, 5}, 0, Qt::Unchecked, false},
        CHECK_CASE{"OneCheckedAgainIsPartial", {0, 1, 2, 3, 4, 5, 3}, 1u << 3, Qt::PartiallyChecked, true},
        CHECK_CASE{"AllSixCheckedAgainIsChecked",
                   {0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5},
                   ALL_KINDS,
                   Qt::Checked,
                   true},
        CHECK_CASE{"ClickOnUncheckedAllChecksAll", {0, 1, 2, 3, 4, 5, ALL}, ALL_KINDS, Qt::Checked, true},
        CHECK_CASE{"ClickOnPartialAllChecksAll", {1, 4, ALL}, ALL_KINDS, Qt::Checked, true},
        CHECK_CASE{"ClickOnCheckedAllUnchecksAll", {ALL}, 0, Qt::Unchecked, false},
        CHECK_CASE{"ClickTwiceFromCheckedChecksAll", {ALL, ALL}, ALL_KINDS, Qt::Checked, true},
        CHECK_CASE{"PartialAfterClearingAll", {ALL, 5}, 1u << 5, Qt::PartiallyChecked, true}),
    [](const ::testing::TestParamInfo<CHECK_CASE>& param) { return std::string(param.param.szName); });

// --- page 2: the disk tree ------------------------------------------------------------

// Two partitioned images at disk numbers 0 and 3, with a disk without a
// table (1) and an empty slot (2) between them.
class DiskTreeTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        App();
        const std::string sfdisk = FindTool("sfdisk");
        if (sfdisk.empty())
            GTEST_SKIP() << "sfdisk (package fdisk) is needed to lay the partition tables";
        const std::string mbr = m_dir / "mbr.img";
        const std::string gpt = m_dir / "gpt.img";
        const std::string blank = m_dir / "blank.img";
        ASSERT_EQ(MakeSparse(mbr, 8 << 20), 0);
        ASSERT_EQ(MakeSparse(gpt, 16 << 20), 0);
        ASSERT_EQ(MakeSparse(blank, 1 << 20), 0);
        ASSERT_EQ(
            Run("printf 'label: dos\\nstart=2048, size=2048, type=c\\nstart=4096, size=8192, type=83\\n' | " +
                sfdisk + " -q " + mbr),
            0);
        ASSERT_EQ(Run("printf 'label: gpt\\nstart=2048, size=20480, name=\"Camera Card\"\\n' | " + sfdisk +
                      " -q " + gpt),
                  0);
        m_strDisks = mbr + ":" + blank + "::" + gpt;
    }

    static int MakeSparse(const std::string& path, long size)
    {
        WriteFile(path, "");
        return ::truncate(path.c_str(), size);
    }
    static int Run(const std::string& command)
    {
        return system(("{ " + command + "; } >/dev/null 2>&1").c_str());
    }

    TempDir m_dir;
    std::string m_strDisks;
};

TEST_F(DiskTreeTest, DisksAreNumberedAsListedWithTheirPartitions)
{
    ScopedEnv disks("TESSAROO_DISKS", m_strDisks.c_str());
    TestDRUI w;
    w.Init();
    QTreeWidget* tree = w.Tree();
    ASSERT_NE(tree, nullptr);
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->headerItem()->text(0), "Name");
    EXPECT_EQ(tree->headerItem()->text(1), "Size");

    struct ROW
    {
        const char* szName;
        const char* szSize;
        int nDisk;
        uint64_t u64Start;
        uint64_t u64End;
    };
    const std::vector<std::vector<ROW>> expected = {
        {{"Partition 1", "1.00 MB", 0, 2048, 4095}, {"Partition 2", "4.00 MB", 0, 4096, 12287}},
        {{"Camera Card", "10.00 MB", 3, 2048, 22527}},
    };
    for (int d = 0; d < 2; ++d)
    {
        QTreeWidgetItem* disk = tree->topLevelItem(d);
        SCOPED_TRACE(d);
        EXPECT_EQ(disk->text(0), QString("Physical Driver %1").arg(d + 1));
        EXPECT_TRUE(disk->isExpanded());
        EXPECT_FALSE(disk->icon(0).isNull());
        EXPECT_TRUE(disk->font(0).bold());
        ASSERT_EQ(disk->childCount(), int(expected[d].size()));
        for (int p = 0; p < disk->childCount(); ++p)
        {
            const ROW& want = expected[d][p];
            QTreeWidgetItem* row = disk->child(p);
            EXPECT_EQ(row->text(0), want.szName);
            EXPECT_EQ(row->text(1), want.szSize);
            EXPECT_FALSE(row->icon(0).isNull());
            const QVariant data = row->data(0, Qt::UserRole);
            ASSERT_EQ(data.metaType(), QMetaType::fromName("PARTITION_ITEM"));
            const _PARTITION_ITEM_ item = data.value<_PARTITION_ITEM_>();
            EXPECT_EQ(item.nDiskIndex, want.nDisk);
            EXPECT_EQ(item.u64StartSector, want.u64Start);
            EXPECT_EQ(item.u64EndSector, want.u64End);
        }
    }
    // The last partition of the last disk is current, so Scan starts enabled.
    EXPECT_EQ(tree->currentItem(), tree->topLevelItem(1)->child(0));
    EXPECT_TRUE(IsStartLookEnabled(w.Button("scanButton")));
}

TEST_F(DiskTreeTest, EachPartitionIsLogged)
{
    TempDir cwd;
    ScopedCwd inCwd(cwd.Path());
    ScopedEnv disks("TESSAROO_DISKS", m_strDisks.c_str());
    tessaroo::app::InstallDiagnostics();
    {
        TestDRUI w;
        w.Init();
    }
    qInstallMessageHandler(nullptr);
    const std::string log = ReadFile(cwd / "Log.txt");
    const std::string diskName = std::string(m_dir.Path() + "/mbr.img").substr(0, 15);
    EXPECT_NE(log.find("Debug: (*iterVec).szDiskName = " + diskName + " u64Bytes = 1.00 MB\n\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(" u64Bytes = 4.00 MB\n\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" u64Bytes = 10.00 MB\n\n"), std::string::npos) << log;
}

TEST_F(DiskTreeTest, ScanFollowsTheClickedRow)
{
    ScopedEnv disks("TESSAROO_DISKS", m_strDisks.c_str());
    TestDRUI w;
    w.Init();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.Button("startButton")->click();
    QTreeWidget* tree = w.Tree();
    QPushButton* scan = w.Button("scanButton");
    auto click = [&](QTreeWidgetItem* item)
    {
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::KeyboardModifiers(),
                          tree->visualItemRect(item).center());
    };

    click(tree->topLevelItem(0));
    EXPECT_TRUE(IsStartLookDisabled(scan)) << "a disk row";
    click(tree->topLevelItem(0)->child(1));
    EXPECT_TRUE(IsStartLookEnabled(scan)) << "a partition row";
    click(tree->topLevelItem(1));
    EXPECT_TRUE(IsStartLookDisabled(scan)) << "the second disk row";

    // Moving the current row without a click (keys) keeps Scan in step.
    tree->setCurrentItem(tree->topLevelItem(1)->child(0));
    EXPECT_TRUE(IsStartLookEnabled(scan));
    tree->setCurrentItem(tree->topLevelItem(0));
    EXPECT_TRUE(IsStartLookDisabled(scan));
}

TEST_F(DiskTreeTest, DoubleClickOnAPartitionTakesItsRecord)
{
    ScopedEnv disks("TESSAROO_DISKS", m_strDisks.c_str());
    TestDRUI w;
    w.Init();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.Button("startButton")->click();
    QTreeWidget* tree = w.Tree();

    // A double click is a press and release followed by a second press that
    // the platform reports as a double click.
    auto doubleClick = [&](QTreeWidgetItem* item)
    {
        const QPoint at = tree->visualItemRect(item).center();
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::KeyboardModifiers(), at);
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, Qt::KeyboardModifiers(), at);
    };
    bool bDoubleClicked = false;
    QObject::connect(tree, &QTreeWidget::itemDoubleClicked, [&] { bDoubleClicked = true; });

    w.m_partitionItem.u64EndSector = 777; // untouched unless a scan is started
    doubleClick(tree->topLevelItem(1));
    ASSERT_TRUE(bDoubleClicked);
    EXPECT_EQ(w.m_partitionItem.u64EndSector, 777u) << "a disk row starts nothing";

    doubleClick(tree->topLevelItem(0)->child(1));
    EXPECT_EQ(w.m_partitionItem.nDiskIndex, 0);
    EXPECT_EQ(w.m_partitionItem.u64StartSector, 4096u);
    EXPECT_EQ(w.m_partitionItem.u64EndSector, 12287u);
}

TEST(DiskTree, NoDiskLeavesTheTreeEmptyAndScanDisabled)
{
    App();
    TestDRUI w;
    w.Init();
    EXPECT_EQ(w.Tree()->topLevelItemCount(), 0);
    EXPECT_TRUE(IsStartLookDisabled(w.Button("scanButton")));
}

// --- navigation, folders, title bar -------------------------------------------------------

TEST(Navigation, StartBackAndTheEngine)
{
    App();
    TestDRUI w;
    w.Init();
    EXPECT_EQ(w.Page(), 0);
    w.Button("startButton")->click();
    EXPECT_EQ(w.Page(), 1);

    bool bDestroyed = false;
    w.m_pEngine.reset(new CFakeEngine(&bDestroyed));
    w.Button("backButton")->click();
    EXPECT_EQ(w.Page(), 0);
    EXPECT_TRUE(bDestroyed);
    EXPECT_EQ(w.m_pEngine, nullptr);

    // From page 3, Back shows page 2 and drops the scan's engine.
    w.m_pPage3 = new QWidget;
    w.m_pStackedLayout->addWidget(w.m_pPage3);
    w.m_pStackedLayout->setCurrentWidget(w.m_pPage3);
    bDestroyed = false;
    w.m_pEngine.reset(new CFakeEngine(&bDestroyed));
    w.btnSlotBack();
    EXPECT_EQ(w.Page(), 1);
    EXPECT_TRUE(bDestroyed);
}

TEST(MainWindow, FixedFramelessAndTexts)
{
    App();
    TestDRUI w;
    w.Init();
    EXPECT_EQ(w.windowTitle(), "Tessaroo");
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(w.size(), QSize(1000, 660));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_EQ(w.Button("startButton")->text(), "Start");
    EXPECT_EQ(w.All()->text(), " Recover All");
    const char* const labels[] = {"Photo", "Music", "Video", "Document", "Archive", "Other"};
    for (int i = 0; i < DRUI::KIND_COUNT; ++i)
        EXPECT_EQ(w.Kind(i)->text(), labels[i]);
    // Every page carries the banner and the version.
    const QList<QLabel*> banners = w.findChildren<QLabel*>("banner");
    ASSERT_EQ(banners.size(), 2);
    for (QLabel* banner : banners)
        EXPECT_EQ(banner->text(),
                  "\t        Tessaroo\nRecover photos, videos, audios, documents, emails, archives");
    EXPECT_EQ(w.findChildren<QLabel*>("versionLabel").size(), 2);
    EXPECT_EQ(w.findChild<QLabel*>("versionLabel")->text(), "Version 8.8.8.9");
    EXPECT_EQ(
        w.findChild<QLabel*>("mediaHeader")->text(),
        "Select Media For Recovery\nPlease select a storage device below to scan for photos, audios, videos, "
        "documents, emails, etc.");
}

TEST(MainWindow, TitleButtonsRunLeftwardsFromTheRightEdge)
{
    App();
    TestDRUI w;
    w.Init();
    // Page 1's strip; page 2 has its own set at the same places.
    const char* const order[] = {"closeButton", "minimizeButton", "aboutButton", "supportButton",
                                 "helpButton"};
    QWidget* strip = w.findChild<QWidget*>("titleStrip");
    ASSERT_NE(strip, nullptr);
    int previousX = DRUI::WINDOW_WIDTH;
    for (const char* name : order)
    {
        QPushButton* button = strip->findChild<QPushButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        EXPECT_EQ(previousX - button->x(), previousX == DRUI::WINDOW_WIDTH ? 10 + button->width() : 30)
            << name;
        EXPECT_FALSE(button->icon().isNull()) << name;
        previousX = button->x();
    }
}

TEST(MainWindow, InitCreatesTheSupportFolders)
{
    App();
    TempDir support;
    const std::string root = support / "deeper/Tessaroo";
    ScopedEnv env("TESSAROO_SUPPORT_DIR", root.c_str());
    TestDRUI w;
    w.Init();
    struct stat st;
    ASSERT_EQ(stat((root + "/ScanLog").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(MainWindow, RightButtonClosesAndEscapeIsSwallowed)
{
    App();
    TestDRUI w;
    w.Init();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    escape.ignore();
    QApplication::sendEvent(&w, &escape);
    EXPECT_TRUE(escape.isAccepted()) << "Escape must stop at the window";
    EXPECT_TRUE(w.isVisible());

    // A left press on the background starts a drag; it does not close.
    QLabel* banner = w.findChild<QLabel*>("banner");
    QTest::mousePress(banner, Qt::LeftButton, Qt::KeyboardModifiers(), QPoint(10, 10));
    QTest::mouseRelease(banner, Qt::LeftButton, Qt::KeyboardModifiers(), QPoint(10, 10));
    EXPECT_TRUE(w.isVisible());

    QTest::mousePress(banner, Qt::RightButton, Qt::KeyboardModifiers(), QPoint(10, 10));
    EXPECT_FALSE(w.isVisible());
}

TEST(MainWindow, LeftDragMovesTheWindowKeepingTheOffset)
{
    App();
    TestDRUI w;
    w.Init();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const QPoint start = w.pos();
    const QPoint grab = start + QPoint(120, 30);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(120, 30), QPointF(grab), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &press);
    const QPoint to = grab + QPoint(37, -12);
    QMouseEvent move(QEvent::MouseMove, QPointF(157, 18), QPointF(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&w, &move);
    EXPECT_EQ(w.pos(), start + QPoint(37, -12));
}

// Records the addresses the desktop services were asked to open.
class CUrlRecorder : public QObject
{
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls.append(url); }
};

TEST(MainWindow, TitleButtonsOpenTheLocalHelpPages)
{
    App();
    CUrlRecorder recorder;
    QDesktopServices::setUrlHandler("file", &recorder, "open");
    TestDRUI w;
    w.Init();
    const char* const buttons[] = {"helpButton", "supportButton", "aboutButton"};
    const char* const pages[] = {"help.html", "support.html", "about.html"};
    for (const char* name : buttons)
        w.Button(name)->click();
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(recorder.urls.size(), 3);
    for (int i = 0; i < 3; ++i)
    {
        const QUrl& url = recorder.urls[i];
        EXPECT_TRUE(url.isLocalFile()) << url.toString().toStdString();
        EXPECT_TRUE(url.toLocalFile().endsWith(QString("/") + pages[i]));
        EXPECT_TRUE(QFileInfo(url.toLocalFile()).isFile());
    }
}
} // namespace

#include "DRUITest.moc"
