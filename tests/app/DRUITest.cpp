// The main window: page 1's kind check boxes, page 2's disk tree from
// mapped image files, navigation and the frameless window's chrome.
#include "TestWindow.h"

#include "app/CMessageBox.h"
#include "app/DRUI.h"
#include "engines/ext/CFastExtRecovery.h"
#include "tests/support/RunTool.h"

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

#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace apptest;
using tessaroo::test::RunSucceeds;

namespace
{
// An engine that tells when it is destroyed.
struct DestroyProbe : CFastExtRecovery
{
    explicit DestroyProbe(bool* pDestroyed) : m_pDestroyed(pDestroyed) {}
    ~DestroyProbe() override { *m_pDestroyed = true; }
    bool* m_pDestroyed;
};

// A user's clicks on page 1, in order (0-5 a kind box, 'A' the " Recover
// All" box): the kinds left checked, the state of " Recover All" and
// whether Start can be pressed.
TEST(Page1, SelectAllFollowsTheKinds)
{
    constexpr int ALL = 'A';
    constexpr unsigned ALL_KINDS = 0x3F;
    const struct
    {
        std::vector<int> clicks;
        unsigned int uKindsChecked; // bit i set: kind i checked afterwards
        Qt::CheckState allState;
    } cases[] = {
        {{}, ALL_KINDS, Qt::Checked},
        {{2}, ALL_KINDS & ~4u, Qt::PartiallyChecked},
        {{0, 1, 2, 3, 4, 5}, 0, Qt::Unchecked},
        {{0, 1, 2, 3, 4, 5, 3}, 1u << 3, Qt::PartiallyChecked},
        {{0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5}, ALL_KINDS, Qt::Checked},
        {{1, 4, ALL}, ALL_KINDS, Qt::Checked},
        {{ALL}, 0, Qt::Unchecked},
        {{ALL, ALL}, ALL_KINDS, Qt::Checked},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(::testing::PrintToString(c.clicks));
        TestDRUI w;
        for (int click : c.clicks)
            (click == ALL ? w.All() : w.Kind(click))->click();
        unsigned int kinds = 0;
        for (int i = 0; i < DRUI::KIND_COUNT; ++i)
            kinds |= w.Kind(i)->isChecked() ? (1u << i) : 0u;
        EXPECT_EQ(kinds, c.uKindsChecked);
        EXPECT_EQ(w.All()->checkState(), c.allState);
        EXPECT_EQ(w.Button("startButton")->isEnabled(), kinds != 0);
    }
}

// Two partitioned images at disk numbers 0 and 3, with a disk without a
// table (1) and an empty slot (2) between them.
class DiskTreeTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const std::string sfdisk = FindTool("sfdisk");
        if (sfdisk.empty())
            GTEST_SKIP() << "sfdisk (package fdisk) is needed to lay the partition tables";
        const std::string mbr = m_dir.File("mbr.img"), gpt = m_dir.File("gpt.img"),
                          blank = m_dir.File("blank.img");
        ASSERT_TRUE(
            RunSucceeds("truncate -s 8M " + mbr + " && truncate -s 16M " + gpt + " && truncate -s 1M " +
                        blank + " && printf 'label: dos\\nstart=2048, size=2048, type=c\\nstart=4096, " +
                        "size=8192, type=83\\n' | " + sfdisk + " -q " + mbr +
                        " && printf 'label: gpt\\nstart=2048, size=20480, name=\"Camera Card\"\\n' | " +
                        sfdisk + " -q " + gpt));
        m_disks.reset(new ScopedEnv("TESSAROO_DISKS", mbr + ":" + blank + "::" + gpt));
    }

    TempDir m_dir{"app-disks"};
    std::unique_ptr<ScopedEnv> m_disks;
};

TEST_F(DiskTreeTest, DisksAreNumberedAsListedWithTheirPartitions)
{
    TestDRUI w;
    QTreeWidget* tree = w.Tree();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    const struct
    {
        const char* szName;
        const char* szSize;
        int nDisk;
        uint64_t u64Start, u64End;
    } expected[2][2] = {
        {{"Partition 1", "1.00 MB", 0, 2048, 4095}, {"Partition 2", "4.00 MB", 0, 4096, 12287}},
        {{"Camera Card", "10.00 MB", 3, 2048, 22527}, {}},
    };
    for (int d = 0; d < 2; ++d)
    {
        SCOPED_TRACE(d);
        QTreeWidgetItem* disk = tree->topLevelItem(d);
        EXPECT_EQ(disk->text(0), QString("Physical Driver %1").arg(d + 1));
        ASSERT_EQ(disk->childCount(), 2 - d);
        for (int p = 0; p < disk->childCount(); ++p)
        {
            const auto& want = expected[d][p];
            QTreeWidgetItem* row = disk->child(p);
            EXPECT_EQ(row->text(0), want.szName);
            EXPECT_EQ(row->text(1), want.szSize);
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
    EXPECT_TRUE(w.Button("scanButton")->isEnabled());
}

// Scan follows the row clicked; a double
// click on a disk starts nothing, on a partition scans it. The disk is cut
// short after it was listed, so the partition cannot be read: there is no
// engine, and the user is told the device could not be read, on page 2,
// with no results.
TEST_F(DiskTreeTest, ScanFollowsTheCurrentRowAndADoubleClickTakesThePartition)
{
    TestDRUI w;
    w.ShowOnPage2();
    ASSERT_EQ(truncate(m_dir.File("mbr.img").c_str(), 4096 * 512), 0);
    QTreeWidget* tree = w.Tree();
    QPushButton* scan = w.Button("scanButton");
    auto at = [&](QTreeWidgetItem* item) { return tree->visualItemRect(item).center(); };
    const struct
    {
        QTreeWidgetItem* row;
        bool bScan;
    } clicks[] = {{tree->topLevelItem(0), false},
                  {tree->topLevelItem(0)->child(1), true},
                  {tree->topLevelItem(1), false}};
    for (const auto& c : clicks)
    {
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::KeyboardModifiers(), at(c.row));
        EXPECT_EQ(scan->isEnabled(), c.bScan) << c.row->text(0).toStdString();
    }

    // A double click is a press and release followed by a second press that
    // the platform reports as a double click.
    bool bDoubleClicked = false;
    QObject::connect(tree, &QTreeWidget::itemDoubleClicked, [&] { bDoubleClicked = true; });
    auto doubleClick = [&](QTreeWidgetItem* item)
    {
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::KeyboardModifiers(), at(item));
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, Qt::KeyboardModifiers(), at(item));
    };
    w.m_partitionItem.u64EndSector = 777; // untouched unless a scan is started
    doubleClick(tree->topLevelItem(1));
    ASSERT_TRUE(bDoubleClicked);
    EXPECT_EQ(w.m_partitionItem.u64EndSector, 777u) << "a disk row starts nothing";
    QString message;
    WhenModal<CMessageBox>(
        [&](CMessageBox* box)
        {
            message = box->findChild<QLabel*>("messageText")->text();
            box->findChild<QPushButton*>("okButton")->click();
        });
    doubleClick(tree->topLevelItem(0)->child(1));
    EXPECT_EQ(w.m_partitionItem.nDiskIndex, 0);
    EXPECT_EQ(w.m_partitionItem.u64StartSector, 4096u);
    EXPECT_EQ(w.m_partitionItem.u64EndSector, 12287u);
    EXPECT_TRUE(message.startsWith("The device could not be read.")) << message.toStdString();
    EXPECT_EQ(w.m_pEngine, nullptr);
    EXPECT_EQ(w.m_pPage3, nullptr);
    EXPECT_EQ(w.Page(), 1);
}

TEST(DiskTree, NoDiskLeavesTheTreeEmptyAndScanDisabled)
{
    TestDRUI w;
    EXPECT_EQ(w.Tree()->topLevelItemCount(), 0);
    EXPECT_FALSE(w.Button("scanButton")->isEnabled());
}

// Back from page 2 shows page 1, from page 3 page 2, and drops the scan's
// engine either way.
TEST(Navigation, StartBackAndTheEngine)
{
    TestDRUI w;
    EXPECT_EQ(w.Page(), 0);
    w.Button("startButton")->click();
    EXPECT_EQ(w.Page(), 1);
    bool bDestroyed = false;
    w.m_pEngine.reset(new DestroyProbe(&bDestroyed));
    w.Button("backButton")->click();
    EXPECT_EQ(w.Page(), 0);
    EXPECT_TRUE(bDestroyed);
    EXPECT_EQ(w.m_pEngine, nullptr);

    w.m_pPage3 = new QWidget;
    w.m_pStackedLayout->addWidget(w.m_pPage3);
    w.m_pStackedLayout->setCurrentWidget(w.m_pPage3);
    bDestroyed = false;
    w.m_pEngine.reset(new DestroyProbe(&bDestroyed));
    w.btnSlotBack();
    EXPECT_EQ(w.Page(), 1);
    EXPECT_TRUE(bDestroyed);
}

TEST(MainWindow, InitCreatesTheSupportFolders)
{
    TempDir support;
    const std::string root = support.File("deeper/Tessaroo");
    ScopedEnv env("TESSAROO_SUPPORT_DIR", root);
    TestDRUI w;
    struct stat st;
    ASSERT_EQ(stat((root + "/ScanLog").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

// Escape, which closes dialogs, stops at the main window.
TEST(MainWindow, EscapeIsSwallowed)
{
    TestDRUI w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    escape.ignore();
    QApplication::sendEvent(&w, &escape);
    EXPECT_TRUE(escape.isAccepted());
    EXPECT_TRUE(w.isVisible());
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
    TestDRUI w;
    CUrlRecorder recorder;
    QDesktopServices::setUrlHandler("file", &recorder, "open");
    const char* const buttons[] = {"helpButton", "supportButton", "aboutButton"};
    for (const char* name : buttons)
        w.Button(name)->click();
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(recorder.urls.size(), 3);
    for (const QUrl& url : recorder.urls)
        EXPECT_TRUE(url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile())
            << url.toString().toStdString();
}
} // namespace

#include "DRUITest.moc"
