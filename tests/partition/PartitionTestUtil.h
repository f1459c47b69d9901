// Helpers for the partition tests: enumeration over image files mapped as
// disks, hand-built MBR and EBR sectors, and listings as extents and names.
#pragma once

#include "core/ByteReader.h"
#include "partition/CPartitionManager.h"
#include "tests/support/ImageFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <string>
#include <vector>

namespace ptest
{
using tessaroo::test::SectorImage;
using tessaroo::test::TempDir;
typedef std::map<int, std::vector<_PARTITION_ITEM_>> DiskMap;

// The partitions found with the images mapped as disks 0, 1, 2, ...
inline DiskMap Enumerate(const std::vector<std::string>& images)
{
    std::string list;
    for (size_t i = 0; i < images.size(); ++i)
        list += (i ? ":" : "") + images[i];
    tessaroo::test::ScopedEnv disks("TESSAROO_DISKS", list);
    DiskMap out;
    EXPECT_EQ(CPartitionManager().GetPartitionItems(out), 1);
    return out;
}

// One MBR or EBR entry and the 512-byte sector of up to four of them.
struct MbrEntrySpec
{
    uint8_t type;
    uint32_t start;
    uint32_t count;
};

inline std::vector<uint8_t> MbrSector(const std::vector<MbrEntrySpec>& entries, bool signature = true)
{
    std::vector<uint8_t> s(512, 0);
    for (size_t k = 0; k < entries.size() && k < 4; ++k)
    {
        s[446 + 16 * k + 4] = entries[k].type;
        tessaroo::PutU32(&s[446 + 16 * k + 8], entries[k].start);
        tessaroo::PutU32(&s[446 + 16 * k + 12], entries[k].count);
    }
    s[510] = signature ? 0x55 : 0;
    s[511] = signature ? 0xAA : 0;
    return s;
}

// A listing as [first, last] sectors and as names, for whole-list comparisons.
typedef std::pair<uint64_t, uint64_t> Extent;
typedef std::vector<Extent> Extents;
typedef std::vector<std::string> Names;

inline Extents ExtentsOf(const std::vector<_PARTITION_ITEM_>& items)
{
    Extents v;
    for (const _PARTITION_ITEM_& i : items)
        v.push_back({i.u64StartSector, i.u64EndSector});
    return v;
}

inline Names NamesOf(const std::vector<_PARTITION_ITEM_>& items)
{
    Names v;
    for (const _PARTITION_ITEM_& i : items)
        v.push_back(PartitionNameToUtf8(i));
    return v;
}
} // namespace ptest
