// The worker-thread operations and the scan: the pattern every operation
// runs in (dialog first, then the thread, joined when the dialog closes),
// the engine callbacks that become queued signals, the stop and end flags,
// and the Scan button with the listing that leads to page 3.
#include "app/DRUI.h"

#include "app/CMessageBox.h"
#include "app/CMyThread.h"
#include "app/CResultModel.h"
#include "app/SCANUI.h"
#include "core/Portability.h"
#include "engines/CFileRecoveryFactory.h"
#include "engines/CProfessionalRecovery.h"
#include "recovery/CRecoveryFlow.h"
#include "store/CLogFileManager.h"

#include <QCheckBox>
#include <QStackedLayout>
#include <QTreeWidget>

#include <cstring>

namespace
{
QString WideToDisplay(const wchar_t* text)
{
    return text ? QString::fromStdString(tessaroo::WideToUtf8(text)) : QString();
}
} // namespace

// --- the operation pattern ---------------------------------------------------------

void DRUI::RunOperation(int operation, OPERATION_FUNC func)
{
    // One operation at a time: its dialog is modal, but a queued preview
    // may still come due while it runs.
    if (m_bOperationRunning)
        return;
    m_bOperationRunning = true;
    SCANUI dialog;
    // Connected before the worker starts, so that no report is lost.
    dialog.InitSlot(this, operation, m_strPreviewName);
    // Every dialog sits over the window, where the user is looking, rather
    // than wherever the platform puts a new window (another screen).
    dialog.move(pos() + QPoint(width() / 4, height() / 4));
    if (operation == OPERATION_RECOVERY)
        dialog.SetSaveDir(m_strSaveDir);
    m_pThrottle->Reset();

    CMyThread thread;
    thread.SetFunc(func, this);
    thread.start(QThread::InheritPriority);
    dialog.exec();
    // The dialog closes on the operation's completion report, which the
    // engine sends before it returns: join before anything is touched.
    thread.quit();
    thread.wait();
    m_bOperationRunning = false;
}

void DRUI::RequestStop(int operation)
{
    switch (operation)
    {
    case OPERATION_SCAN:
        m_bScanStop.store(true);
        break;
    case OPERATION_SEARCH:
        m_bSearchStop.store(true);
        break;
    case OPERATION_PREVIEW:
        m_bPreviewStop.store(true);
        break;
    case OPERATION_RECOVERY:
        m_bRecoveryStop.store(true);
        // The flow is made before the thread starts and dropped after it is
        // joined, and its stop request is atomic.
        if (m_pRecoveryFlow)
            m_pRecoveryFlow->RequestStop();
        break;
    default:
        break;
    }
}

bool DRUI::IsStopRequested(int operation) const
{
    switch (operation)
    {
    case OPERATION_SCAN:
        return m_bScanStop.load();
    case OPERATION_SEARCH:
        return m_bSearchStop.load();
    case OPERATION_PREVIEW:
        return m_bPreviewStop.load();
    case OPERATION_RECOVERY:
        return m_bRecoveryStop.load();
    default:
        return false;
    }
}

bool DRUI::IsOperationEnded(int operation) const
{
    switch (operation)
    {
    case OPERATION_SCAN:
        return m_bScanEnd.load();
    case OPERATION_SEARCH:
        return m_bSearchEnd.load();
    case OPERATION_PREVIEW:
        return m_bPreviewEnd.load();
    case OPERATION_RECOVERY:
        return m_bRecoveryEnd.load();
    default:
        return true;
    }
}

// --- the outside world ---------------------------------------------------------------

IFileRecoveryParse* DRUI::CreateEngine(const _PARTITION_ITEM_& partition)
{
    // The deep scan: the volume's own metadata first, then every free
    // sector; none only for a device that cannot be read.
    return CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        partition.nDiskIndex, (long long)partition.u64StartSector, (long long)PartitionSectorCount(partition),
        L'C', RECOVERY_TYPE_PROFESSIONAL);
}

void DRUI::ShowMessage(const QString& strMessage)
{
    CMessageBox box;
    box.InitMessageDialog(strMessage);
    box.move(pos() + QPoint((width() - box.width()) / 2, (height() - box.height()) / 2));
    box.exec();
}

// --- the scan ---------------------------------------------------------------------------

void DRUI::btnSlotScan()
{
    // The partition the scan will read: the current row's record. A disk
    // row carries none, and there is nothing to scan then.
    const QTreeWidgetItem* item = m_pDiskTree ? m_pDiskTree->currentItem() : nullptr;
    const QVariant userData = item ? item->data(0, Qt::UserRole) : QVariant();
    if (userData.metaType() != QMetaType::fromType<_PARTITION_ITEM_>())
    {
        memset(&m_partitionItem, 0, sizeof(m_partitionItem));
        return;
    }
    m_partitionItem = userData.value<_PARTITION_ITEM_>();

    // The listing collects the kinds ticked on page 1; the list is made here,
    // where the check boxes live.
    bool checked[KIND_COUNT];
    for (int i = 0; i < KIND_COUNT; ++i)
        checked[i] = m_pCheckKind[i]->isChecked();
    m_strSearchKey = tessaroo::Utf8ToWide(CResultModel::PatternListForKinds(checked).c_str());

    RunOperation(OPERATION_SCAN, &DRUI::_ScanProcess);
    qDebug("_ScanProcess end\n");
    if (!m_pEngine)
    {
        ShowMessage("The device could not be read.\nCheck that it is still connected, or choose another "
                    "partition.");
        return;
    }
    // A stopped or failed scan is listed too: the user sees what was found
    // up to that point.
    qDebug("_SearchProcess Start\n");
    RunOperation(OPERATION_SEARCH, &DRUI::_SearchProcess);
    qDebug("_SearchProcess end\n");
    InitLayout3Widget();
}

void DRUI::diskItemDoubleClick(QTreeWidgetItem* item, int column)
{
    (void)column;
    if (item && item->childCount() == 0)
        btnSlotScan();
}

void DRUI::_ScanProcess(void* ctx, int& result)
{
    DRUI* self = static_cast<DRUI*>(ctx);
    result = self->Scan(nullptr, result);
    self->m_nScanResult = result;
    emit self->OperationEnded(OPERATION_SCAN, result);
}

int DRUI::Scan(wchar_t* pSaveDir, int& nProcess)
{
    (void)pSaveDir;
    (void)nProcess;
    m_bScanStop.store(false);
    m_bScanEnd.store(false);
    m_pEngine.reset();
    qDebug("m_partitionItem.u64StartSector = %lld\n", (long long)m_partitionItem.u64StartSector);
    int result = -1;
    m_pEngine.reset(CreateEngine(m_partitionItem));
    if (m_pEngine)
    {
        // Every scan starts a fresh scan-log folder; results of earlier
        // scans are never mixed into it. The deep scan takes its folder
        // itself; a quick engine (tests hand one in) is given one here.
        if (CProfessionalRecovery* deep = dynamic_cast<CProfessionalRecovery*>(m_pEngine.get()))
            deep->SetNotLoadLogFile();
        else
            CLogFileManager::GetInstance()->AddDirIndex();
        m_pEngine->InitCallBack(&DRUI::ScanCallBack, nullptr, this, 100);
        result = int(m_pEngine->ScanDevice(nullptr));
        m_pEngine->InitCallBack(nullptr, nullptr, nullptr, 100);
    }
    m_bScanEnd.store(true);
    return result;
}

int DRUI::ScanCallBack(void* ctx, int nProgress, int nPercent, int nRemaindSecond,
                       unsigned long long u64CurSector, unsigned long long u64SectorCount,
                       unsigned long long u64FindFileCount, wchar_t* name)
{
    DRUI* self = static_cast<DRUI*>(ctx);
    if (self->m_bScanStop.load())
        return 1;
    const long long product = (long long)nProgress * nPercent;
    const bool bComplete = product >= tessaroo::SCAN_COMPLETE_LOW && product <= tessaroo::SCAN_COMPLETE_HIGH;
    if (!self->m_pThrottle->Pass(bComplete))
        return 0;
    emit self->ScanProcessCallBack(nProgress, nPercent, nRemaindSecond, QString::number(u64CurSector),
                                   QString::number(u64SectorCount), QString::number(u64FindFileCount),
                                   WideToDisplay(name));
    return 0;
}

// --- the listing -------------------------------------------------------------------------

void DRUI::_SearchProcess(void* ctx, int& result)
{
    DRUI* self = static_cast<DRUI*>(ctx);
    self->m_bSearchStop.store(false);
    self->m_bSearchEnd.store(false);
    self->SearchProcess();
    result = 0;
    self->m_bSearchEnd.store(true);
    // The last report comes after the end flag, so that the dialog closes on it.
    emit self->SearchCallBack(100, QString());
    emit self->OperationEnded(OPERATION_SEARCH, result);
}

void DRUI::SearchProcess()
{
    m_searchResult.clear();
    if (!m_pEngine)
        return;
    m_pEngine->InitSearchCallBack(&DRUI::SearchCallBack, this);
    std::wstring key = m_strSearchKey;
    key.push_back(L'\0');
    m_pEngine->SearchFileNode(&key[0], m_searchResult);
    m_pEngine->InitSearchCallBack(nullptr, nullptr);
}

int DRUI::SearchCallBack(void* ctx, int nProgress, wchar_t* name)
{
    (void)name;
    DRUI* self = static_cast<DRUI*>(ctx);
    if (self->m_bSearchStop.load())
        return 1;
    if (self->m_pThrottle->Pass(nProgress >= 100))
        emit self->SearchCallBack(nProgress, QString());
    return 0;
}
