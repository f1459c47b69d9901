#include "partition/PartitionItem.h"

#include "core/Portability.h"

size_t PartitionNameLength(const _PARTITION_ITEM_& item)
{
    size_t n = 0;
    while (n < PARTITION_NAME_UNITS && item.wszPartitionName[n] != 0)
        ++n;
    return n;
}

std::string PartitionNameToUtf8(const _PARTITION_ITEM_& item)
{
    uint16_t units[PARTITION_NAME_UNITS];
    const size_t len = PartitionNameLength(item);
    for (size_t i = 0; i < len; ++i)
        units[i] = uint16_t(item.wszPartitionName[i]);
    return tessaroo::Utf16ToUtf8(units, len);
}

uint64_t PartitionSectorCount(const _PARTITION_ITEM_& item)
{
    if (item.u64EndSector < item.u64StartSector)
        return 0;
    return item.u64EndSector - item.u64StartSector + 1;
}
