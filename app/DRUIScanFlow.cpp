// The Scan button and what it starts. The worker thread, the progress
// dialog and the listing that build page 3 attach here.
#include "app/DRUI.h"

#include <QTreeWidget>

#include <cstring>

void DRUI::btnSlotScan()
{
    // The partition the scan will read: the current row's record, or all
    // zeroes for a row that carries none (a disk row).
    const QTreeWidgetItem* item = m_pDiskTree ? m_pDiskTree->currentItem() : nullptr;
    const QVariant userData = item ? item->data(0, Qt::UserRole) : QVariant();
    if (userData.metaType() == QMetaType::fromType<_PARTITION_ITEM_>())
        m_partitionItem = userData.value<_PARTITION_ITEM_>();
    else
        memset(&m_partitionItem, 0, sizeof(m_partitionItem));
    // The scan itself runs on the worker thread behind the progress dialog,
    // which this window does not have yet: nothing more happens here.
}

void DRUI::diskItemDoubleClick(QTreeWidgetItem* item, int column)
{
    (void)column;
    if (item && item->childCount() == 0)
        btnSlotScan();
}
