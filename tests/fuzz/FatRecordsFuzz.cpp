// libFuzzer target: the recognisers that judge raw sectors, and the FAT
// boot-sector decoders, on hostile bytes.
//
// Input: one byte buffer, read as the first bytes of a volume (boot sector,
// ext superblock), as a run of FAT directory entries, and as an MFT record.
// Each function gets its own heap copy of exactly the bytes it may read, so
// any read past them faults: IsFat and IsNtfs 512 bytes, IsExt 2048 and
// IsFatFileRecord 64 (the input zero-padded to those sizes), IsFatFDTRecord
// and IsNtfsFileRecord the input cut to several lengths, IsFatEntyValid the
// entry at every 32-byte position with the bytes that follow it.
//
// Also checks that the two forms of IsFatEntyValid agree on a lone entry,
// and that a derived FAT geometry keeps the limits it promises.
#include "core/BootSector.h"
#include "engines/CFileRecoveryFactory.h"
#include "core/Recognisers.h"
#include "engines/fat/FatLayout.h"
#include "tests/fuzz/FuzzDisk.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace
{
bool IsPowerOfTwo(uint64_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

// Each length of lens that the input covers, as an exact copy of its first bytes.
template <class Check>
void ForEachCut(const uint8_t* data, size_t size, std::initializer_list<size_t> lens, Check check)
{
    for (size_t len : lens)
        if (len <= size && len <= size_t(INT32_MAX))
            check(fuzz::ExactCopy(data, size, len).get(), int(len));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto boot = fuzz::ExactCopy(data, size, 512);
    IsFat(boot.get());
    IsNtfs(boot.get());
    auto ext = fuzz::ExactCopy(data, size, 2048);
    IsExt(ext.get());
    auto pair = fuzz::ExactCopy(data, size, 64);
    IsFatFileRecord(pair.get());

    auto whole = fuzz::ExactCopy(data, size, size);
    tessaroo::ClassifyVolume(whole.get(), size);

    tessaroo::FatGeometry g;
    if (tessaroo::DeriveFatGeometry(whole.get(), size, g))
    {
        if (g.bytesPerSector < 512 || g.bytesPerSector > 4096 || !IsPowerOfTwo(g.bytesPerSector) ||
            !IsPowerOfTwo(g.sectorsPerCluster) || g.sectorsPerCluster > 128 || g.numFats == 0 ||
            g.sectorsPerFat == 0 || g.clusterCount > tessaroo::FAT_MAX_CLUSTERS || g.unitsPerSector == 0 ||
            g.bytesPerCluster != g.bytesPerSector * g.sectorsPerCluster)
            fuzz::Fail("derived geometry outside its limits");
    }

    // Directory entries: the whole input, and cut to the lengths the engines
    // and the deep scan hand over (one entry, a pair, a sector, odd tails).
    ForEachCut(data, size, {size, 32, 33, 64, 95, 512, 513, 2048, size / 32 * 32, size > 31 ? size - 31 : 0},
               [](const uint8_t* cut, int len) { IsFatFDTRecord(cut, len); });
    for (size_t pos = 0; pos + tessaroo::DIR_ENTRY_SIZE <= size; pos += tessaroo::DIR_ENTRY_SIZE)
    {
        const int withNext = IsFatEntyValid(whole.get() + pos, size - pos);
        auto lone = fuzz::ExactCopy(data + pos, size - pos, tessaroo::DIR_ENTRY_SIZE);
        FAT32_Entry e;
        memcpy(&e, lone.get(), sizeof(e));
        const int alone = IsFatEntyValid(lone.get(), tessaroo::DIR_ENTRY_SIZE);
        if (IsFatEntyValid(&e) != alone)
            fuzz::Fail("the two forms of IsFatEntyValid disagree on a lone entry");
        if ((withNext != 0 && withNext != 1) || (alone != 0 && alone != 1))
            fuzz::Fail("IsFatEntyValid gave neither 0 nor 1");
        _FILETIME t;
        Fat32GetFileCreateTime(&e, &t);
        Fat32GetFileLastAccessTime(&e, &t);
        Fat32GetFileLastChangeTime(&e, &t);
        GetShortNameCheckSum(reinterpret_cast<const char*>(lone.get()));
    }

    // MFT records of the sizes volumes use, and the input's own length.
    ForEachCut(data, size, {size, 512, 1024, 4096},
               [](const uint8_t* rec, int n) { IsNtfsFileRecord(rec, n); });
    return 0;
}
