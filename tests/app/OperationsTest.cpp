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

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStackedWidget>
#include <QTableWidget>

#include <atomic>
#include <cerrno>
#include <set>

using namespace apptest;
using namespace tessaroo::test;

namespace
{
// The sample card, scanned through the window as a user does it.
TEST(SampleScan, ScanPreviewAndRecoverTheDeletedFiles)
{
    if (SharedSampleImage().empty())
        GTEST_SKIP() << "the sample image could not be unpacked";
    Manifest manifest;
    ASSERT_TRUE(LoadManifest(SampleManifestPath(), manifest));
    std::multiset<std::string> wanted;
    for (const ManifestEntry& e : manifest.Deleted())
        if (!e.isDir)
            wanted.insert(e.sha256);
    ScopedEnv disks("TESSAROO_DISKS", SharedSampleImage());
    TestDRUI w;
    w.ShowOnPage2();
    w.m_pBtnScan->click();
    ASSERT_NE(w.m_pPage3, nullptr);
    EXPECT_EQ(w.m_pStackedLayout->currentWidget(), w.m_pPage3);
    EXPECT_EQ(w.m_pResults->HitCount(), wanted.size());
    EXPECT_EQ(TreeRows(w.m_pResultTree),
              std::vector<std::string>({"Photo(4)", "  jpg Files (3)", "  png Files (1)", "Office(3)",
                                        "  docx Files (1)", "  txt Files (2)"}));

    // A photo previews as a picture.
    w.m_pResultTree->setCurrentItem(Row(w.m_pResultTree, "jpg Files (3)"));
    ASSERT_TRUE(WaitUntil([&] { return !w.m_pPreviewLabel->pixmap().isNull(); }));
    EXPECT_EQ(w.m_pPreviewArea->currentWidget(), w.m_pPreviewLabel);

    // A text file previews as its first bytes, read off the card.
    w.m_pResultTree->setCurrentItem(Row(w.m_pResultTree, "txt Files (2)"));
    ASSERT_TRUE(WaitUntil([&] { return w.m_pPreviewArea->currentWidget() == w.m_pPreviewText; }));
    const QString first = w.m_pTableModel->index(0, 0).data().toString();
    const ManifestEntry* entry = nullptr;
    for (const ManifestEntry& e : manifest.entries)
        if (QString::fromStdString(e.Name()) == first)
            entry = &e;
    ASSERT_NE(entry, nullptr) << first.toStdString();
    const uint64_t offset = (manifest.Fact("data_start_sector") +
                             (entry->firstCluster - 2) * manifest.Fact("sectors_per_cluster")) *
                            512;
    const std::vector<uint8_t> bytes = ReadFileRange(SharedSampleImage(), offset, size_t(entry->size));
    EXPECT_EQ(w.m_pPreviewText->toPlainText().trimmed(),
              DRUI::MakeDumpText(bytes.data(), int(bytes.size())).trimmed());

    // Every deleted file ticked and recovered, byte for byte, into the
    // subfolder of its kind; the detail list has one success per file.
    w.m_pResultTree->topLevelItem(0)->setCheckState(0, Qt::Checked);
    w.m_pResultTree->topLevelItem(1)->setCheckState(0, Qt::Checked);
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
    EXPECT_EQ(ChecksumsBelow(out.Path()), wanted);
    EXPECT_EQ(ListFolder(out.File("photo")).size(), 4u);
    EXPECT_EQ(ListFolder(out.Path()), std::vector<std::string>({"document", "photo"}));

    // A destination that is no folder is refused before anything is
    // written, and the user is told.
    w.destination = QString::fromStdString(out.File("photo/") + ListFolder(out.File("photo"))[0]);
    w.m_pBtnRecover->click();
    EXPECT_EQ(w.messages.size(), 1);
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
            hits.push_back({});
            strcpy(hits.back().szFileName, name);
            hits.back().uFileIndex = uint32_t(hits.size());
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
    for (int i = 0; i < 4; ++i)
    {
        const bool bEscape = i & 1, bYes = i & 2;
        SCOPED_TRACE(std::string(bEscape ? "Escape" : "Cancel") + (bYes ? ", yes" : ", no"));
        TestDRUI w;
        CSlowEngine* engine = new CSlowEngine;
        w.engineMaker = [&] { return engine; };
        bool bStillRunning = false;
        WhenModal<SCANUI>([&](SCANUI*) { return engine->reports.load() > 0; },
                          [&](SCANUI* d)
                          {
                              if (bEscape)
                                  QTest::keyClick(d, Qt::Key_Escape);
                              else
                                  d->findChild<QPushButton*>("cancelButton")->click();
                          });
        WhenModal<CMessageBox>(
            [](CMessageBox*) { return true; },
            [&](CMessageBox* box)
            {
                box->findChild<QPushButton*>(bYes ? "yesButton" : "noButton")->click();
                if (bYes)
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
        QTreeWidgetItem* row = new QTreeWidgetItem(w.m_pDiskTree);
        row->setData(0, Qt::UserRole, QVariant::fromValue(_PARTITION_ITEM_()));
        w.m_pDiskTree->setCurrentItem(row);
        w.btnSlotScan();

        if (bYes)
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
// the reason; successes after them in order.
TEST(RecoveryDetail, RowsAndReasons)
{
    App();
    CDetail detail;
    detail.SetDestination("/media/backup");
    detail.AddTableItem("a.jpg", 0);
    detail.AddTableItem("b.jpg", int(tessaroo::DestinationStatus(ENOSPC)));
    detail.AddTableItem("c.txt", 0);
    detail.AddTableItem("d.txt", int(tessaroo::STATUS_READ_FAULT));
    QStringList rows;
    for (int r = 0; r < detail.Table()->rowCount(); ++r)
        rows << detail.Table()->item(r, 0)->text() + ": " + detail.Table()->item(r, 1)->text();
    EXPECT_EQ(rows,
              QStringList({"d.txt: Incomplete: the card ended or could not be read; kept as far as read",
                           "b.jpg: Failed: cannot write to /media/backup: No space left on device",
                           "a.jpg: Success", "c.txt: Success"}));
}
} // namespace
