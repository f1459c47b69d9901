// libFuzzer target: partition discovery (GPT, Apple partition map, MBR with
// its EBR chain, whole-disk FAT and NTFS volumes) on a hostile disk.
//
// Input: the first sectors of disk 0. The disk is a memory file holding the
// input, extended with zeros (sparse) to its logical size, so that tables and
// chains pointing far beyond the input read zeros or run off the end:
// - an input of whole sectors is the start of a 64 MiB disk;
// - otherwise the bytes after the last whole sector are not disk data: the
//   first of them, t, sets the disk to (whole sectors) << (t % 40) sectors,
//   from exactly the input (t % 40 == 0) up to far more than any 32-bit
//   sector number reaches.
//
// Checks that every listed partition starts no later than it ends, lies on
// the disk, carries disk number 0, and that the listing stays within what a
// bounded walk can produce.
#include "partition/CPartitionManager.h"
#include "tests/fuzz/FuzzDisk.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

namespace
{
constexpr size_t SECTOR = 512;
constexpr uint64_t DEFAULT_DISK_SECTORS = 64ULL * 1024 * 1024 / SECTOR;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const size_t whole = size / SECTOR;
    uint64_t sectors = DEFAULT_DISK_SECTORS;
    if (size % SECTOR)
        sectors = uint64_t(whole) << (data[whole * SECTOR] % 40);
    fuzz::FillDisk(data, whole * SECTOR, sectors * SECTOR);

    std::map<int, std::vector<_PARTITION_ITEM_>> disks;
    CPartitionManager manager;
    if (manager.GetPartitionItems(disks) != 1 || disks.size() > 1 ||
        (disks.size() == 1 && disks.begin()->first != 0))
        fuzz::Fail("the listing failed or holds another disk than disk 0");
    for (const auto& disk : disks)
    {
        // Four entries per table sector at most, over the MBR and the bounded
        // links; GPT (24 entries) and APM (128) stay below that.
        if (disk.second.empty() || disk.second.size() > 4 * size_t(CPartitionManager::MAX_EBR_LINKS + 1))
            abort();
        for (const _PARTITION_ITEM_& item : disk.second)
        {
            if (item.nDiskIndex != 0 || item.u64StartSector > item.u64EndSector ||
                item.u64EndSector >= sectors)
                fuzz::Fail("a partition off the disk, reversed, or on another disk");
            PartitionNameToUtf8(item);
        }
    }
    return 0;
}
