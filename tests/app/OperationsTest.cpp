// The worker-thread operations as a user runs them: the scan of the sample
// card to page 3, a preview, the recovery of the ticked files with its
// detail list, and the cancel question answered both ways.
#include "TestWindow.h"

#include "app/CDetail.h"
#include "app/CFileTableModel.h"
#include "app/CMessageBox.h"
#include "app/CResultModel.h"
#include "app/SCANUI.h"
#include "core/Status.h"
#include "engines/ext/CFastExtRecovery.h"
#include "tests/support/ImageFile.h"
#include "tests/support/Manifest.h"
#include "tests/support/Sha256.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStackedWidget>
#include <QTableView>
#include <QTableWidget>

#include <atomic>
#include <cerrno>
#include <set>

using namespace apptest;
using namespace tessaroo::test;

namespace
{
QStringList TopLevelTexts(QTreeWidget* tree)
{
    QStringList rows;
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        rows << ((*it)->parent() ? "  " : "") + (*it)->text(0);
    return rows;
}

QTreeWidgetItem* Row(QTreeWidget* tree, const char* text)
{
    const QList<QTreeWidgetItem*> found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

// The sample card, scanned through the window as a user does it.
class SampleScanTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (SharedSampleImage().empty())
            GTEST_SKIP() << "the sample image could not be unpacked";
        ASSERT_TRUE(LoadManifest(SampleManifestPath(), m_manifest));
        m_disks.reset(new ScopedEnv("TESSAROO_DISKS", SharedSampleImage()));
    }

    Manifest m_manifest;
    std::unique_ptr<ScopedEnv> m_disks;
};

TEST_F(SampleScanTest, ScanPreviewAndRecoverTheDeletedFiles)
{
    TestDRUI w;
    w.ShowOnPage2();
    w.Button("scanButton")->click();
    ASSERT_NE(w.m_pPage3, nullptr);
    EXPECT_EQ(w.m_pStackedLayout->currentWidget(), w.m_pPage3);
    size_t nDeletedFiles = 0;
    for (const ManifestEntry& e : m_manifest.Deleted())
        nDeletedFiles += e.isDir ? 0 : 1;
    EXPECT_EQ(w.m_pResults->HitCount(), nDeletedFiles);
    EXPECT_EQ(TopLevelTexts(w.m_pResultTree),
              QStringList({"Photo(4)", "  jpg Files (3)", "  png Files (1)", "Office(3)", "  docx Files (1)",
                           "  txt Files (2)"}));

    // A photo previews as a picture that fits the area.
    w.m_pResultTree->setCurrentItem(Row(w.m_pResultTree, "jpg Files (3)"));
    ASSERT_TRUE(WaitUntil([&] { return !w.m_pPreviewLabel->pixmap().isNull(); }));
    EXPECT_EQ(w.m_pPreviewArea->currentWidget(), w.m_pPreviewLabel);
    EXPECT_LE(w.m_pPreviewLabel->pixmap().height(), w.m_pPreviewArea->height());
    EXPECT_LE(w.m_pPreviewLabel->pixmap().width(), DRUI::PREVIEW_MAX_WIDTH);

    // A text file previews as its first bytes, read off the card.
    w.m_pResultTree->setCurrentItem(Row(w.m_pResultTree, "txt Files (2)"));
    ASSERT_TRUE(WaitUntil([&] { return w.m_pPreviewArea->currentWidget() == w.m_pPreviewText; }));
    const QString first = w.m_pTableModel->index(0, 0).data().toString();
    const ManifestEntry* entry = nullptr;
    for (const ManifestEntry& e : m_manifest.entries)
        if (QString::fromStdString(e.Name()) == first)
            entry = &e;
    ASSERT_NE(entry, nullptr) << first.toStdString();
    const uint64_t offset = (m_manifest.Fact("data_start_sector") +
                             (entry->firstCluster - 2) * m_manifest.Fact("sectors_per_cluster")) *
                            512;
    const std::vector<uint8_t> bytes = ReadFileRange(SharedSampleImage(), offset, size_t(entry->size));
    EXPECT_EQ(w.m_pPreviewText->toPlainText().trimmed(),
              DRUI::MakeDumpText(bytes.data(), int(bytes.size())).trimmed());

    // Every deleted file ticked and recovered, byte for byte, into the
    // subfolder of its kind; the detail list has one success per file.
    w.m_pResultTree->topLevelItem(0)->setCheckState(0, Qt::Checked);
    w.m_pResultTree->topLevelItem(1)->setCheckState(0, Qt::Checked);
    EXPECT_EQ(w.m_pSelectionLabel->text(), "Select 91.70 KB in 7 files");
    TempDir out;
    w.destination = QString::fromStdString(out.Path());
    QStringList rows;
    WhenModal<SCANUI>([](SCANUI* d) { return d->Mode() == SCANUI::MODE_RECOVERY && d->IsFinished(); },
                      [&](SCANUI* d)
                      {
                          QTableWidget* table = d->Detail()->Table();
                          for (int r = 0; r < table->rowCount(); ++r)
                              rows << table->item(r, 1)->text();
                          d->findChild<QPushButton*>("cancelButton")->click();
                      });
    w.m_pBtnRecover->click();
    EXPECT_EQ(rows, QStringList(7, "Success"));
    std::multiset<std::string> wanted, got;
    for (const ManifestEntry& e : m_manifest.Deleted())
        if (!e.isDir)
            wanted.insert(e.sha256);
    for (const char* folder : {"photo", "document"})
        for (const std::string& name : ListFolder(out.File(folder)))
            got.insert(Sha256OfFile(out.File(folder) + "/" + name));
    EXPECT_EQ(got, wanted);
    EXPECT_EQ(ListFolder(out.File("photo")).size(), 4u);
    EXPECT_EQ(ListFolder(out.Path()), std::vector<std::string>({"document", "photo"}));

    // A destination that is no folder is refused before anything is
    // written, and the user is told why.
    w.destination = QString::fromStdString(out.File("photo/") + ListFolder(out.File("photo"))[0]);
    QString message;
    WhenModal<CMessageBox>(
        [&](CMessageBox* box)
        {
            message = box->findChild<QLabel*>("messageText")->text();
            box->findChild<QPushButton*>("okButton")->click();
        });
    w.m_pBtnRecover->click();
    EXPECT_FALSE(message.isEmpty());
    EXPECT_EQ(ListFolder(out.File("photo")).size(), 4u);
}

// An engine whose scan runs until it is told to finish or is stopped by its
// callback, and whose listing finds two files.
class CSlowEngine : public CFastExtRecovery
{
  public:
    unsigned int InitCallBack(SCAN_CALLBACK scan, RECOVERY_CALLBACK, void* ctx, int) override
    {
        m_pScan = scan;
        m_pCtx = ctx;
        return 0;
    }
    unsigned int ScanDevice(wchar_t*) override
    {
        for (int i = 0; i < 2000; ++i)
        {
            const int r = m_pScan ? m_pScan(m_pCtx, 40, 100, -1, 0, 0, 0, nullptr) : 0;
            ++reports;
            if (r != 0)
            {
                stoppedWith.store(r);
                return unsigned(r);
            }
            if (finish.load())
            {
                if (m_pScan)
                    m_pScan(m_pCtx, 100, 100, 0, 0, 0, 0, nullptr);
                return 0;
            }
            QThread::msleep(10);
        }
        return 0;
    }
    unsigned int SearchFileNode(wchar_t*, std::vector<__SEARCH_FILE_INFO__>& hits) override
    {
        for (const char* name : {"found.jpg", "early.txt"})
        {
            __SEARCH_FILE_INFO__ node = {};
            strcpy(node.szFileName, name);
            node.uFileIndex = uint32_t(hits.size() + 1);
            hits.push_back(node);
        }
        return 0;
    }

    std::atomic<bool> finish{false};
    std::atomic<int> reports{0};
    std::atomic<int> stoppedWith{0};

  private:
    SCAN_CALLBACK m_pScan = nullptr;
    void* m_pCtx = nullptr;
};

// The cancel question, reached by the Cancel button or by Escape: "No"
// leaves the scan running to its end, "Yes" stops it; either way the files
// found are listed on page 3.
TEST(ScanCancel, TheQuestionAnsweredYesAndNo)
{
    const struct
    {
        bool bEscape;
        bool bYes;
    } cases[] = {{false, false}, {false, true}, {true, true}, {true, false}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::string(c.bEscape ? "Escape" : "Cancel") + (c.bYes ? ", yes" : ", no"));
        TestDRUI w;
        CSlowEngine* engine = new CSlowEngine;
        w.engineMaker = [&] { return engine; };
        bool bStillRunning = false;
        WhenModal<SCANUI>([&](SCANUI*) { return engine->reports.load() > 0; },
                          [&](SCANUI* d)
                          {
                              if (c.bEscape)
                                  QTest::keyClick(d, Qt::Key_Escape);
                              else
                                  d->findChild<QPushButton*>("cancelButton")->click();
                          });
        WhenModal<CMessageBox>(
            [&](CMessageBox* box)
            {
                box->findChild<QPushButton*>(c.bYes ? "yesButton" : "noButton")->click();
                if (c.bYes)
                    return;
                // Answered no: the scan goes on, its dialog stays; then it
                // is let finish.
                QTimer::singleShot(300,
                                   [&]
                                   {
                                       auto* d = qobject_cast<SCANUI*>(QApplication::activeModalWidget());
                                       bStillRunning = d && d->isVisible() && engine->stoppedWith.load() == 0;
                                       engine->finish.store(true);
                                   });
            });
        // The scan button's work without a disk tree row: a partition record.
        QTreeWidgetItem* row = new QTreeWidgetItem(w.Tree());
        row->setData(0, Qt::UserRole, QVariant::fromValue(_PARTITION_ITEM_()));
        w.Tree()->setCurrentItem(row);
        w.btnSlotScan();

        if (c.bYes)
            EXPECT_EQ(engine->stoppedWith.load(), 1) << "the callback asks the engine to stop";
        else
        {
            EXPECT_TRUE(bStillRunning);
            EXPECT_EQ(engine->stoppedWith.load(), 0);
        }
        ASSERT_NE(w.m_pPage3, nullptr);
        EXPECT_EQ(w.m_pStackedLayout->currentWidget(), w.m_pPage3);
        EXPECT_EQ(w.m_pResults->HitCount(), 2u);
    }
}

// A scan's reports as the dialog's bar (the share of the whole); completion
// at 100 x 100 closes the dialog without a question.
TEST(ScanProgress, ReportsBecomeTheBarAndTheEnd)
{
    const struct
    {
        int nProgress, nPercent, nBar;
        bool bFinished;
    } cases[] = {{50, 90, 45, false}, {30, 10, 3, false}, {100, 100, 100, true}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.nBar);
        TestDRUI w;
        SCANUI dialog;
        dialog.InitSlot(&w, SCANUI::MODE_SCAN);
        dialog.show();
        emit w.ScanProcessCallBack(c.nProgress, c.nPercent, -1, "7", "9", "3", QString());
        EXPECT_EQ(dialog.findChild<QProgressBar*>("progressBar")->value(), c.nBar);
        EXPECT_EQ(dialog.IsFinished(), c.bFinished);
        EXPECT_EQ(dialog.isVisible(), !c.bFinished);
    }
}

// Outcomes as the detail list shows them: failures first, newest first, with
// the reason; successes after them in order; the counters in the header.
TEST(RecoveryDetail, RowsAndReasons)
{
    App();
    CDetail detail;
    detail.SetDestination("/media/backup");
    const std::pair<const char*, int> reports[] = {
        {"/media/backup/photo/a.jpg", 0},
        {"/media/backup/photo/b.jpg", int(tessaroo::DestinationStatus(ENOSPC))},
        {"/media/backup/document/c.txt", 0},
        {"/media/backup/document/d.txt", int(tessaroo::STATUS_READ_FAULT)},
    };
    for (const auto& r : reports)
        detail.AddTableItem(r.first, r.second);
    const std::pair<const char*, const char*> rows[] = {
        {"/media/backup/document/d.txt",
         "Incomplete: the card ended or could not be read; kept as far as read"},
        {"/media/backup/photo/b.jpg", "Failed: cannot write to /media/backup: No space left on device"},
        {"/media/backup/photo/a.jpg", "Success"},
        {"/media/backup/document/c.txt", "Success"},
    };
    QTableWidget* table = detail.Table();
    ASSERT_EQ(table->rowCount(), 4);
    for (int r = 0; r < 4; ++r)
    {
        EXPECT_EQ(table->item(r, 0)->text(), rows[r].first);
        EXPECT_EQ(table->item(r, 1)->text(), rows[r].second);
    }
}
} // namespace
