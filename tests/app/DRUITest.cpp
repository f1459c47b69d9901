// The main window: page 1's kind check boxes, page 2's disk tree from
// mapped image files, navigation and the title bar's help pages.
#include "TestWindow.h"

#include "engines/ext/CFastExtRecovery.h"
#include "tests/support/RunTool.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

#include <filesystem>
#include <unistd.h>

using namespace apptest;
using tessaroo::test::HaveTool;
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
    const struct
    {
        std::vector<int> clicks;
        unsigned int uKindsChecked; // bit i set: kind i checked afterwards
        Qt::CheckState allState;
    } cases[] = {
        {{}, 0x3F, Qt::Checked},
        {{2}, 0x3B, Qt::PartiallyChecked},
        {{0, 1, 2, 3, 4, 5}, 0, Qt::Unchecked},
        {{0, 1, 2, 3, 4, 5, 3}, 1u << 3, Qt::PartiallyChecked},
        {{0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5}, 0x3F, Qt::Checked},
        {{1, 4, ALL}, 0x3F, Qt::Checked},
        {{ALL}, 0, Qt::Unchecked},
        {{ALL, ALL}, 0x3F, Qt::Checked},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(::testing::PrintToString(c.clicks));
        TestDRUI w;
        for (int click : c.clicks)
            (click == ALL ? w.m_pCheckAll : w.m_pCheckKind[click])->click();
        unsigned int kinds = 0;
        for (int i = 0; i < DRUI::KIND_COUNT; ++i)
            kinds |= w.m_pCheckKind[i]->isChecked() ? (1u << i) : 0u;
        EXPECT_EQ(kinds, c.uKindsChecked);
        EXPECT_EQ(w.m_pCheckAll->checkState(), c.allState);
        EXPECT_EQ(w.m_pBtnStart->isEnabled(), kinds != 0);
    }
}

// Two partitioned images at disk numbers 0 and 3, with a disk without a
// table (1) and an empty slot (2) between them; the last partition is
// current. Scan follows the row clicked; a double click on a disk starts
// nothing, on a partition scans the record its row carries. The disk is cut
// short after it was listed, so the partition cannot be read: there is no
// engine, and the user is told, on page 2, with no results.
TEST(DiskTree, RowsAreTheMappedDisksAndADoubleClickScansAPartition)
{
    if (!HaveTool("sfdisk"))
        GTEST_SKIP() << "sfdisk (package fdisk) is needed to lay the partition tables";
    TempDir dir("app-disks");
    const std::string mbr = dir.File("mbr.img"), gpt = dir.File("gpt.img"), blank = dir.File("blank.img");
    ASSERT_TRUE(RunSucceeds("truncate -s 8M " + mbr + " && truncate -s 16M " + gpt + " && truncate -s 1M " +
                            blank +
                            " && printf 'label: dos\\nstart=2048, size=2048, type=c\\nstart=4096, size=8192, "
                            "type=83\\n' | sfdisk -q " +
                            mbr + " && printf 'label: gpt\\nstart=2048, size=20480\\n' | sfdisk -q " + gpt));
    ScopedEnv disks("TESSAROO_DISKS", mbr + ":" + blank + "::" + gpt);
    TestDRUI w;
    QTreeWidget* tree = w.m_pDiskTree;
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->topLevelItem(0)->childCount(), 2);
    ASSERT_EQ(tree->topLevelItem(1)->childCount(), 1);
    EXPECT_EQ(tree->currentItem(), tree->topLevelItem(1)->child(0));
    EXPECT_TRUE(w.m_pBtnScan->isEnabled());

    w.ShowOnPage2();
    ASSERT_EQ(truncate(gpt.c_str(), 1024 * 512), 0);
    auto click = [&](QTreeWidgetItem* item)
    { QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center()); };
    const std::pair<QTreeWidgetItem*, bool> clicks[] = {{tree->topLevelItem(0), false},
                                                        {tree->topLevelItem(0)->child(1), true},
                                                        {tree->topLevelItem(1), false}};
    for (const auto& c : clicks)
    {
        click(c.first);
        EXPECT_EQ(w.m_pBtnScan->isEnabled(), c.second) << c.first->text(0).toStdString();
    }

    // A double click is a press and release followed by a second press that
    // the platform reports as a double click.
    bool bDoubleClicked = false;
    QObject::connect(tree, &QTreeWidget::itemDoubleClicked, [&] { bDoubleClicked = true; });
    auto doubleClick = [&](QTreeWidgetItem* item)
    {
        click(item);
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
    };
    w.m_partitionItem.u64EndSector = 777; // untouched unless a scan is started
    doubleClick(tree->topLevelItem(0));
    ASSERT_TRUE(bDoubleClicked);
    EXPECT_EQ(w.m_partitionItem.u64EndSector, 777u) << "a disk row starts nothing";
    doubleClick(tree->topLevelItem(1)->child(0));
    EXPECT_EQ(w.m_partitionItem.nDiskIndex, 3);
    EXPECT_EQ(w.m_partitionItem.u64StartSector, 2048u);
    EXPECT_EQ(w.m_partitionItem.u64EndSector, 22527u);
    EXPECT_EQ(w.messages.size(), 1);
    EXPECT_EQ(w.m_pEngine, nullptr);
    EXPECT_EQ(w.m_pPage3, nullptr);
    EXPECT_EQ(w.Page(), 1);
}

// The window makes the support folders, however deep. With no disk there
// is nothing to scan. Back from page 2 shows page 1, from page 3 page 2, and
// drops the scan's engine either way.
TEST(MainWindow, SupportFoldersNavigationAndTheEngine)
{
    TempDir support;
    const std::string root = support.File("deeper/Tessaroo");
    ScopedEnv env("TESSAROO_SUPPORT_DIR", root);
    TestDRUI w;
    EXPECT_TRUE(std::filesystem::is_directory(root + "/ScanLog"));
    EXPECT_EQ(w.m_pDiskTree->topLevelItemCount(), 0);
    EXPECT_FALSE(w.m_pBtnScan->isEnabled());
    w.m_pBtnStart->click();
    EXPECT_EQ(w.Page(), 1);
    bool bDestroyed = false;
    w.m_pEngine.reset(new DestroyProbe(&bDestroyed));
    w.findChild<QPushButton*>("backButton")->click();
    EXPECT_EQ(w.Page(), 0);
    EXPECT_TRUE(bDestroyed);

    w.m_pPage3 = new QWidget;
    w.m_pStackedLayout->addWidget(w.m_pPage3);
    w.m_pStackedLayout->setCurrentWidget(w.m_pPage3);
    bDestroyed = false;
    w.m_pEngine.reset(new DestroyProbe(&bDestroyed));
    w.btnSlotBack();
    EXPECT_EQ(w.Page(), 1);
    EXPECT_TRUE(bDestroyed);
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
    for (const char* name : {"helpButton", "supportButton", "aboutButton"})
        w.findChild<QPushButton*>(name)->click();
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(recorder.urls.size(), 3);
    for (const QUrl& url : recorder.urls)
        EXPECT_TRUE(url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile())
            << url.toString().toStdString();
}
} // namespace

#include "DRUITest.moc"
