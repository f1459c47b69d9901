// libFuzzer target: the fast NTFS engine over a hostile volume, driven as
// the command line drives it (FuzzVolume.h: the run and its checks), then
// the run lists of the first records as the deep engines ask for them.
//
// Input: the first bytes of an NTFS volume (boot sector, MFT, data).
#include "core/ByteReader.h"
#include "engines/ntfs/CFastNtfsRecovery.h"
#include "tests/fuzz/FuzzDisk.h"
#include "tests/fuzz/FuzzVolume.h"

#include <vector>

namespace
{
constexpr unsigned RUN_LIST_RECORDS = 32;

// The size the boot sector states (sectors at 0x28 times the sector size).
uint64_t StatedVolumeBytes(const uint8_t* boot)
{
    const tessaroo::ByteReader r(boot, 512);
    const uint64_t bps = r.U16(11) ? r.U16(11) : 512, total = r.U64(0x28);
    return bps > 4096 ? 0 : total > fuzz::DEVICE_LIMIT / bps ? fuzz::DEVICE_LIMIT : total * bps;
}

void RunLists(CFastNtfsRecovery& ntfs)
{
    std::vector<unsigned char> buf(tessaroo::PREVIEW_BUFFER_SIZE);
    for (unsigned r = 0; r < RUN_LIST_RECORDS; ++r)
    {
        std::vector<__RUNLIST__> runs;
        const unsigned long long sector = ntfs.GetFileRecordIndexSectorOffset(r);
        ntfs.GetRunListInfo(sector, 0x80, runs);
        ntfs.GetRunListInfo(sector, 0xA0, runs);
        unsigned long long bytes = 0;
        ntfs.GetBitMapRealBytesSize(sector, bytes);
        unsigned length = 0;
        ntfs.GetAttr0x80Data(sector, buf.data(), tessaroo::PREVIEW_BUFFER_SIZE, length);
        if (length > unsigned(tessaroo::PREVIEW_BUFFER_SIZE))
            fuzz::Fail("resident data longer than its buffer");
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::FuzzFastVolume<CFastNtfsRecovery>(data, size, StatedVolumeBytes, RunLists);
    return 0;
}
