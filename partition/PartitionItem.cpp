#include "partition/PartitionItem.h"

size_t PartitionNameLength(const _PARTITION_ITEM_& item)
{
    size_t n = 0;
    while (n < PARTITION_NAME_UNITS && item.wszPartitionName[n] != 0)
        ++n;
    return n;
}

namespace
{
void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80)
        out += static_cast<char>(cp);
    else if (cp < 0x800)
    {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    else if (cp < 0x10000)
    {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    else
    {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}
} // namespace

std::string PartitionNameToUtf8(const _PARTITION_ITEM_& item)
{
    const size_t len = PartitionNameLength(item);
    std::string out;
    for (size_t i = 0; i < len; ++i)
    {
        uint32_t u = item.wszPartitionName[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < len && item.wszPartitionName[i + 1] >= 0xDC00 &&
            item.wszPartitionName[i + 1] <= 0xDFFF)
        {
            u = 0x10000 + ((u - 0xD800) << 10) + (item.wszPartitionName[i + 1] - 0xDC00);
            ++i;
        }
        else if (u >= 0xD800 && u <= 0xDFFF)
            u = 0xFFFD;
        AppendUtf8(out, u);
    }
    return out;
}

uint64_t PartitionSectorCount(const _PARTITION_ITEM_& item)
{
    if (item.u64EndSector < item.u64StartSector)
        return 0;
    return item.u64EndSector - item.u64StartSector + 1;
}
