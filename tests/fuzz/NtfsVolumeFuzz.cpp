// libFuzzer target: the fast NTFS engine over a hostile volume, driven as
// the command line drives it (FuzzVolume.h: the run and its checks), then
// the run lists of the first records as the deep engines ask for them.
//
// Input: the first bytes of an NTFS volume (boot sector, MFT, data).
#include "engines/CFileRecoveryFactory.h"
#include "engines/ntfs/CFastNtfsRecovery.h"
#include "tests/fuzz/FuzzDisk.h"
#include "tests/fuzz/FuzzVolume.h"

#include <memory>
#include <vector>

namespace
{
constexpr unsigned RUN_LIST_RECORDS = 32;

// The size the boot sector states (sectors at 0x28 times the sector size).
uint64_t StatedVolumeBytes(const uint8_t* data)
{
    uint32_t bps = uint32_t(data[11]) | uint32_t(data[12]) << 8;
    if (bps == 0)
        bps = 512;
    if (bps > 4096)
        return 0;
    uint64_t total = 0;
    for (int i = 7; i >= 0; --i)
        total = (total << 8) | data[0x28 + i];
    return total > fuzz::DEVICE_LIMIT / bps ? fuzz::DEVICE_LIMIT : total * bps;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 512)
        return 0;
    fuzz::VolumeRun run(data, size, StatedVolumeBytes(data));
    std::unique_ptr<IFileRecoveryParse> engine(
        CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(0, 0, run.Sectors(), L'C',
                                                                        RECOVERY_TYPE_FAST));
    CFastNtfsRecovery* ntfs = dynamic_cast<CFastNtfsRecovery*>(engine.get());
    if (!ntfs)
        return 0;
    fuzz::DriveVolume(*engine, run.Sectors());
    std::vector<unsigned char> buf(tessaroo::PREVIEW_BUFFER_SIZE);
    for (unsigned r = 0; r < RUN_LIST_RECORDS; ++r)
    {
        std::vector<__RUNLIST__> runs;
        const unsigned long long sector = ntfs->GetFileRecordIndexSectorOffset(r);
        ntfs->GetRunListInfo(sector, 0x80, runs);
        ntfs->GetRunListInfo(sector, 0xA0, runs);
        unsigned long long bytes = 0;
        ntfs->GetBitMapRealBytesSize(sector, bytes);
        unsigned length = 0;
        ntfs->GetAttr0x80Data(sector, buf.data(), tessaroo::PREVIEW_BUFFER_SIZE, length);
        if (length > unsigned(tessaroo::PREVIEW_BUFFER_SIZE))
            fuzz::Fail("resident data longer than its buffer");
    }
    return 0;
}
