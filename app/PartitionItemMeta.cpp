#include "app/PartitionItemMeta.h"

void RegisterPartitionItemMetaType()
{
    static const int nId = qRegisterMetaType<_PARTITION_ITEM_>("PARTITION_ITEM");
    (void)nId;
}
